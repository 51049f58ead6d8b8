// A program for the launcher under test to start: the first thing it does is read CLOCK_MONOTONIC, then it
// appends "<its own name> <nanoseconds>" to launches.log in its own folder, in one write, and ends. Built
// statically, so that the time from exec to the reading is a few hundred microseconds and the same for every
// launcher that starts it. It is started without arguments, by its full path, as a launcher starts a program.

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int /*argc*/, char** argv) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;

    const char* self = argv[0] != nullptr ? argv[0] : "";
    const char* slash = std::strrchr(self, '/');
    char log[4096];
    if (slash == nullptr) {
        std::snprintf(log, sizeof log, "launches.log");
    } else {
        std::snprintf(log, sizeof log, "%.*s/launches.log", static_cast<int>(slash - self), self);
    }
    char line[512];
    const int length = std::snprintf(line, sizeof line, "%s %lld\n", slash == nullptr ? self : slash + 1, ns);
    const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 || length <= 0 || write(fd, line, static_cast<size_t>(length)) != length) {
        return 1;
    }
    close(fd);
    return 0;
}
