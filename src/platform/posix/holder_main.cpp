// selvatro-hold: the process of a program whose start is announced ahead. Selvatro starts it a second before the
// program is due, has the user's systemd manager move it into the program's scope, and at the due instant lets it
// exec the program, in the same process. Being small, it costs the start at its instant one light exec, where a
// copy of Selvatro held instead would first have to tear down a toolkit's address space.
//
// Started by Selvatro only (held_start.h says how); standard input, output and error are /dev/null.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/deadline.h"
#include "platform/posix/held_start.h"

namespace {

using selvatro::platform::posix::MonotonicMs;
using selvatro::platform::posix::WaitFor;
using selvatro::platform::posix::held::kHolderArguments;
using selvatro::platform::posix::held::kProtocol;
using selvatro::platform::posix::held::kReleaseFd;
using selvatro::platform::posix::held::kReportFd;
using selvatro::platform::posix::held::Report;
using selvatro::platform::posix::held::ReportKind;

void Tell(ReportKind kind, int value) {
    const Report report{kind, value};
    while (write(kReportFd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

// Whether the release came within `holdMs`: one byte on the channel. Its end of file means that nobody will ever
// release it (Selvatro let go of it, or ended).
bool Released(long long holdMs) {
    if (!WaitFor(kReleaseFd, POLLIN, MonotonicMs() + holdMs)) {
        return false;
    }
    char go = 0;
    ssize_t got = 0;
    while ((got = read(kReleaseFd, &go, 1)) < 0 && errno == EINTR) {
    }
    return got == 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Without its two channels it was not started by Selvatro: nothing to hold for anybody.
    if (argc < kHolderArguments || fcntl(kReleaseFd, F_GETFD) < 0 || fcntl(kReportFd, F_SETFD, FD_CLOEXEC) != 0) {
        std::fputs("selvatro-hold: a helper of selvatro, not to be run by itself\n", stderr);
        return 2;
    }
    // Called by another version of Selvatro, it cannot know what is asked: the caller starts the program itself.
    if (std::strcmp(argv[1], kProtocol) != 0) {
        return 2;
    }
    char* end = nullptr;
    const long long holdMs = std::strtoll(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || holdMs < 0 || holdMs > 60 * 60 * 1000) {
        return 2;
    }
    if (!Released(holdMs)) {
        return 0;
    }
    close(kReleaseFd);
    // From here on, the end of the report pipe means the exec succeeded.
    Tell(ReportKind::Released, 0);
    const char* folder = argv[3];
    if (*folder != '\0' && chdir(folder) != 0) {
        Tell(ReportKind::FolderFailure, errno);
        return 127;
    }
    char** program = argv + kHolderArguments - 1;
    execv(program[0], program);
    Tell(ReportKind::Failure, errno);
    return 127;
}
