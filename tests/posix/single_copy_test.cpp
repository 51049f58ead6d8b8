// A later start and the copy already running on the list: the request to show the window, as both sides make it.

#include "platform/posix/single_copy.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

using namespace std::chrono_literals;
using test::Sandbox;
using test::WriteFile;

// The running copy's side on a thread of its own: accepts one connection and serves it as the event loop would,
// each time something arrives; or one that takes the connection and never answers.
struct RunningCopy {
    enum class Manner { Serves, NeverAnswers };
    RunningCopy(const std::string& path, Manner manner) : listening(ListenForLaterStarts(path)) {
        if (listening < 0) {
            return;
        }
        server = std::thread([this, manner] {
            pollfd incoming{listening, POLLIN, 0};
            if (poll(&incoming, 1, 3000) != 1) {
                return;
            }
            const int connection = accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            std::string received;
            pollfd request{connection, POLLIN, 0};
            while (manner == Manner::Serves && poll(&request, 1, 3000) == 1 &&
                   !ServeLaterStart(connection, received, [this] { ++shown; })) {
            }
            std::this_thread::sleep_for(manner == Manner::NeverAnswers ? 1s : 0s);
            close(connection);
        });
    }
    ~RunningCopy() {
        if (server.joinable()) {
            server.join();
        }
        if (listening >= 0) {
            close(listening);
        }
    }
    int listening;
    std::atomic<int> shown{0};
    std::thread server;
};

// Sends `pieces` to the socket at `path` a little apart and says it has no more, then reads the reply to its end.
std::string Converse(const std::string& path, const std::vector<std::string>& pieces) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return "no connection";
    }
    for (const std::string& piece : pieces) {
        send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(50ms);
    }
    shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[64];
    ssize_t got = 0;
    while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        reply.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return reply;
}

TEST(LaterStarts, AskTheRunningCopyToShowItsWindow) {
    Sandbox box;
    const std::string path = box.path() + "/selvatro.socket";
    {
        // A dead copy's socket is in the way: the new first copy replaces it.
        WriteFile(path, "", 0600);
        RunningCopy copy(path, RunningCopy::Manner::Serves);
        ASSERT_GE(copy.listening, 0);
        EXPECT_TRUE(AskToShow(path, 3000));
        copy.server.join();
        EXPECT_EQ(copy.shown, 1);
    }
    {
        // Nobody listens there any more.
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(AskToShow(path, 3000));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    }
    {
        // A copy that hangs is given up on in time.
        RunningCopy copy(path, RunningCopy::Manner::NeverAnswers);
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(AskToShow(path, 300));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 900ms);
    }
    // No path that a socket address cannot hold is cut short to another one.
    const std::string tooLong = box.path() + "/" + std::string(sizeof(sockaddr_un::sun_path), 's');
    EXPECT_LT(ListenForLaterStarts(tooLong), 0);
    EXPECT_FALSE(AskToShow(tooLong, 300));
}

TEST(LaterStarts, OnlyAWholeShowRequestIsAnswered) {
    const struct {
        const char* what;
        std::vector<std::string> pieces;
        std::string reply;
        int shown;
    } cases[] = {
        {"the request in one piece", {"show\n"}, "shown\n", 1},
        {"the request in three pieces", {"sh", "o", "w\n"}, "shown\n", 1},
        {"another request", {"hide\n"}, "", 0},
        {"a request that does not end", {"show me everything\n"}, "", 0},
        {"nothing, and the connection closed", {}, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        const std::string path = box.path() + "/selvatro.socket";
        RunningCopy copy(path, RunningCopy::Manner::Serves);
        ASSERT_GE(copy.listening, 0);
        EXPECT_EQ(Converse(path, c.pieces), c.reply);
        copy.server.join();
        EXPECT_EQ(copy.shown, c.shown);
    }
}

}  // namespace
}  // namespace selvatro::platform::posix
