// Starts a program under X and reports how long it took until the window manager took its window (WM_STATE set
// on a window whose _NET_WM_PID is the program's), then ends it with SIGTERM and reports its peak RSS.
//
//   launch_watch PROGRAM  ->  "<milliseconds> <peak RSS in KiB>"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }

    double shownMs = -1;
    while (shownMs < 0) {
        XEvent event;
        XNextEvent(display, &event);
        Window window = None;
        if (event.type == CreateNotify) {
            // Watch each new top-level window for the window manager's WM_STATE.
            window = event.xcreatewindow.window;
            XSelectInput(display, window, PropertyChangeMask);
            XSync(display, False);
        } else if (event.type == PropertyNotify && event.xproperty.atom == wmState) {
            window = event.xproperty.window;
        } else {
            continue;
        }
        if (HasProperty(display, window, wmState) && PidOf(display, window, pidAtom) == child) {
            shownMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(child, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("%.1f %ld\n", shownMs, usage.ru_maxrss);
    XCloseDisplay(display);
    return 0;
}
