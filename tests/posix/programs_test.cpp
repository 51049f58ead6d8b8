// Program start: the path as typed, no shell, no arguments, detached into a session of its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/posix/held_start.h"
#include "platform/posix/posix_services.h"
#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

using test::InChild;
using test::ReadRecord;
using test::Sandbox;
using test::WriteFile;
using test::WriteRecorder;

TEST(PosixPrograms, ThePathAsTypedIsStartedAloneDetachedFromUs) {
    Sandbox box;
    // Blanks, a dash and shell syntax in the name: none of it may split the name or reach a shell.
    const std::string program = box.make("my programs") + "/rec --flag $HOME;x";
    WriteRecorder(program);
    const std::string record = box.path() + "/record";

    // In a child of its own, as every start here: what the first start learns of the session (no bus) stays there.
    const std::string result = InChild([&] {
        setenv("SELVATRO_RECORD", record.c_str(), 1);
        const auto task = static_cast<pid_t>(PosixPrograms().start(program));
        // The intermediate child was reaped and the program is not ours: nothing is left to wait for.
        errno = 0;
        return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD ? std::to_string(task) : "a child left to reap";
    });
    const auto seen = ReadRecord(record);
    ASSERT_TRUE(seen) << result;
    EXPECT_EQ(seen->name, program);
    EXPECT_TRUE(seen->arguments.empty());
    EXPECT_EQ(std::to_string(seen->pid), result);
    EXPECT_NE(seen->session, getsid(0));
    EXPECT_EQ(seen->input, "/dev/null");
    EXPECT_EQ(seen->output, "/dev/null");
}

TEST(PosixPrograms, TheProgramOutlivesItsStarter) {
    Sandbox box;
    const std::string program = box.path() + "/late";
    WriteRecorder(program);
    const std::string record = box.path() + "/record";
    // A stand-in for Selvatro starts the program and is then killed with its whole process group, as a session's
    // end would; the program records only after that.
    const std::string started = InChild([&] {
        setpgid(0, 0);
        setenv("SELVATRO_RECORD", record.c_str(), 1);
        setenv("SELVATRO_SLEEP", "0.5", 1);
        PosixPrograms programs;
        programs.start(program);
        kill(0, SIGKILL);
        return std::string("not killed");
    });
    EXPECT_EQ(started, "[child ended abnormally]");
    EXPECT_TRUE(ReadRecord(record));
}

TEST(PosixPrograms, NeitherOurSignalSettingsNorOurDescriptorsArePassedOn) {
    // Started at once, and made ahead of its start and held until it (where a session bus is named, even one that
    // is not there).
    for (const bool announced : {false, true}) {
        SCOPED_TRACE(announced ? "announced" : "unannounced");
        Sandbox box;
        const std::string program = box.path() + "/rec";
        WriteRecorder(program);
        const std::string record = box.path() + "/record";
        const std::string result = InChild([&] {
            setenv("SELVATRO_RECORD", record.c_str(), 1);
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + box.path() + "/no bus").c_str(), 1);
            signal(SIGTERM, SIG_IGN);
            signal(SIGPIPE, SIG_IGN);
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, SIGUSR1);
            sigprocmask(SIG_BLOCK, &blocked, nullptr);
            // A descriptor some library opened without close-on-exec.
            dup2(STDERR_FILENO, 50);
            setenv("SELVATRO_PROBE_FD", "50", 1);
            PosixPrograms programs(SELVATRO_HOLDER);
            if (announced) {
                programs.prepare(program);
            }
            const auto task = static_cast<pid_t>(programs.start(program));
            // Nothing left to reap: the program is not ours.
            errno = 0;
            if (waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) {
                return std::string("a child left to reap");
            }
            return std::to_string(task);
        });
        const auto seen = ReadRecord(record);
        ASSERT_TRUE(seen) << result;
        EXPECT_EQ(std::to_string(seen->pid), result);
        EXPECT_NE(seen->session, getsid(0));
        EXPECT_EQ(seen->input, "/dev/null");
        EXPECT_EQ(seen->blockedSignals, "0000000000000000");
        const unsigned long ignored = std::stoul(seen->ignoredSignals, nullptr, 16);
        EXPECT_EQ(ignored & (1ul << (SIGTERM - 1)), 0u);
        EXPECT_EQ(ignored & (1ul << (SIGPIPE - 1)), 0u);
        EXPECT_EQ(seen->probe, "closed");
    }
}

TEST(PosixPrograms, WhatCannotBeExecutedIsAStartFailure) {
    Sandbox box;
    const std::string p = box.path();
    const std::string marker = p + "/marker";
    // Without "#!" and without an ELF header the kernel refuses the file; a shell would have run it as a script.
    WriteFile(p + "/script without hashbang", "touch '" + marker + "'\n", 0755);
    WriteFile(p + "/not executable", "#!/bin/sh\ntouch '" + marker + "'\n", 0644);
    box.make("a folder");
    struct Case {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {
        {p + "/script without hashbang", "Exec format error"},
        {p + "/not executable", "Permission denied"},
        {p + "/a folder", "Permission denied"},
        {p + "/missing", "No such file or directory"},
        {"", "No such file or directory"},
    };
    PosixPrograms programs;
    for (const auto& c : cases) {
        try {
            programs.start(c.path);
            ADD_FAILURE() << "started: " << c.path;
        } catch (const StartFailed& error) {
            EXPECT_EQ(std::string(error.what()), c.path + ": " + c.reason);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(marker));
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(PosixPrograms, TheHolderIsFoundBesideTheProgramOrWhereItIsInstalled) {
    Sandbox box;
    const std::string bin = box.make("usr/bin");
    EXPECT_EQ(FindHolder(bin), "");
    const std::string installed = bin + "/" SELVATRO_HOLDER_FROM_BINDIR "/selvatro-hold";
    std::filesystem::create_directories(std::filesystem::path(installed).parent_path());
    WriteFile(installed, "", 0755);
    EXPECT_EQ(FindHolder(bin), installed);
    // One beside the program (a build folder, a copy with its holder) comes first, once it may be run.
    const std::string beside = bin + "/selvatro-hold";
    WriteFile(beside, "", 0644);
    EXPECT_EQ(FindHolder(bin), installed);
    chmod(beside.c_str(), 0755);
    EXPECT_EQ(FindHolder(bin), beside);
}

// A Selvatro that runs on through an upgrade calls the new holder: one that does not know the caller's protocol
// runs nothing and says nothing, so that the caller starts the program itself, once.
TEST(PosixPrograms, TheHolderRunsNothingForAnotherProtocol) {
    struct Case {
        const char* protocol;
        bool runs;
    };
    for (const Case c : {Case{held::kProtocol, true}, Case{"0", false}, Case{"", false}, Case{"12", false}}) {
        SCOPED_TRACE(std::string("protocol \"") + c.protocol + "\"");
        Sandbox box;
        const std::string marker = box.path() + "/ran";
        std::array<int, 2> release{};
        std::array<int, 2> report{};
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, release.data()), 0);
        ASSERT_EQ(pipe(report.data()), 0);
        ASSERT_EQ(write(release[0], "", 1), 1);
        const pid_t holder = fork();
        if (holder == 0) {
            dup2(release[1], held::kReleaseFd);
            dup2(report[1], held::kReportFd);
            execl(SELVATRO_HOLDER, "selvatro-hold", c.protocol, "5000", "", "/bin/sh", "-c", "echo >\"$0\"",
                  marker.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (const int fd : {release[0], release[1], report[1]}) {
            close(fd);
        }
        int status = 0;
        ASSERT_EQ(waitpid(holder, &status, 0), holder);
        held::Report said{};
        const bool told = read(report[0], &said, sizeof said) == static_cast<ssize_t>(sizeof said);
        close(report[0]);
        EXPECT_EQ(std::filesystem::exists(marker), c.runs);
        EXPECT_EQ(told, c.runs);  // Released, before the exec
        if (!c.runs) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
        }
    }
}

TEST(PosixPrograms, StartsEvenWithTheStandardDescriptorsClosed) {
    // A program started at logon may have no standard input or output at all: the report pipe and a held program's
    // release channel then get low numbers, and must not be lost under /dev/null or under each other.
    for (const bool announced : {false, true}) {
        SCOPED_TRACE(announced ? "announced" : "unannounced");
        Sandbox box;
        const std::string program = box.path() + "/rec";
        WriteRecorder(program);
        const std::string record = box.path() + "/record";
        const std::string result = InChild([&] {
            setenv("SELVATRO_RECORD", record.c_str(), 1);
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + box.path() + "/no bus").c_str(), 1);
            close(STDIN_FILENO);
            close(STDOUT_FILENO);
            PosixPrograms programs(SELVATRO_HOLDER);
            try {
                if (announced) {
                    programs.prepare(program);
                }
                programs.start(program);
            } catch (const StartFailed& error) {
                return std::string(error.what());
            }
            try {
                if (announced) {
                    programs.prepare(box.path() + "/missing");
                }
                programs.start(box.path() + "/missing");
            } catch (const StartFailed&) {
                return std::string("ok");
            }
            return std::string("a missing program was reported as started");
        });
        EXPECT_EQ(result, "ok");
        const auto seen = ReadRecord(record);
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->input, "/dev/null");
    }
}

}  // namespace
}  // namespace selvatro::platform::posix
