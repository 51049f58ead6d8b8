#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix/posix_internal.h"

namespace selvatro::platform::posix {

namespace {

// What the children tell the parent through the report pipe, one fixed-size record each. Records are far below
// PIPE_BUF, so each arrives whole even when both children write.
enum class ReportKind : int { ProgramId = 1, Failure = 2 };
struct Report {
    ReportKind kind;
    int value;
};

// Only async-signal-safe calls from here on: the parent may have other threads (the toolkit's), and a child of
// fork() holds only the thread that called it.
void Tell(int fd, ReportKind kind, int value) {
    const Report report{kind, value};
    while (write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void RunProgram(int reportFd, const char* program, char* const* argv) {
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull < 0 || dup2(devNull, STDIN_FILENO) < 0 || dup2(devNull, STDOUT_FILENO) < 0 ||
        dup2(devNull, STDERR_FILENO) < 0) {
        Tell(reportFd, ReportKind::Failure, errno);
        _exit(127);
    }
    if (devNull > STDERR_FILENO) {
        close(devNull);
    }
    // Ignored signals and the blocked mask survive exec: the program must not inherit the toolkit's choices
    // (an ignored SIGPIPE or SIGTERM would change how it behaves and ends).
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, &byDefault, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP and unused numbers
    }
    // Descriptors opened without close-on-exec (by us or a library) stay ours; the report pipe is already marked.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    execv(program, argv);
    Tell(reportFd, ReportKind::Failure, errno);
    _exit(127);
}

[[noreturn]] void RunIntermediate(int reportFd, const char* program, char* const* argv) {
    if (setsid() < 0) {
        Tell(reportFd, ReportKind::Failure, errno);
        _exit(1);
    }
    const pid_t grandchild = fork();
    if (grandchild < 0) {
        Tell(reportFd, ReportKind::Failure, errno);
        _exit(1);
    }
    if (grandchild == 0) {
        RunProgram(reportFd, program, argv);
    }
    Tell(reportFd, ReportKind::ProgramId, grandchild);
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

pid_t SpawnDetached(const std::string& program, const std::vector<std::string>& arguments) {
    if (program.find('\0') != std::string::npos) {
        throw StartFailed(program + ": " + ErrnoText(ENOENT));
    }
    // Everything the children use is prepared before fork.
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
    if (fds[0] < 0 || fds[1] < 0) {
        const int error = errno;
        for (const int fd : fds) {
            if (fd >= 0) {
                close(fd);
            }
        }
        throw StartFailed(program + ": " + ErrnoText(error));
    }

    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        throw StartFailed(program + ": " + ErrnoText(error));
    }
    if (child == 0) {
        close(fds[0]);
        RunIntermediate(fds[1], program.c_str(), argv.data());
    }
    close(fds[1]);

    // The pipe reaches end of file once the intermediate child has ended and the program has either exec'd
    // (close-on-exec) or ended after a failed exec.
    pid_t programId = -1;
    int failure = 0;
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
            }
        }
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (failure != 0) {
        throw StartFailed(program + ": " + ErrnoText(failure));
    }
    if (programId <= 0) {
        throw StartFailed(program + ": the program could not be started");
    }
    return programId;
}

}  // namespace selvatro::platform::posix
