// Starts a program and watches it from outside, on CLOCK_MONOTONIC, without changing it.
//
//   launch_watch [--window] [--linger MS] [--sample MS MS] [--timeout S] -- PROGRAM [ARGUMENTS...]
//
//   --window      wait for the program's window: the instant the window manager takes it (WM_STATE set on a
//                 window whose _NET_WM_PID is the program's) is the reference instant; without it, the reference
//                 is the spawn. Also records each change of the window's caption (one per tick of Selvatro).
//   --linger MS   MS after the reference, end the program with SIGTERM (the cold-start measurement).
//   --sample A B  read the program's CPU time and context switches A and B milliseconds after the reference.
//   --timeout S   give up (SIGKILL) after S seconds.
//
// Prints key=value lines: spawn, created (the window's CreateNotify), shown, exit (the instant the kernel
// reported the end, through a pidfd) in nanoseconds; cpu_shown_ns (the program's CPU time when the window was
// shown); sample lines; caption lines "caption <ns> <text>"; status, maxrss_kb, utime_us and stime_us from
// wait4.
//
// CPU time is the sum of sum_exec_runtime over the program's threads (/proc/PID/task/*/schedstat, nanoseconds);
// /proc/PID/stat's utime + stime (in clock ticks of 10 ms) is printed beside it. Context switches are the sum of
// voluntary and involuntary switches over the threads (/proc/PID/task/*/status).

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

long long Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct Usage {
    long long cpuNs = 0;     // schedstat, all threads
    long long ticks = 0;     // utime + stime from /proc/PID/stat
    long long switches = 0;  // voluntary + involuntary, all threads
    int threads = 0;
};

Usage ReadUsage(pid_t pid) {
    Usage usage;
    const std::string base = "/proc/" + std::to_string(pid);
    if (DIR* tasks = opendir((base + "/task").c_str())) {
        while (dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            const std::string task = base + "/task/" + entry->d_name;
            std::ifstream schedstat(task + "/schedstat");
            long long runNs = 0;
            if (schedstat >> runNs) {
                usage.cpuNs += runNs;
                ++usage.threads;
            }
            std::ifstream status(task + "/status");
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                    line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                    usage.switches += std::atoll(line.c_str() + line.find(':') + 1);
                }
            }
        }
        closedir(tasks);
    }
    std::ifstream stat(base + "/stat");
    std::string all;
    std::getline(stat, all);  // one line
    const std::size_t close = all.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(all.substr(close + 2));
        std::string field;
        long long utime = 0, stime = 0;
        for (int i = 3; fields >> field; ++i) {  // field 3 is the state
            if (i == 14) {
                utime = std::atoll(field.c_str());
            } else if (i == 15) {
                stime = std::atoll(field.c_str());
                break;
            }
        }
        usage.ticks = utime + stime;
    }
    return usage;
}

long PidOf(Display* display, Window window, Atom pidAtom) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        data != nullptr && count == 1) {
        pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data != nullptr) {
        XFree(data);
    }
    return pid;
}

bool HasProperty(Display* display, Window window, Atom property) {
    int count = 0;
    Atom* atoms = XListProperties(display, window, &count);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        found = found || atoms[i] == property;
    }
    if (atoms != nullptr) {
        XFree(atoms);
    }
    return found;
}

std::string TextProperty(Display* display, Window window, Atom property, Atom utf8) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(display, window, property, 0, 256, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data != nullptr && format == 8) {
        text.assign(reinterpret_cast<char*>(data), count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return text;
}

void PrintUsage(const char* self) {
    std::fprintf(stderr, "usage: %s [--window] [--linger MS] [--sample MS MS] [--timeout S] -- PROGRAM [ARGS...]\n",
                 self);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    bool window = false;
    long long lingerMs = -1;
    std::vector<long long> sampleMs;
    long long timeoutS = 300;
    int at = 1;
    for (; at < argc; ++at) {
        const std::string arg = argv[at];
        if (arg == "--") {
            ++at;
            break;
        }
        if (arg == "--window") {
            window = true;
        } else if (arg == "--linger" && at + 1 < argc) {
            lingerMs = std::atoll(argv[++at]);
        } else if (arg == "--sample" && at + 2 < argc) {
            sampleMs.push_back(std::atoll(argv[++at]));
            sampleMs.push_back(std::atoll(argv[++at]));
        } else if (arg == "--timeout" && at + 1 < argc) {
            timeoutS = std::atoll(argv[++at]);
        } else {
            PrintUsage(argv[0]);
        }
    }
    if (at >= argc) {
        PrintUsage(argv[0]);
    }

    Display* display = nullptr;
    Atom wmState = None, pidAtom = None, netWmName = None, utf8 = None;
    if (window) {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            std::fprintf(stderr, "no X display\n");
            return 2;
        }
        // A window may be gone by the time its properties are asked for (a short-lived one of the window manager,
        // say): the reply is an error, which must not end the watch as Xlib's default handler would.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        wmState = XInternAtom(display, "WM_STATE", False);
        pidAtom = XInternAtom(display, "_NET_WM_PID", False);
        netWmName = XInternAtom(display, "_NET_WM_NAME", False);
        utf8 = XInternAtom(display, "UTF8_STRING", False);
        XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
        XSync(display, False);
    }

    const long long spawn = Now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[at], argv + at);
        _exit(127);
    }
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    if (pidfd < 0) {
        std::perror("pidfd_open");
        return 2;
    }

    std::map<Window, long long> created;
    Window programWindow = None;
    long long createdAt = -1, shown = window ? -1 : spawn, cpuShown = -1, exitAt = -1;
    std::vector<std::pair<long long, std::string>> captions;
    std::vector<std::pair<long long, Usage>> samples;
    std::size_t nextSample = 0;
    bool terminated = false;
    const long long deadline = spawn + timeoutS * 1000000000LL;

    while (exitAt < 0) {
        while (display != nullptr && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            const long long when = Now();
            Window w = None;
            Atom property = None;
            if (event.type == CreateNotify) {
                w = event.xcreatewindow.window;
                created[w] = when;
                XSelectInput(display, w, PropertyChangeMask);
                XSync(display, False);
                property = wmState;  // a WM_STATE set before the selection took effect is found by the check below
            } else if (event.type == PropertyNotify) {
                w = event.xproperty.window;
                property = event.xproperty.atom;
            } else {
                continue;
            }
            if (programWindow == None && property == wmState && HasProperty(display, w, wmState) &&
                PidOf(display, w, pidAtom) == child) {
                programWindow = w;
                shown = when;
                createdAt = created.count(w) != 0 ? created[w] : -1;
                cpuShown = ReadUsage(child).cpuNs;
            } else if (w == programWindow && property == netWmName) {
                captions.emplace_back(when, TextProperty(display, w, netWmName, utf8));
            }
        }

        long long wake = deadline;
        if (shown >= 0 && nextSample < sampleMs.size()) {
            wake = std::min(wake, shown + sampleMs[nextSample] * 1000000LL);
        }
        if (shown >= 0 && lingerMs >= 0 && !terminated) {
            wake = std::min(wake, shown + lingerMs * 1000000LL);
        }
        const long long now = Now();
        pollfd fds[2] = {{pidfd, POLLIN, 0}, {display != nullptr ? ConnectionNumber(display) : -1, POLLIN, 0}};
        const int timeoutMs = wake <= now ? 0 : static_cast<int>((wake - now + 999999) / 1000000);
        poll(fds, 2, timeoutMs);
        const long long after = Now();
        if ((fds[0].revents & POLLIN) != 0) {
            exitAt = after;
            break;
        }
        if (shown >= 0 && nextSample < sampleMs.size() && after >= shown + sampleMs[nextSample] * 1000000LL) {
            samples.emplace_back(after, ReadUsage(child));
            ++nextSample;
        }
        if (shown >= 0 && lingerMs >= 0 && !terminated && after >= shown + lingerMs * 1000000LL) {
            kill(child, SIGTERM);
            terminated = true;
        }
        if (after >= deadline) {
            kill(child, SIGKILL);
            std::fprintf(stderr, "launch_watch: timeout, killed %s\n", argv[at]);
        }
    }

    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("spawn=%lld\ncreated=%lld\nshown=%lld\nexit=%lld\ncpu_shown_ns=%lld\n", spawn, createdAt, shown, exitAt,
                cpuShown);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::printf("sample%zu=%lld %lld %lld %lld %d\n", i, samples[i].first, samples[i].second.cpuNs,
                    samples[i].second.ticks, samples[i].second.switches, samples[i].second.threads);
    }
    for (const auto& [when, text] : captions) {
        std::printf("caption %lld %s\n", when, text.c_str());
    }
    std::printf("status=%d\nmaxrss_kb=%ld\nutime_us=%lld\nstime_us=%lld\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss,
                static_cast<long long>(usage.ru_utime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec,
                static_cast<long long>(usage.ru_stime.tv_sec) * 1000000LL + usage.ru_stime.tv_usec);
    if (display != nullptr) {
        XCloseDisplay(display);
    }
    return 0;
}
