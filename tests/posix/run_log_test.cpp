// The log of the runs on the real file system, and the record's line on standard error.

#include "platform/posix/run_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
using test::InChild;
using test::ModeOf;
using test::ReadFile;
using test::Sandbox;
using test::WriteFile;

// The lines of a log, each without its date and time (20 characters).
std::vector<std::string> Said(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path).value_or(""));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.substr(std::min<std::size_t>(20, line.size())));
    }
    return lines;
}

// One logon: "line <first>" to "line <last>" through one RunLog.
void ALogon(const std::string& folder, int first, int last) {
    RunLog log(folder);
    for (int n = first; n <= last; ++n) {
        log.append("line " + std::to_string(n));
    }
}

TEST(RunLog, EachLineIsAppendedDatedInAFolderAndAFileOfTheUsersOwn) {
    Sandbox box;
    RunLog log(box.path() + "/state/selvatro");
    const auto now = [] {
        const std::time_t t = std::time(nullptr);
        std::tm local{};
        localtime_r(&t, &local);
        return LogLine(
            {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec}, "");
    };
    const std::string before = now();
    log.append("row 1 started: \"/opt/odd\nname\", process 12, 0.003 s late");
    const std::string after = now();
    const std::string text = ReadFile(log.path()).value_or("");
    const std::string prefix = text.substr(0, 20) + "\n";
    EXPECT_TRUE(before <= prefix && prefix <= after) << text << " not within " << before << " .. " << after;
    EXPECT_EQ(text.substr(std::min<std::size_t>(20, text.size())),
              "row 1 started: \"/opt/odd name\", process 12, 0.003 s late\n");
    EXPECT_EQ(ModeOf(box.path() + "/state"), 0700u);
    EXPECT_EQ(ModeOf(box.path() + "/state/selvatro"), 0700u);
    EXPECT_EQ(ModeOf(log.path()), 0600u);
}

TEST(RunLog, TheStateHomeIsAnAbsoluteXdgStateHomeElseTheDefault) {
    const char* const ignored[] = {nullptr, "", "state"};  // unset, empty, relative
    for (const char* value : ignored) {
        EXPECT_EQ(InChild([&] {
                      setenv("HOME", "/home/anne", 1);
                      value != nullptr ? setenv("XDG_STATE_HOME", value, 1) : unsetenv("XDG_STATE_HOME");
                      return StateHome();
                  }),
                  "/home/anne/.local/state");
    }
    EXPECT_EQ(InChild([] {
                  setenv("XDG_STATE_HOME", "/srv/state", 1);
                  return StateHome();
              }),
              "/srv/state");
}

// A run trims the log with its first line, never in the middle; a log that something else filled with megabytes is
// read only at its end.
TEST(RunLog, ARunFirstTrimsALogGrownPastItsBoundToItsNewestLines) {
    Sandbox box;
    const std::string folder = box.path() + "/selvatro";
    const std::string path = folder + "/selvatro.log";
    ALogon(folder, 1, 401);
    ALogon(folder, 402, 403);
    std::vector<std::string> expected;
    for (int n = 202; n <= 403; ++n) {
        expected.push_back("line " + std::to_string(n));
    }
    EXPECT_EQ(Said(path), expected);
    EXPECT_EQ(test::FolderEntries(folder), std::vector<std::string>{"selvatro.log"}) << "no temporary left";
    EXPECT_EQ(ModeOf(path), 0600u);

    // Two megabytes without a line feed, then ten lines: only those are kept, with the new run's.
    WriteFile(path, std::string(2 << 20, 'x') + "\n" + std::string(10, '\n'), 0600);
    ALogon(folder, 1, 1);
    EXPECT_EQ(Said(path).size(), 11u);
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
                ALogon(folder, 1, 2);
                return std::string("returned");
            },
            c.unprivileged);
        EXPECT_EQ(result, "returned") << c.what;
        struct stat info {};
        EXPECT_FALSE(lstat(log.c_str(), &info) == 0 && S_ISREG(info.st_mode)) << c.what;
        EXPECT_EQ(ReadFile(outside), "kept") << c.what;
    }

    RunLog log(box.path() + "/case1/selvatro");
    log.append("lost");
    fs::remove(box.path() + "/case1");
    log.append("written");
    EXPECT_EQ(Said(log.path()), std::vector<std::string>{"written"});
}

// Standard error may be a pipe whose reader has gone: the line is lost, the program is not.
TEST(StandardError, ABrokenPipeLosesTheLineAndNotTheProgram) {
    EXPECT_EQ(InChild([] {
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
              }),
              "alive");
}

}  // namespace
}  // namespace selvatro::platform::posix
