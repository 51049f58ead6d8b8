#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/errors.h"
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

// What the children tell the parent through the report pipe, one fixed-size record each. Records are far below
// PIPE_BUF, so each arrives whole even when both children write.
enum class ReportKind : int { ProgramId = 1, Failure = 2, FolderFailure = 3 };
struct Report {
    ReportKind kind;
    int value;
};

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
};

constexpr std::size_t kStackSize = 128 * 1024;

// Only async-signal-safe calls from here on, and nothing that allocates: the parent may have other threads (the
// toolkit's), and these children share its memory.
SELVATRO_CHILD_CODE void Tell(int fd, ReportKind kind, int value) {
    const Report report{kind, value};
    while (write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

SELVATRO_CHILD_CODE int RunProgram(void* argument) {
    const auto* launch = static_cast<const Launch*>(argument);
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull < 0 || dup2(devNull, STDIN_FILENO) < 0 || dup2(devNull, STDOUT_FILENO) < 0 ||
        dup2(devNull, STDERR_FILENO) < 0) {
        Tell(launch->reportFd, ReportKind::Failure, errno);
        _exit(127);
    }
    if (devNull > STDERR_FILENO) {
        close(devNull);
    }
    // Ignored signals and the blocked mask survive exec: the program must not inherit the toolkit's choices
    // (an ignored SIGPIPE or SIGTERM would change how it behaves and ends). The handlers go back to their
    // defaults while every signal is still blocked, so that none of ours ever runs in this child.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, &byDefault, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP and unused numbers
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Descriptors opened without close-on-exec (by us or a library) stay ours; the report pipe is already marked.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (launch->folder != nullptr && chdir(launch->folder) != 0) {
        Tell(launch->reportFd, ReportKind::FolderFailure, errno);
        _exit(127);
    }
    execv(launch->program, launch->argv);
    Tell(launch->reportFd, ReportKind::Failure, errno);
    _exit(127);
}

// The session leader in between: it ends as soon as the program has exec'd, so that the program becomes a child
// of init, leaves no zombie behind and can never take a controlling terminal.
SELVATRO_CHILD_CODE int RunIntermediate(void* argument) {
    const auto* launch = static_cast<const Launch*>(argument);
    if (setsid() < 0) {
        Tell(launch->reportFd, ReportKind::Failure, errno);
        _exit(1);
    }
    const pid_t program =
        clone(RunProgram, launch->programStack, CLONE_VM | CLONE_VFORK | SIGCHLD, const_cast<Launch*>(launch));
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

}  // namespace

pid_t SpawnDetached(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder) {
    if (program.find('\0') != std::string::npos || folder.find('\0') != std::string::npos) {
        throw StartFailed(program + ": " + ErrnoText(ENOENT));
    }
    // Everything the children use is prepared before they exist.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    std::array<int, 2> fds{};
    if (pipe2(fds.data(), O_CLOEXEC) != 0) {
        throw StartFailed(program + ": " + ErrnoText(errno));
    }
    fds[0] = AboveStandardDescriptors(fds[0]);
    fds[1] = AboveStandardDescriptors(fds[1]);
    const auto closePipe = [&fds] {
        for (const int fd : fds) {
            if (fd >= 0) {
                close(fd);
            }
        }
    };
    if (fds[0] < 0 || fds[1] < 0) {
        const int error = errno;
        closePipe();
        throw StartFailed(program + ": " + ErrnoText(error));
    }
    void* stacks =
        mmap(nullptr, 2 * kStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stacks == MAP_FAILED) {
        const int error = errno;
        closePipe();
        throw StartFailed(program + ": " + ErrnoText(error));
    }
    char* const base = static_cast<char*>(stacks);
    Launch launch;
    launch.program = program.c_str();
    launch.argv = argv.data();
    launch.folder = folder.empty() ? nullptr : folder.c_str();
    launch.programStack = base + kStackSize;
    launch.reportFd = fds[1];

    // No handler of ours may run in a child that shares our memory: every signal stays blocked until the program's
    // child has put the handlers back to their defaults.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t child = clone(RunIntermediate, base + 2 * kStackSize, CLONE_VM | CLONE_VFORK | SIGCHLD, &launch);
    const int cloneError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        munmap(stacks, 2 * kStackSize);
        throw StartFailed(program + ": " + ErrnoText(cloneError));
    }

    // The pipe reaches end of file once the intermediate child has ended and the program has either exec'd
    // (close-on-exec) or ended after a failed exec.
    pid_t programId = -1;
    int failure = 0;
    bool inFolder = false;  // the failure was the working folder's
    Report report{};
    std::size_t got = 0;
    for (;;) {
        const ssize_t n = read(fds[0], reinterpret_cast<char*>(&report) + got, sizeof report - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
        if (got == sizeof report) {
            got = 0;
            if (report.kind == ReportKind::ProgramId) {
                programId = report.value;
            } else if (failure == 0) {
                failure = report.value;
                inFolder = report.kind == ReportKind::FolderFailure;
            }
        }
    }
    close(fds[0]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    munmap(stacks, 2 * kStackSize);
    if (failure != 0) {
        throw StartFailed(program + ": " + (inFolder ? "its folder " + folder + ": " : std::string()) +
                          ErrnoText(failure));
    }
    if (programId <= 0) {
        throw StartFailed(program + ": the program could not be started");
    }
    return programId;
}

}  // namespace selvatro::platform::posix
