// The log of the runs on the real file system, and the record's line on standard error.

#include "platform/posix/run_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/run_log_rules.h"
#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

namespace fs = std::filesystem;

using test::FolderEntries;
using test::InChild;
using test::ModeOf;
using test::ReadFile;
using test::Sandbox;
using test::WriteFile;

std::vector<std::string> LinesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path).value_or(""));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The prefix that the log gives a line written now, its blank after it.
std::string PrefixNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string line =
        LogLine({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec}, "");
    return line.substr(0, line.size() - 1);
}

// One logon: appends "line <first>" to "line <last>" through one RunLog.
void ALogon(const std::string& folder, int first, int last) {
    RunLog log(folder);
    for (int n = first; n <= last; ++n) {
        log.append("line " + std::to_string(n));
    }
}

TEST(RunLog, EachLineIsAppendedDatedInAFolderAndAFileOfTheUsersOwn) {
    Sandbox box;
    const std::string folder = box.path() + "/state/selvatro";
    RunLog log(folder);
    EXPECT_EQ(log.path(), folder + "/selvatro.log");
    EXPECT_EQ(FolderEntries(box.path()), std::vector<std::string>{}) << "nothing is made before the first line";
    const std::string before = PrefixNow();
    log.append("the run began with the list /home/anne/bin/selvatro.cfg");
    log.append("row 1 started: \"/opt/odd\nname\", process 12, 0.003 s late");
    const std::string after = PrefixNow();
    const std::vector<std::string> lines = LinesOf(log.path());
    ASSERT_EQ(lines.size(), 2u);
    const std::string said[] = {"the run began with the list /home/anne/bin/selvatro.cfg",
                                "row 1 started: \"/opt/odd name\", process 12, 0.003 s late"};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string prefix = lines[i].substr(0, before.size());
        EXPECT_TRUE(before <= prefix && prefix <= after) << lines[i] << " not within " << before << " .. " << after;
        EXPECT_EQ(lines[i].substr(before.size()), said[i]);
    }
    EXPECT_EQ(ModeOf(box.path() + "/state"), 0700u);
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(log.path()), 0600u);
}

TEST(RunLog, TheStateHomeIsAnAbsoluteXdgStateHomeElseTheDefault) {
    const struct {
        const char* value;  // null: unset
        const char* expected;
    } cases[] = {{"/srv/state", "/srv/state"},
                 {nullptr, "/home/anne/.local/state"},
                 {"", "/home/anne/.local/state"},
                 {"state", "/home/anne/.local/state"}};
    for (const auto& c : cases) {
        const std::string home = InChild([&] {
            setenv("HOME", "/home/anne", 1);
            c.value != nullptr ? setenv("XDG_STATE_HOME", c.value, 1) : unsetenv("XDG_STATE_HOME");
            return StateHome();
        });
        EXPECT_EQ(home, c.expected) << (c.value != nullptr ? c.value : "unset");
    }
}

// A run trims the log with its first line, never in the middle: a log at the bound grows by a run, one past it
// keeps its newest lines, in order, and then the new run's.
TEST(RunLog, ARunFirstTrimsALogGrownPastItsBoundToItsNewestLines) {
    Sandbox box;
    const std::string folder = box.path() + "/selvatro";
    const std::string path = folder + "/selvatro.log";
    ALogon(folder, 1, 400);
    ALogon(folder, 401, 401);
    ASSERT_EQ(LinesOf(path).size(), 401u);
    ALogon(folder, 402, 410);
    std::vector<std::string> lines = LinesOf(path);
    ASSERT_EQ(lines.size(), 209u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(20), "line " + std::to_string(202 + i));
    }
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"selvatro.log"}) << "no temporary left";
    EXPECT_EQ(ModeOf(path), 0600u);

    // A log that something else filled with megabytes is read only at its end.
    std::string filler;
    for (int n = 0; n < 100000; ++n) {
        filler.append("filler line ").append(std::to_string(n)).append("\n");
    }
    WriteFile(path, filler, 0600);
    ALogon(folder, 1, 1);
    lines = LinesOf(path);
    ASSERT_EQ(lines.size(), 201u);
    EXPECT_EQ(lines.front(), "filler line 99800");
    EXPECT_EQ(lines.back().substr(20), "line 1");
}

// Each obstacle is met at once, without a throw or a wait (a FIFO opened for writing would wait for a reader for
// good), and nothing is written through it; once it is gone, the same log writes again.
TEST(RunLog, ALogThatCannotBeWrittenIsSkippedAtOnce) {
    Sandbox box;
    const std::string outside = box.path() + "/outside";
    WriteFile(outside, "kept");
    const struct {
        const char* what;
        std::function<void(const std::string& folder, const std::string& log)> obstruct;
        bool unprivileged;
    } cases[] = {
        {"the state home is a file", [](auto& folder, auto&) { WriteFile(fs::path(folder).parent_path(), "x"); },
         false},
        {"a folder in the log's place", [](auto&, auto& log) { fs::create_directories(log); }, false},
        {"a FIFO in the log's place", [](auto&, auto& log) { mkfifo(log.c_str(), 0600); }, false},
        {"a link in the log's place", [&](auto&, auto& log) { fs::create_symlink(outside, log); }, false},
        {"a read-only folder", [](auto& folder, auto&) { chmod(folder.c_str(), 0555); }, true},
    };
    int number = 0;
    for (const auto& c : cases) {
        const std::string folder = box.path() + "/case" + std::to_string(++number) + "/selvatro";
        const std::string log = folder + "/selvatro.log";
        fs::create_directories(number == 1 ? box.path() : folder);
        c.obstruct(folder, log);
        const std::string result = InChild(
            [&] {
                alarm(30);  // a log that blocks ends the child, and the case fails
                RunLog runLog(folder);
                runLog.append("the run began with no list: /x/selvatro.cfg");
                runLog.append("the run ended with status 0");
                return std::string("returned");
            },
            c.unprivileged);
        EXPECT_EQ(result, "returned") << c.what;
        struct stat info {};
        EXPECT_FALSE(lstat(log.c_str(), &info) == 0 && S_ISREG(info.st_mode)) << c.what;
        EXPECT_EQ(ReadFile(outside), "kept") << c.what;
    }

    // The state home that was a file makes way for a folder: the next line is written.
    RunLog log(box.path() + "/case1/selvatro");
    log.append("lost");
    fs::remove(box.path() + "/case1");
    log.append("written");
    EXPECT_EQ(LinesOf(log.path()).size(), 1u);
}

// Standard error may be a pipe whose reader has gone: the line is lost, the program is not.
TEST(StandardError, ABrokenPipeLosesTheLineAndNotTheProgram) {
    const std::string result = InChild([] {
        int ends[2];
        if (pipe(ends) != 0) {
            return std::string("no pipe");
        }
        close(ends[0]);
        dup2(ends[1], STDERR_FILENO);
        WriteToStandardError("row 1 started");
        sigset_t pending;
        sigpending(&pending);
        return std::string(sigismember(&pending, SIGPIPE) == 1 ? "SIGPIPE pending" : "alive");
    });
    EXPECT_EQ(result, "alive");

    const std::string said = InChild([] {
        int ends[2];
        if (pipe(ends) != 0) {
            return std::string("no pipe");
        }
        dup2(ends[1], STDERR_FILENO);
        WriteToStandardError("the run ended with status 0");
        char bytes[64] = {};
        return std::string(bytes, static_cast<std::size_t>(std::max<ssize_t>(0, read(ends[0], bytes, sizeof bytes))));
    });
    EXPECT_EQ(said, "selvatro: the run ended with status 0\n");
}

}  // namespace
}  // namespace selvatro::platform::posix
