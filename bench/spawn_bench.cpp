// The start of one program, in-process and without a display: Selvatro's own start (two children made with
// clone(CLONE_VM | CLONE_VFORK), a session of its own, stdio on /dev/null, every signal back to its default)
// beside glibc's posix_spawn with the same session and signal settings, and beside fork + exec.
//
//   spawn_bench RECORDER [RUNS] [RESIDENT_MB]
//
// RECORDER is the tests' recorder (tests/lib/recorder.cpp), built statically, in a folder of its own: the first
// thing it does is read CLOCK_MONOTONIC, which it appends to launches.log beside itself. For each start the bench
// prints, per method, the median, min and max over RUNS (default 200, interleaved) of
//   - latency: from just before the start call to the recorder's own first instruction;
//   - blocked: how long the call kept the caller (the window's thread, in Selvatro) from its events.
// With DBUS_SESSION_BUS_ADDRESS naming a bus with a user manager (or its stand-in), one more method: the start
// announced 50 ms ahead, the process made then and held by selvatro-hold, its scope asked for, and released at the
// measured start.
// Before measuring, the bench touches RESIDENT_MB (default 27, Selvatro's peak RSS) of memory, so that fork has a
// toolkit-sized address space to copy, as it would in the real program.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/posix_services.h"

extern char** environ;

namespace {

long long Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The recorder's last reading, once the log has grown past `size` bytes.
long long WaitForRecord(const std::string& log, long long size) {
    const long long deadline = Now() + 5000000000LL;
    for (;;) {
        struct stat info {};
        if (stat(log.c_str(), &info) == 0 && info.st_size > size) {
            // Each line: the recorder's name, its argument count, CLOCK_MONOTONIC in ns, CLOCK_REALTIME.
            std::ifstream in(log);
            std::string name;
            std::string arguments;
            std::string ns;
            std::string realtime;
            long long last = -1;
            while (std::getline(in, name, '\t') && std::getline(in, arguments, '\t') && std::getline(in, ns, '\t') &&
                   std::getline(in, realtime)) {
                last = std::stoll(ns);
            }
            if (last >= 0) {
                return last;
            }
        }
        if (Now() > deadline) {
            std::fprintf(stderr, "spawn_bench: the recorder did not write %s\n", log.c_str());
            std::exit(1);
        }
        usleep(200);
    }
}

long long LogSize(const std::string& log) {
    struct stat info {};
    return stat(log.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

void PosixSpawn(const std::string& path) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigfillset(&all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    }
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
}

void ForkExec(const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        std::perror("fork");
        std::exit(1);
    }
}

struct Method {
    const char* name;
    std::function<void(const std::string&)> start;
    std::function<void(const std::string&)> prepare;  // before the measured start, a pause apart
    std::vector<double> latency;                      // ms
    std::vector<double> blocked;                      // ms
};

void Print(const char* what, const char* method, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("  %-10s %-42s %8.3f  [%.3f .. %.3f]  n=%zu\n", what, method, median, values.front(), values.back(), n);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s RECORDER [RUNS] [RESIDENT_MB]\n", argv[0]);
        return 2;
    }
    const std::string recorder = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 200;
    const long residentMb = argc > 3 ? std::atol(argv[3]) : 27;
    const std::string log = recorder.substr(0, recorder.rfind('/') + 1) + "launches.log";

    std::vector<char> resident(static_cast<std::size_t>(residentMb) * 1024 * 1024);
    for (std::size_t i = 0; i < resident.size(); i += 4096) {
        resident[i] = static_cast<char>(i);
    }

    selvatro::platform::posix::PosixPrograms programs(SELVATRO_HOLDER);
    std::vector<Method> methods = {
        {"selvatro (clone CLONE_VM|CLONE_VFORK x2)", [&](const std::string& p) { programs.start(p); }, {}, {}, {}},
        {"posix_spawn (glibc)", PosixSpawn, {}, {}, {}},
        {"fork + exec", ForkExec, {}, {}, {}},
    };
    // With a session bus (the manager's stand-in, say), also the start announced ahead: the process made and held,
    // its scope asked for, then released at the measured start.
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) {
        methods.push_back({"selvatro, announced (held)",
                           [&](const std::string& p) { programs.start(p); },
                           [&](const std::string& p) { programs.prepare(p); },
                           {},
                           {}});
    }
    for (int run = 0; run < runs; ++run) {
        for (Method& method : methods) {
            if (method.prepare) {
                method.prepare(recorder);
                usleep(50000);
            }
            const long long size = LogSize(log);
            const long long before = Now();
            method.start(recorder);
            const long long after = Now();
            const long long started = WaitForRecord(log, size);
            method.latency.push_back(static_cast<double>(started - before) / 1e6);
            method.blocked.push_back(static_cast<double>(after - before) / 1e6);
            while (waitpid(-1, nullptr, WNOHANG) > 0) {
            }
        }
    }
    std::printf("One program started %d times by each method, interleaved; the caller holds %ld MiB resident.\n", runs,
                residentMb);
    std::printf("  %-10s %-42s %8s  [min .. max]  runs (ms)\n", "", "", "median");
    for (const Method& method : methods) {
        Print("latency", method.name, method.latency);
    }
    for (const Method& method : methods) {
        Print("blocked", method.name, method.blocked);
    }
    volatile char keep = resident[resident.size() / 2];  // the touched memory must stay until the end
    (void)keep;
    return 0;
}
