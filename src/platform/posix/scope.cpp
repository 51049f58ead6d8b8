#include <dlfcn.h>
#include <gio/gio.h>  // declarations only: the library itself is opened once a program has been started
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/posix/posix_internal.h"

// Under a systemd user session the desktop starts Selvatro at logon as a unit of its own, which keeps every process
// it started: the user's programs would show up as Selvatro's, stop with it, and be killed together with it by
// systemd-oomd. Desktops move each program they start into a transient scope of its own; so do we.

namespace selvatro::platform::posix {

namespace {

constexpr std::size_t kUnitNameMax = 255;  // systemd refuses longer unit names
constexpr char kHexDigits[] = "0123456789abcdef";

bool AsciiLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

void AppendHex(std::string& out, char c) {
    const auto byte = static_cast<unsigned char>(c);
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0xFu];
}

// A value in a D-Bus address ("unix:path=..."): every byte but the few that addresses allow plain, as %NN.
std::string EscapeAddressValue(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (AsciiLetterOrDigit(c) || c == '-' || c == '_' || c == '/' || c == '.' || c == '\\' || c == '*') {
            out += c;
        } else {
            out += '%';
            AppendHex(out, c);
        }
    }
    return out;
}

// Where the session bus listens, as GIO and libdbus find it, except that a missing bus is never started here
// (GIO would run dbus-launch for an X display, bringing up a bus of its own).
std::string SessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return address;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/') {
        return {};
    }
    const std::string socket = std::string(runtime) + "/bus";
    struct stat info {};
    if (stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != getuid()) {
        return {};
    }
    return "unix:path=" + EscapeAddressValue(socket);
}

// GIO's D-Bus, opened on the first program's start, as browser.cpp opens the rest of GIO: a run that starts no
// program never pays for it.
struct Gdbus {
    decltype(&g_dbus_connection_new_for_address_sync) connect = nullptr;
    decltype(&g_dbus_connection_call) call = nullptr;
    decltype(&g_dbus_connection_flush_sync) flush = nullptr;
    decltype(&g_dbus_connection_is_closed) isClosed = nullptr;

    bool usable() const { return connect != nullptr && call != nullptr && flush != nullptr && isClosed != nullptr; }
};

template <typename Function>
void Find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
}

Gdbus LoadGdbus() {
    Gdbus found;
    // Kept open for the rest of the process, as a linked library would be.
    if (void* library = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL)) {
        Find(library, "g_dbus_connection_new_for_address_sync", found.connect);
        Find(library, "g_dbus_connection_call", found.call);
        Find(library, "g_dbus_connection_flush_sync", found.flush);
        Find(library, "g_dbus_connection_is_closed", found.isClosed);
    }
    return found;
}

struct ScopeRequest {
    pid_t pid = 0;
    std::string program;
};

// Sends StartTransientUnit without asking for a reply: nothing would be done with it, and a request that waits for
// none is complete once it has been written to the bus, however slow the manager is to act on it.
void SendRequest(const Gdbus& gdbus, GDBusConnection* bus, const ScopeRequest& request) {
    const std::string unit = ScopeUnitName(request.program, request.pid);
    // A file name need not be UTF-8; a D-Bus string must be.
    gchar* description = g_utf8_make_valid((request.program + " started by Selvatro").c_str(), -1);
    GVariantBuilder pids;
    g_variant_builder_init(&pids, reinterpret_cast<const GVariantType*>("au"));
    g_variant_builder_add(&pids, "u", static_cast<guint32>(request.pid));
    GVariantBuilder properties;
    g_variant_builder_init(&properties, reinterpret_cast<const GVariantType*>("a(sv)"));
    g_variant_builder_add(&properties, "(sv)", "Description", g_variant_new_string(description));
    g_variant_builder_add(&properties, "(sv)", "PIDs", g_variant_builder_end(&pids));
    // The unit goes once its program and all it started have ended, whether they failed or not.
    g_variant_builder_add(&properties, "(sv)", "CollectMode", g_variant_new_string("inactive-or-failed"));
    g_free(description);
    // "fail": a unit of that name already there is an error, never replaced.
    GVariant* parameters = g_variant_new("(ssa(sv)a(sa(sv)))", unit.c_str(), "fail", &properties, nullptr);
    // No auto-start: a session without a user manager must not have one activated for us.
    gdbus.call(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
               "StartTransientUnit", parameters, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr,
               nullptr);
}

// The requests of the whole run, handed by the window's thread to one thread of their own, which connects to the
// bus when the first one comes. Never destroyed: the thread may still be waiting on the bus when the process ends.
class ScopeRequests {
public:
    void add(pid_t pid, const std::string& program) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::Off) {
            return;
        }
        if (state_ == State::Idle) {
            std::string address = SessionBusAddress();
            if (address.empty() || !startThread(std::move(address))) {
                state_ = State::Off;
                return;
            }
            state_ = State::Running;
        }
        pending_.push_back({pid, program});
        wake_.notify_one();
    }

private:
    enum class State { Idle, Running, Off };

    bool startThread(std::string address) {
        // Signals are for the window's thread: this one, and GDBus's own thread made from it, take none.
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        bool started = true;
        try {
            std::thread([this, address = std::move(address)] { run(address); }).detach();
        } catch (const std::system_error&) {
            started = false;
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return started;
    }

    void run(const std::string& address) {
        // Whatever GIO schedules for this thread stays off the main context, which the toolkit may run.
        g_main_context_push_thread_default(g_main_context_new());
        const Gdbus gdbus = LoadGdbus();
        GDBusConnection* bus = nullptr;
        if (gdbus.usable()) {
            // A connection of our own, not GIO's shared one, which would end the process when the bus goes away.
            // It may block for as long as the bus is slow to answer: only this thread waits.
            bus = gdbus.connect(address.c_str(),
                                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                nullptr, nullptr, nullptr);
        }
        for (;;) {
            std::deque<ScopeRequest> batch;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (bus == nullptr) {
                    state_ = State::Off;
                    pending_.clear();
                    return;
                }
                wake_.wait(lock, [this] { return !pending_.empty(); });
                batch.swap(pending_);
            }
            for (const ScopeRequest& request : batch) {
                SendRequest(gdbus, bus, request);
            }
            // GDBus writes from a thread of its own: wait until the requests have left the process, which may end
            // a second after the last program's start without waiting for anything.
            gdbus.flush(bus, nullptr, nullptr);
            if (gdbus.isClosed(bus) != FALSE) {
                bus = nullptr;  // kept, not freed: nothing is worth the risk of a late callback into it
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<ScopeRequest> pending_;
    State state_ = State::Idle;
};

}  // namespace

std::string EscapeUnitNamePart(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '/') {
            out += '-';
        } else if (AsciiLetterOrDigit(c) || c == ':' || c == '_' || (c == '.' && i > 0)) {
            out += c;
        } else {
            out += "\\x";
            AppendHex(out, c);
        }
    }
    return out;
}

std::string ScopeUnitName(const std::string& program, pid_t pid) {
    const std::size_t slash = program.find_last_of('/');
    std::string name = EscapeUnitNamePart(slash == std::string::npos ? program : program.substr(slash + 1));
    std::string unit = "app-selvatro-";
    std::string suffix = "-";
    suffix.append(std::to_string(pid)).append(".scope");
    const std::size_t room = kUnitNameMax - unit.size() - suffix.size();
    if (name.size() > room) {
        // A backslash only ever begins a four-character escape.
        const std::size_t escape = name.rfind('\\', room - 1);
        name.resize(escape != std::string::npos && escape + 4 > room ? escape : room);
    }
    return unit.append(name).append(suffix);
}

void RequestOwnScope(pid_t pid, const std::string& program) {
    try {
        static auto* const requests = new ScopeRequests;
        requests->add(pid, program);
    } catch (const std::exception&) {
        // Out of memory for a request: the program stays where it was started, as without a manager.
    }
}

}  // namespace selvatro::platform::posix
