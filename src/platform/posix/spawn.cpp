#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix/held_start.h"
#include "platform/posix/posix_internal.h"

// The two children run on stacks of our own making and never return; the sanitizers' bookkeeping of stack frames
// does not follow them there, and has nothing to check in a few system calls.
#if defined(__clang__) || defined(__GNUC__)
#define SELVATRO_CHILD_CODE __attribute__((no_sanitize("address", "undefined")))
#else
#define SELVATRO_CHILD_CODE
#endif

namespace selvatro::platform::posix {

namespace {

using held::Report;
using held::ReportKind;

// What the children are given. They are made with clone(CLONE_VM | CLONE_VFORK): each runs in our memory, on a
// stack of its own, while the one that made it waits until it has exec'd or ended. fork() would copy the page
// tables of a toolkit process twice for every program started, which costs milliseconds of CPU and delays the
// start by as much on a busy machine; this copies nothing. They report through the pipe all the same, not through
// this memory, so that the protocol also holds where clone falls back to a copy (under valgrind, for one).
struct Launch {
    const char* program = nullptr;
    char* const* argv = nullptr;
    const char* folder = nullptr;  // null: ours
    char* programStack = nullptr;  // the top of the grandchild's stack
    int reportFd = -1;
    int releaseFd = -1;  // a held program's: the holder's end of its release channel
};

constexpr std::size_t kStackSize = 128 * 1024;

// Only async-signal-safe calls from here on, and nothing that allocates: the parent may have other threads (the
// toolkit's), and these children share its memory.
SELVATRO_CHILD_CODE void Tell(int fd, ReportKind kind, int value) {
    const Report report{kind, value};
    while (write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

// Ignored signals and the blocked mask survive exec: the program must not inherit the toolkit's choices (an ignored
// SIGPIPE or SIGTERM would change how it behaves and ends). The handlers go back to their defaults while every
// signal is still blocked, so that none of ours ever runs in this child.
SELVATRO_CHILD_CODE void DefaultSignals() {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, &byDefault, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP and unused numbers
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Standard input, output and error on /dev/null, the folder entered, and the exec; returns only by ending. The
// descriptors from `firstClosed` on are not passed on; failures are told on `reportFd`.
SELVATRO_CHILD_CODE void ExecProgram(const Launch* launch, int reportFd, unsigned firstClosed) {
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull < 0 || dup2(devNull, STDIN_FILENO) < 0 || dup2(devNull, STDOUT_FILENO) < 0 ||
        dup2(devNull, STDERR_FILENO) < 0) {
        Tell(reportFd, ReportKind::Failure, errno);
        _exit(127);
    }
    if (devNull > STDERR_FILENO) {
        close(devNull);
    }
    // Descriptors opened without close-on-exec (by us or a library) stay ours; the report pipe is already marked.
    close_range(firstClosed, ~0U, CLOSE_RANGE_CLOEXEC);
    if (launch->folder != nullptr && chdir(launch->folder) != 0) {
        Tell(reportFd, ReportKind::FolderFailure, errno);
        _exit(127);
    }
    execv(launch->program, launch->argv);
    Tell(reportFd, ReportKind::Failure, errno);
    _exit(127);
}

SELVATRO_CHILD_CODE int RunProgram(void* argument) {
    const auto* launch = static_cast<const Launch*>(argument);
    DefaultSignals();
    ExecProgram(launch, launch->reportFd, STDERR_FILENO + 1);
    return 127;
}

// A held program's process becomes the holder, with its release channel and the report pipe where the holder
// expects them. Copies above both places are made first, since either channel may sit on the other's place.
SELVATRO_CHILD_CODE int RunHolder(void* argument) {
    const auto* launch = static_cast<const Launch*>(argument);
    DefaultSignals();
    const int report = fcntl(launch->reportFd, F_DUPFD_CLOEXEC, held::kReportFd + 1);
    const int release = fcntl(launch->releaseFd, F_DUPFD_CLOEXEC, held::kReportFd + 1);
    if (report < 0 || release < 0 || dup2(release, held::kReleaseFd) < 0 || dup2(report, held::kReportFd) < 0) {
        Tell(report < 0 ? launch->reportFd : report, ReportKind::Failure, errno);
        _exit(127);
    }
    ExecProgram(launch, held::kReportFd, held::kReportFd + 1);
    return 127;
}

// The session leader in between: it ends as soon as the program has exec'd, so that the program becomes a child
// of init, leaves no zombie behind and can never take a controlling terminal.
SELVATRO_CHILD_CODE int RunIntermediate(void* argument) {
    const auto* launch = static_cast<const Launch*>(argument);
    if (setsid() < 0) {
        Tell(launch->reportFd, ReportKind::Failure, errno);
        _exit(1);
    }
    const pid_t program = clone(launch->releaseFd < 0 ? RunProgram : RunHolder, launch->programStack,
                                CLONE_VM | CLONE_VFORK | SIGCHLD, const_cast<Launch*>(launch));
    if (program < 0) {
        Tell(launch->reportFd, ReportKind::Failure, errno);
        _exit(1);
    }
    Tell(launch->reportFd, ReportKind::ProgramId, program);
    _exit(0);
}

// The pipe's ends must not be 0, 1 or 2: a process started with those closed would get them from pipe(), and the
// program's child would then put /dev/null over its own report pipe.
int AboveStandardDescriptors(int fd) {
    if (fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

// The next record of a report pipe; nothing at its end of file.
std::optional<Report> ReadReport(int fd) {
    Report report{};
    std::size_t got = 0;
    while (got < sizeof report) {
        const ssize_t n = read(fd, reinterpret_cast<char*>(&report) + got, sizeof report - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        got += static_cast<std::size_t>(n);
    }
    return report;
}

// What the parent keeps of a start while its children run: the program's arguments, the report pipe and the
// children's stacks, each given back by the destructor.
class Start {
public:
    Start(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder)
        : program_(program), folder_(folder) {
        // A NUL would cut a name or an argument short, into another file or another argument.
        const auto cutShort = [](const std::string& text) { return text.find('\0') != std::string::npos; };
        if (cutShort(program) || cutShort(folder) || std::any_of(arguments.begin(), arguments.end(), cutShort)) {
            throw StartFailed(program + ": " + ErrnoText(ENOENT));
        }
        // Everything the children use is prepared before they exist.
        argv_.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) {
            argv_.push_back(const_cast<char*>(argument.c_str()));
        }
        argv_.push_back(nullptr);
        if (pipe2(report_.data(), O_CLOEXEC) != 0) {
            fail(errno);
        }
        report_[0] = AboveStandardDescriptors(report_[0]);
        report_[1] = AboveStandardDescriptors(report_[1]);
        if (report_[0] < 0 || report_[1] < 0) {
            fail(errno);
        }
        void* stacks =
            mmap(nullptr, 2 * kStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (stacks == MAP_FAILED) {
            fail(errno);
        }
        stacks_ = static_cast<char*>(stacks);
        launch_.program = program.c_str();
        launch_.argv = argv_.data();
        launch_.folder = folder.empty() ? nullptr : folder.c_str();
        launch_.programStack = stacks_ + kStackSize;
        launch_.reportFd = report_[1];
    }
    ~Start() {
        for (const int fd : report_) {
            if (fd >= 0) {
                close(fd);
            }
        }
        if (stacks_ != nullptr) {
            munmap(stacks_, 2 * kStackSize);
        }
    }
    Start(const Start&) = delete;
    Start& operator=(const Start&) = delete;

    Launch& launch() { return launch_; }

    // Runs `intermediate` on a stack of its own in our memory and returns once it has ended; then only the
    // program's child may still hold the report pipe's writing end.
    void runIntermediate(int (*intermediate)(void*)) {
        // No handler of ours may run in a child that shares our memory: every signal stays blocked until the
        // program's child has put the handlers back to their defaults.
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        const pid_t child = clone(intermediate, stacks_ + 2 * kStackSize, CLONE_VM | CLONE_VFORK | SIGCHLD, &launch_);
        const int cloneError = errno;
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        close(report_[1]);
        report_[1] = -1;
        if (child < 0) {
            fail(cloneError);
        }
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }

    int report() const { return report_[0]; }

    // The report pipe's reading end, for a held program's release.
    int takeReport() {
        const int fd = report_[0];
        report_[0] = -1;
        return fd;
    }

    [[noreturn]] void fail(int error) const { throw StartFailed(program_ + ": " + ErrnoText(error)); }

private:
    std::string program_;
    std::string folder_;
    std::vector<char*> argv_;
    std::array<int, 2> report_{-1, -1};
    char* stacks_ = nullptr;
    Launch launch_;
};

// Reads the report pipe `fd` to its end of file, which comes once the program has either exec'd (close-on-exec) or
// ended after a failed exec: the exec succeeded when no failure came. Notes the program's id and whether a held
// program was released at all.
struct Outcome {
    pid_t programId = -1;
    bool released = false;
};
Outcome AwaitExec(int fd, const std::string& program, const std::string& folder) {
    Outcome outcome;
    int failure = 0;
    bool inFolder = false;  // the failure was the working folder's
    while (const std::optional<Report> report = ReadReport(fd)) {
        if (report->kind == ReportKind::ProgramId) {
            outcome.programId = report->value;
        } else if (report->kind == ReportKind::Released) {
            outcome.released = true;
        } else if (failure == 0) {
            failure = report->value;
            inFolder = report->kind == ReportKind::FolderFailure;
        }
    }
    if (failure != 0) {
        throw StartFailed(program + ": " + (inFolder ? "its folder " + folder + ": " : std::string()) +
                          ErrnoText(failure));
    }
    return outcome;
}

}  // namespace

pid_t SpawnDetached(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder) {
    Start start(program, arguments, folder);
    start.runIntermediate(RunIntermediate);
    const pid_t programId = AwaitExec(start.report(), program, folder).programId;
    if (programId <= 0) {
        throw StartFailed(program + ": the program could not be started");
    }
    return programId;
}

std::optional<HeldProgram> SpawnHeld(const std::string& holder, const std::string& program,
                                     const std::vector<std::string>& arguments, const std::string& folder, int holdMs) {
    if (holder.empty()) {
        return std::nullopt;
    }
    try {
        // The program and its folder travel as the holder's arguments, which the start refuses with a NUL inside.
        std::vector<std::string> holderArguments{held::kProtocol, std::to_string(holdMs), folder, program};
        holderArguments.insert(holderArguments.end(), arguments.begin(), arguments.end());
        Start start(holder, holderArguments, {});
        std::array<int, 2> channel{};
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel.data()) != 0) {
            return std::nullopt;
        }
        channel[0] = AboveStandardDescriptors(channel[0]);
        channel[1] = AboveStandardDescriptors(channel[1]);
        if (channel[0] < 0 || channel[1] < 0) {
            for (const int fd : channel) {
                if (fd >= 0) {
                    close(fd);
                }
            }
            return std::nullopt;
        }
        start.launch().releaseFd = channel[1];
        try {
            start.runIntermediate(RunIntermediate);
        } catch (const StartFailed&) {
            close(channel[0]);
            close(channel[1]);
            return std::nullopt;
        }
        close(channel[1]);
        // The intermediate child has ended, so its record is there, after the holder's failure to exec if it
        // failed; the holder writes nothing until it is released.
        const std::optional<Report> report = ReadReport(start.report());
        if (!report || report->kind != ReportKind::ProgramId || report->value <= 0) {
            close(channel[0]);
            return std::nullopt;
        }
        HeldProgram held;
        held.pid = report->value;
        held.release = channel[0];
        held.report = start.takeReport();
        return held;
    } catch (const StartFailed&) {
        return std::nullopt;
    }
}

pid_t ReleaseHeld(HeldProgram& held, const std::string& program, const std::string& folder) {
    const char go = 1;
    // Not write(): a held program that has already ended would raise SIGPIPE in us.
    const bool sent = send(held.release, &go, 1, MSG_NOSIGNAL) == 1;
    close(held.release);
    held.release = -1;
    const int report = held.report;
    held.report = -1;
    bool released = false;
    try {
        released = sent && AwaitExec(report, program, folder).released;
    } catch (...) {
        close(report);
        throw;
    }
    close(report);
    return released ? held.pid : -1;
}

void DropHeld(HeldProgram& held) {
    // The held program sees the end of file of its release channel and ends without exec.
    for (int* fd : {&held.release, &held.report}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

}  // namespace selvatro::platform::posix
