#include <dlfcn.h>
#include <gio/gio.h>  // declarations only: the library itself is opened on the first lookup

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "platform/errors.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

namespace selvatro::platform::posix {

namespace {

// GIO is opened on the first lookup, not with the program. A logon never needs it, and linking it costs every
// start about 1 MB of memory and a few milliseconds of relocations and type registration. GLib itself comes with
// the toolkit and is linked as usual.
struct Gio {
    decltype(&g_app_info_get_default_for_type) defaultForType = nullptr;
    decltype(&g_app_info_get_commandline) commandLine = nullptr;
    decltype(&g_app_info_get_executable) executable = nullptr;
    decltype(&g_app_info_get_name) name = nullptr;
    decltype(&g_app_info_launch_uris) launchUris = nullptr;
    // GObject's, found through GIO's own dependencies.
    decltype(&g_object_unref) unref = nullptr;
    decltype(&g_type_check_instance_is_a) isA = nullptr;
    // GDesktopAppInfo's, whose header comes with another package: declared here for the few used.
    GType (*desktopType)() = nullptr;
    const char* (*fileName)(gpointer) = nullptr;
    char* (*getString)(gpointer, const char*) = nullptr;
    gboolean (*getBoolean)(gpointer, const char*) = nullptr;

    bool usable() const {
        return defaultForType != nullptr && commandLine != nullptr && executable != nullptr && name != nullptr &&
               launchUris != nullptr && unref != nullptr;
    }
    bool readsDesktopEntries() const {
        return isA != nullptr && desktopType != nullptr && fileName != nullptr && getString != nullptr &&
               getBoolean != nullptr;
    }
};

template <typename Function>
void Find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
}

const Gio& LoadGio() {
    static const Gio gio = [] {
        Gio found;
        // Kept open for the rest of the process, as a linked library would be.
        if (void* library = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL)) {
            Find(library, "g_app_info_get_default_for_type", found.defaultForType);
            Find(library, "g_app_info_get_commandline", found.commandLine);
            Find(library, "g_app_info_get_executable", found.executable);
            Find(library, "g_app_info_get_name", found.name);
            Find(library, "g_app_info_launch_uris", found.launchUris);
            Find(library, "g_object_unref", found.unref);
            Find(library, "g_type_check_instance_is_a", found.isA);
            Find(library, "g_desktop_app_info_get_type", found.desktopType);
            Find(library, "g_desktop_app_info_get_filename", found.fileName);
            Find(library, "g_desktop_app_info_get_string", found.getString);
            Find(library, "g_desktop_app_info_get_boolean", found.getBoolean);
        }
        return found;
    }();
    return gio;
}

std::string UndoublePercent(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
        }
    }
    return out;
}

// The full path of the program that a desktop application runs. GIO's own executable name stops at the first
// blank, which cuts a quoted path such as "/opt/my browser/browser"; the command line, unquoted by the desktop
// entry rules, gives it whole.
std::string ProgramOf(const Gio& gio, GAppInfo* app) {
    std::string program;
    if (const char* commandLine = gio.commandLine(app)) {
        gint argc = 0;
        gchar** argv = nullptr;
        if (g_shell_parse_argv(commandLine, &argc, &argv, nullptr) && argc > 0) {
            program = UndoublePercent(argv[0]);
        }
        g_strfreev(argv);
    }
    if (program.empty()) {
        if (const char* executable = gio.executable(app)) {
            program = executable;
        }
    }
    if (program.empty() || program.front() == '/') {
        return program;
    }
    gchar* found = g_find_program_in_path(program.c_str());
    if (found == nullptr) {
        return {};
    }
    program = found;
    g_free(found);
    return program;
}

std::string WithoutBlanksAround(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Quoted(const char* text) {
    gchar* quoted = g_shell_quote(text);
    std::string out = quoted;
    g_free(quoted);
    return out;
}

// How the desktop starts `app` for `address`, where starting a program does it: the entry's Exec line with its
// field codes expanded as GIO expands them (the address quoted, then the line split by the shell's quoting rules,
// without a shell), so that the program's own failure to start can be told. Nothing where only GIO starts it
// right: an entry to be run in a terminal, one started over the session bus, anything but a desktop entry.
std::optional<std::vector<std::string>> CommandFor(const Gio& gio, GAppInfo* app, const std::string& address) {
    if (!gio.readsDesktopEntries() || gio.isA(reinterpret_cast<GTypeInstance*>(app), gio.desktopType()) == FALSE ||
        gio.getBoolean(app, "Terminal") != FALSE || gio.getBoolean(app, "DBusActivatable") != FALSE) {
        return std::nullopt;
    }
    const char* exec = gio.commandLine(app);
    if (exec == nullptr) {
        return std::nullopt;
    }
    std::string line;
    for (const char* at = exec; *at != '\0'; ++at) {
        if (*at != '%' || at[1] == '\0') {
            line += *at;
            continue;
        }
        switch (*++at) {
            case 'u':
            case 'U':
                if (!address.empty()) {
                    line += Quoted(address.c_str());
                }
                break;
            case 'f':
            case 'F':
                // A program that takes files gets a local page as its path.
                if (gchar* path = g_filename_from_uri(address.c_str(), nullptr, nullptr)) {
                    line += Quoted(path);
                    g_free(path);
                } else if (!address.empty()) {
                    line += Quoted(address.c_str());
                }
                break;
            case 'i':
                if (gchar* icon = gio.getString(app, "Icon")) {
                    line += "--icon " + Quoted(icon);
                    g_free(icon);
                }
                break;
            case 'c':
                if (const char* name = gio.name(app)) {
                    line += Quoted(name);
                }
                break;
            case 'k':
                if (const char* file = gio.fileName(app)) {
                    line += Quoted(file);
                }
                break;
            case '%':
                line += '%';
                break;
            default:
                break;  // the deprecated codes stand for nothing
        }
    }
    gint argc = 0;
    gchar** argv = nullptr;
    std::vector<std::string> command;
    if (g_shell_parse_argv(line.c_str(), &argc, &argv, nullptr) && argv != nullptr) {
        // One by one: GCC 12 at -O3 takes a range of char* for one that may hold null pointers.
        for (gint i = 0; i < argc && argv[i] != nullptr; ++i) {
            command.emplace_back(argv[i]);
        }
    }
    g_strfreev(argv);
    return command;
}

// Starts the handler's entry with `address`.
std::int32_t StartHandler(GAppInfo* app, const std::string& address) {
    const Gio& gio = LoadGio();
    if (const std::optional<std::vector<std::string>> command = CommandFor(gio, app, address)) {
        if (command->empty()) {
            return kShellFileNotFound;
        }
        std::string program = command->front();
        if (program.front() != '/') {
            gchar* found = g_find_program_in_path(program.c_str());
            if (found == nullptr) {
                return kShellFileNotFound;
            }
            program = found;
            g_free(found);
        }
        try {
            const pid_t browser =
                SpawnDetached(program, std::vector<std::string>(command->begin() + 1, command->end()));
            RequestOwnScope(browser, program);
            return kShellSuccess;
        } catch (const StartFailed&) {
            return kShellFileNotFound;
        }
    }
    // GIO starts the program through a helper of its own, so only a failure before that counts.
    GList* uris = address.empty() ? nullptr : g_list_append(nullptr, const_cast<char*>(address.c_str()));
    GError* error = nullptr;
    const gboolean launched = gio.launchUris(app, uris, nullptr, &error);
    g_list_free(uris);
    g_clear_error(&error);
    return launched != FALSE ? kShellSuccess : kShellFileNotFound;
}

}  // namespace

std::int32_t GioBrowser::findExecutable(const std::string& /*file*/, const std::string& /*folder*/,
                                        std::string& result) {
    // The web browser is the handler of web addresses. The handler of the file's own type (text/html) is often a
    // text editor, since GIO takes text/html for a kind of text/plain.
    std::string program;
    handler_.reset();
    const Gio& gio = LoadGio();
    for (const char* type : std::array{"x-scheme-handler/https", "x-scheme-handler/http"}) {
        if (!gio.usable()) {
            break;  // no GIO on this system: no browser is known
        }
        if (GAppInfo* app = gio.defaultForType(type, FALSE)) {
            program = ProgramOf(gio, app);
            handler_.reset(app, [](void* held) { LoadGio().unref(held); });
        }
        if (!program.empty()) {
            break;
        }
        handler_.reset();
    }
    // The path goes into the caller's buffer, which keeps its size; a path that does not fit is cut short of
    // the buffer's end and never inside a character.
    handlerProgram_.clear();
    if (!result.empty()) {
        std::size_t length = std::min(program.size(), result.size() - 1);
        while (length > 0 && length < program.size() &&
               (static_cast<unsigned char>(program[length]) & 0xC0u) == 0x80u) {
            --length;
        }
        std::copy_n(program.begin(), length, result.begin());
        result[length] = '\0';
        handlerProgram_ = program.substr(0, length);
    }
    return program.empty() ? kShellNoAssociation : kShellSuccess;
}

std::int32_t GioBrowser::shellExecute(const std::string& /*operation*/, const std::string& command,
                                      const std::string& parameters, const std::string& /*folder*/,
                                      std::int32_t /*showState*/) {
    const std::string program = WithoutBlanksAround(command);
    if (program.empty()) {
        return kShellFileNotFound;
    }
    // The program that the lookup wrote is often not the browser but what starts it: env with settings, flatpak
    // run, a snap. Given the address as its one argument it would take it for a program of its own, start, and
    // report success for a page that never opens. The handler's entry says how the browser is started.
    if (handler_ && program == WithoutBlanksAround(handlerProgram_)) {
        return StartHandler(static_cast<GAppInfo*>(handler_.get()), parameters);
    }
    std::vector<std::string> arguments;
    if (!parameters.empty()) {
        arguments.push_back(parameters);
    }
    try {
        const pid_t browser = SpawnDetached(program, arguments);
        RequestOwnScope(browser, program);
        return kShellSuccess;
    } catch (const StartFailed&) {
        return kShellFileNotFound;
    }
}

}  // namespace selvatro::platform::posix
