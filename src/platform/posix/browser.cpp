#include <dlfcn.h>
#include <gio/gio.h>  // declarations only: the library itself is opened on the first lookup

#include <algorithm>
#include <array>

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
    decltype(&g_object_unref) unref = nullptr;  // GObject's, found through GIO's own dependencies

    bool usable() const {
        return defaultForType != nullptr && commandLine != nullptr && executable != nullptr && unref != nullptr;
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
            Find(library, "g_object_unref", found.unref);
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

}  // namespace

std::int32_t GioBrowser::findExecutable(const std::string& /*file*/, const std::string& /*folder*/,
                                        std::string& result) {
    // The web browser is the handler of web addresses. The handler of the file's own type (text/html) is often a
    // text editor, since GIO takes text/html for a kind of text/plain.
    std::string program;
    const Gio& gio = LoadGio();
    for (const char* type : std::array{"x-scheme-handler/https", "x-scheme-handler/http"}) {
        if (!gio.usable()) {
            break;  // no GIO on this system: no browser is known
        }
        if (GAppInfo* app = gio.defaultForType(type, FALSE)) {
            program = ProgramOf(gio, app);
            gio.unref(app);
        }
        if (!program.empty()) {
            break;
        }
    }
    // The path goes into the caller's buffer, which keeps its size; a path that does not fit is cut short of
    // the buffer's end and never inside a character.
    if (!result.empty()) {
        std::size_t length = std::min(program.size(), result.size() - 1);
        while (length > 0 && length < program.size() &&
               (static_cast<unsigned char>(program[length]) & 0xC0u) == 0x80u) {
            --length;
        }
        std::copy_n(program.begin(), length, result.begin());
        result[length] = '\0';
    }
    return program.empty() ? 31 : 42;
}

std::int32_t GioBrowser::shellExecute(const std::string& /*operation*/, const std::string& command,
                                      const std::string& parameters, const std::string& /*folder*/,
                                      std::int32_t /*showState*/) {
    const std::size_t end = command.find_last_not_of(' ');
    if (end == std::string::npos) {
        return 2;
    }
    std::vector<std::string> arguments;
    if (!parameters.empty()) {
        arguments.push_back(parameters);
    }
    try {
        [[maybe_unused]] const pid_t browser = SpawnDetached(command.substr(0, end + 1), arguments);
        return 42;
    } catch (const StartFailed&) {
        return 2;
    }
}

}  // namespace selvatro::platform::posix
