#include "platform/posix/single_copy.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/file_rules.h"
#include "platform/posix/deadline.h"

namespace selvatro::platform::posix {

namespace {

constexpr std::string_view kShowRequest = "show\n";
constexpr std::string_view kShownReply = "shown\n";

// The socket's address; false when the path does not fit in one.
bool AddressOf(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path || path.find('\0') != std::string::npos) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool IsPrivateFolderOfOurs(const std::string& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace

std::string RuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return runtime;
    }
    // /tmp is shared: another user may have made the name first, to share or to steal our lock.
    const std::string folder = "/tmp/selvatro-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return IsPrivateFolderOfOurs(folder) ? folder : std::string();
}

CopyLock::CopyLock(const std::string& identity) {
    const std::string folder = RuntimeFolder();
    if (folder.empty()) {
        return;
    }
    // The same folder through a symbolic link is the same list.
    std::string real = identity;
    if (char* resolved = ::realpath(identity.c_str(), nullptr)) {
        real = resolved;
        std::free(resolved);
    }
    const std::string stem = folder + "/selvatro-" + ListIdentity(real, "/");
    lockPath_ = stem + ".lock";
    socketPath_ = stem + ".socket";
}

CopyLock::~CopyLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

CopyLock::Result CopyLock::tryTake() {
    if (fd_ >= 0) {
        return Result::Taken;
    }
    if (lockPath_.empty()) {
        return Result::Unavailable;
    }
    const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return Result::Unavailable;
    }
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result == 0) {
        fd_ = fd;
        return Result::Taken;
    }
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? Result::HeldElsewhere : Result::Unavailable;
}

int ListenForLaterStarts(const std::string& path) {
    sockaddr_un address{};
    if (!AddressOf(path, address)) {
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    // A copy that was killed leaves its socket behind; the lock tells us that nobody listens there any more.
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ServeLaterStart(int connection, std::string& received, const std::function<void()>& show) {
    char buffer[16];
    for (;;) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return false;  // the rest of the line is still on its way
        }
        if (got <= 0) {
            return true;
        }
        received.append(buffer, static_cast<std::size_t>(got));
        if (received.find('\n') != std::string::npos || received.size() >= kShowRequest.size()) {
            break;
        }
    }
    if (received == kShowRequest) {
        show();
        // One short reply into an empty socket buffer: it goes at once or not at all.
        ::send(connection, kShownReply.data(), kShownReply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    return true;
}

bool AskToShow(const std::string& path, int timeoutMs) {
    sockaddr_un address{};
    if (!AddressOf(path, address)) {
        return false;
    }
    // Not blocking: a copy that hangs with its queue of connections full must not hang this start too.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const long long deadline = MonotonicMs() + timeoutMs;
    std::string reply;
    bool sent = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        sent = ::send(fd, kShowRequest.data(), kShowRequest.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(kShowRequest.size());
    }
    char buffer[16];
    while (sent && reply.find('\n') == std::string::npos && reply.size() < kShownReply.size() &&
           WaitFor(fd, POLLIN, deadline)) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        reply.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return reply == kShownReply;
}

}  // namespace selvatro::platform::posix
