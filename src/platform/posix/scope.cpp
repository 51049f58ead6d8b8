#include <dlfcn.h>
#include <gio/gio.h>  // declarations only: the library itself is opened once a program has been started
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <mutex>
#include <string_view>
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
    decltype(&g_dbus_connection_call_finish) finish = nullptr;
    decltype(&g_dbus_error_get_remote_error) remoteError = nullptr;

    bool usable() const {
        return connect != nullptr && call != nullptr && flush != nullptr && isClosed != nullptr && finish != nullptr &&
               remoteError != nullptr;
    }
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
        Find(library, "g_dbus_connection_call_finish", found.finish);
        Find(library, "g_dbus_error_get_remote_error", found.remoteError);
    }
    return found;
}

// How long a request is asked again while the manager is not yet on the bus: the user's bus is often started on
// demand by the first client, and the manager takes its name on it only once the bus runs.
constexpr gint64 kRetryForUs = 5 * G_USEC_PER_SEC;
constexpr guint kRetryAfterMs = 50;

struct ScopeRequest {
    pid_t pid = 0;
    std::string program;
    gint64 giveUpAt = 0;  // on the monotonic clock, in microseconds
};

class ScopeRequests;

// A request on its way: what the answer's callback needs.
struct InFlight {
    ScopeRequests* requests;
    ScopeRequest request;
};

// The requests of the whole run, handed by the window's thread to one thread of their own, which connects to the
// bus when the first one comes and then runs a main context of its own: it sends each request, waits for the
// manager's answer, and sends it again a little later while the manager has no name on the bus yet. Never
// destroyed: the thread may still be waiting on the bus when the process ends.
class ScopeRequests {
public:
    bool possible() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return state_ != State::Off && (state_ == State::Running || !SessionBusAddress().empty());
    }

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
        pending_.push_back({pid, program, g_get_monotonic_time() + kRetryForUs});
        g_main_context_wakeup(context_);
    }

private:
    enum class State { Idle, Running, Off };

    bool startThread(std::string address) {
        context_ = g_main_context_new();
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
        g_main_context_push_thread_default(context_);
        gdbus_ = LoadGdbus();
        if (gdbus_.usable()) {
            // A connection of our own, not GIO's shared one, which would end the process when the bus goes away.
            // It may block for as long as the bus is slow to answer: only this thread waits.
            bus_ = gdbus_.connect(address.c_str(),
                                  static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                  nullptr, nullptr, nullptr);
        }
        for (;;) {
            std::deque<ScopeRequest> batch;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (bus_ == nullptr) {
                    state_ = State::Off;
                    pending_.clear();
                    return;
                }
                batch.swap(pending_);
            }
            for (ScopeRequest& request : batch) {
                send(std::move(request));
            }
            if (!batch.empty()) {
                // GDBus writes from a thread of its own: wait until the requests have left the process, which may
                // end a second after the last program's start without waiting for anything.
                gdbus_.flush(bus_, nullptr, nullptr);
                if (gdbus_.isClosed(bus_) != FALSE) {
                    bus_ = nullptr;  // kept, not freed: nothing is worth the risk of a late callback into it
                    continue;
                }
            }
            // Answers, retries and new requests (g_main_context_wakeup) all end this wait.
            g_main_context_iteration(context_, TRUE);
        }
    }

    void send(ScopeRequest request) {
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
        // No auto-start: a session without a user manager must not have one activated for us. The answer is
        // waited for here, never by the window's thread.
        gdbus_.call(bus_, "org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                    "StartTransientUnit", parameters, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, Answered,
                    new InFlight{this, std::move(request)});
    }

    static void Answered(GObject* bus, GAsyncResult* result, gpointer data) {
        InFlight* inFlight = static_cast<InFlight*>(data);
        ScopeRequests& self = *inFlight->requests;
        GError* error = nullptr;
        GVariant* reply = self.gdbus_.finish(reinterpret_cast<GDBusConnection*>(bus), result, &error);
        if (reply != nullptr) {
            g_variant_unref(reply);  // the job is queued: the manager moves the process as it runs it
            delete inFlight;
            return;
        }
        gchar* name = self.gdbus_.remoteError(error);
        g_error_free(error);
        // Nobody owns the manager's name yet: it has not connected to a bus that has only just started.
        const bool notYetThere =
            name != nullptr && (std::string_view(name) == "org.freedesktop.DBus.Error.ServiceUnknown" ||
                                std::string_view(name) == "org.freedesktop.DBus.Error.NameHasNoOwner");
        g_free(name);
        if (!notYetThere || g_get_monotonic_time() >= inFlight->request.giveUpAt) {
            delete inFlight;  // refused, or no manager at all: the program stays where it was started
            return;
        }
        GSource* later = g_timeout_source_new(kRetryAfterMs);
        g_source_set_callback(later, SendAgain, inFlight, nullptr);
        g_source_attach(later, self.context_);
        g_source_unref(later);
    }

    static gboolean SendAgain(gpointer data) {
        InFlight* inFlight = static_cast<InFlight*>(data);
        ScopeRequests& self = *inFlight->requests;
        self.send(std::move(inFlight->request));
        delete inFlight;
        self.gdbus_.flush(self.bus_, nullptr, nullptr);
        return G_SOURCE_REMOVE;
    }

    std::mutex mutex_;
    std::deque<ScopeRequest> pending_;
    State state_ = State::Idle;
    GMainContext* context_ = nullptr;
    // The scope thread's own, once it runs.
    Gdbus gdbus_;
    GDBusConnection* bus_ = nullptr;
};

ScopeRequests& Requests() {
    static auto* const requests = new ScopeRequests;
    return *requests;
}

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

bool ScopesPossible() {
    try {
        return Requests().possible();
    } catch (const std::exception&) {
        return false;
    }
}

void RequestOwnScope(pid_t pid, const std::string& program) {
    try {
        Requests().add(pid, program);
    } catch (const std::exception&) {
        // Out of memory for a request: the program stays where it was started, as without a manager.
    }
}

}  // namespace selvatro::platform::posix
