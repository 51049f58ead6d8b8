#include "platform/posix/desktop_entry.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>

#include "platform/errors.h"
#include "platform/posix/posix_internal.h"

namespace selvatro::platform::posix {

namespace {

constexpr std::string_view kEntrySuffix = ".desktop";

// An entry is a few hundred bytes; a file far beyond that at such a name is no entry to parse at a logon.
constexpr std::size_t kLargestEntry = 1024 * 1024;

using KeyFile = std::unique_ptr<GKeyFile, decltype(&g_key_file_free)>;

// Why GLib failed, freeing what it gave.
std::string TakeMessage(GError* error) {
    std::string message = error != nullptr && error->message != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    return message;
}

std::string Because(const std::string& path, const std::string& reason) {
    std::string text = path;
    text.append(": ").append(reason);
    return text;
}

// The entry's text parsed by the key-file rules (groups, keys, the string escapes \s \n \t \r \\). The file is
// read first, and only when it is a regular file, so that a FIFO or a device of that name is never waited on.
KeyFile Load(const std::string& path) {
    int error = 0;
    const std::optional<std::string> bytes = ReadRegularFile(path, kLargestEntry + 1, &error);
    if (!bytes || error != 0) {
        struct stat info {};
        if (error == 0 && stat(path.c_str(), &info) != 0) {
            error = errno;
        }
        throw StartFailed(Because(path, error != 0 ? ErrnoText(error) : "not a file"));
    }
    if (bytes->size() > kLargestEntry) {
        throw StartFailed(Because(path, "too large for a desktop entry"));
    }
    KeyFile file(g_key_file_new(), g_key_file_free);
    GError* failure = nullptr;
    if (g_key_file_load_from_data(file.get(), bytes->data(), bytes->size(), G_KEY_FILE_NONE, &failure) == FALSE) {
        throw StartFailed(Because(path, "not a desktop entry: " + TakeMessage(failure)));
    }
    if (g_key_file_has_group(file.get(), G_KEY_FILE_DESKTOP_GROUP) == FALSE) {
        throw StartFailed(Because(path, "not a desktop entry: it has no [Desktop Entry] group"));
    }
    return file;
}

// A string key of the entry's group, unescaped; nothing when the key is absent. A value that is no valid string
// (not UTF-8) makes the entry invalid.
std::optional<std::string> Value(const KeyFile& file, const std::string& path, const char* key, bool localised) {
    GError* failure = nullptr;
    gchar* value = localised
                       ? g_key_file_get_locale_string(file.get(), G_KEY_FILE_DESKTOP_GROUP, key, nullptr, &failure)
                       : g_key_file_get_string(file.get(), G_KEY_FILE_DESKTOP_GROUP, key, &failure);
    if (value == nullptr) {
        if (failure != nullptr && g_error_matches(failure, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_KEY_NOT_FOUND)) {
            g_clear_error(&failure);
            return std::nullopt;
        }
        throw StartFailed(Because(path, TakeMessage(failure)));
    }
    std::string text = value;
    g_free(value);
    return text;
}

// A boolean key: true only when it says so; absent or unreadable counts as false, as with the desktops.
bool Flag(const KeyFile& file, const char* key) {
    GError* failure = nullptr;
    const gboolean on = g_key_file_get_boolean(file.get(), G_KEY_FILE_DESKTOP_GROUP, key, &failure);
    g_clear_error(&failure);
    return on != FALSE;
}

// ---- the Exec line ----

// Splits the Exec line (already freed of the key-file escapes) into its arguments as the desktops do (GLib's and
// KDE's readers alike), which accept more than the freedesktop.org standard's strict form and so start entries that
// users wrote by hand: blanks separate arguments; inside double quotes a backslash escapes ", `, $, \\ and is kept
// before anything else; single quotes keep everything up to the next one; outside quotes a backslash escapes the next
// character; quoted and unquoted pieces next to each other make one argument. Nothing is expanded, and no
// character is special beyond these. Throws StartFailed saying what is wrong.
std::vector<std::string> SplitExec(const std::string& path, std::string_view line) {
    const auto invalid = [&path](const std::string& what) {
        return StartFailed(Because(path, "invalid Exec line: " + what));
    };
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = line.size();
    for (;;) {
        while (i < n && isBlank(line[i])) {
            ++i;
        }
        if (i == n) {
            break;
        }
        std::string word;
        while (i < n && !isBlank(line[i])) {
            const char c = line[i++];
            if (c == '"') {
                for (;;) {
                    if (i == n) {
                        throw invalid("a quote is not closed");
                    }
                    const char q = line[i++];
                    if (q == '"') {
                        break;
                    }
                    if (q == '\\' && i < n && (line[i] == '"' || line[i] == '`' || line[i] == '$' || line[i] == '\\')) {
                        word += line[i++];
                        continue;
                    }
                    word += q;
                }
            } else if (c == '\'') {
                const std::size_t end = line.find('\'', i);
                if (end == std::string_view::npos) {
                    throw invalid("a quote is not closed");
                }
                word.append(line.substr(i, end - i));
                i = end + 1;
            } else if (c == '\\' && i < n) {
                word += line[i++];
            } else {
                word += c;
            }
        }
        words.push_back(std::move(word));
    }
    if (words.empty()) {
        throw invalid("it names no program");
    }
    if (words.front().find('=') != std::string::npos) {
        throw invalid("a program's name may not hold \"=\"");
    }
    return words;
}

// What the entry gives its field codes when it is started with no file and no address.
struct Fields {
    std::optional<std::string> icon;
    std::optional<std::string> name;
    std::string location;
};

// What one field code stands for: the words it becomes. A code known to take files or addresses, or a deprecated
// one, becomes no word at all.
std::vector<std::string> Expand(const std::string& path, char code, const Fields& fields) {
    switch (code) {
        case 'f':
        case 'F':
        case 'u':
        case 'U':
        case 'd':
        case 'D':
        case 'n':
        case 'N':
        case 'v':
        case 'm':
            return {};
        case 'i':
            if (fields.icon && !fields.icon->empty()) {
                return {"--icon", *fields.icon};
            }
            return {};
        case 'c':
            if (fields.name) {
                return {*fields.name};
            }
            return {};
        case 'k':
            return {fields.location};
        default:
            break;
    }
    if (code == '\0') {
        throw StartFailed(Because(path, "invalid Exec line: a % ends it"));
    }
    throw StartFailed(Because(path, std::string("invalid Exec line: unknown field code %") + code));
}

// The arguments with their field codes expanded, once: nothing that an expansion brings in is read again. A code
// that is a whole argument gives its words as arguments of their own (none, one, or two for %i); a code inside a
// longer argument gives its words joined by blanks.
std::vector<std::string> ExpandFields(const std::string& path, const std::vector<std::string>& words,
                                      const Fields& fields) {
    std::vector<std::string> out;
    for (const std::string& word : words) {
        if (word.size() == 2 && word[0] == '%' && word[1] != '%') {
            for (std::string& expanded : Expand(path, word[1], fields)) {
                out.push_back(std::move(expanded));
            }
            continue;
        }
        std::string text;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '%') {
                text += word[i];
                continue;
            }
            const char code = i + 1 < word.size() ? word[i + 1] : '\0';
            ++i;
            if (code == '%') {
                text += '%';
                continue;
            }
            const std::vector<std::string> expanded = Expand(path, code, fields);
            for (std::size_t k = 0; k < expanded.size(); ++k) {
                if (k > 0) {
                    text += ' ';
                }
                text += expanded[k];
            }
        }
        out.push_back(std::move(text));
    }
    return out;
}

// ---- finding programs ----

bool IsExecutableFile(const std::string& file) {
    struct stat info {};
    return stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(file.c_str(), X_OK) == 0;
}

// The program `name` as the desktop finds it: a name with a slash is taken as it stands (relative to `folder`, the
// folder it will run in, when not absolute), a bare name is the first executable file of that name in the folders
// of $PATH. Returns what to execute, or nothing when it is not there.
std::optional<std::string> FindProgram(const std::string& name, const std::string& folder) {
    if (name.empty()) {
        return std::nullopt;
    }
    if (name.find('/') != std::string::npos) {
        const std::string where = name.front() == '/' || folder.empty() ? name : folder + "/" + name;
        struct stat info {};
        if (stat(where.c_str(), &info) != 0) {
            return std::nullopt;
        }
        return name;  // there: whether it can be executed is for the start to tell, with the system's reason
    }
    const char* variable = std::getenv("PATH");
    // Without $PATH, the usual search path of a login shell.
    const std::string_view search = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t from = 0;
    for (;;) {
        const std::size_t colon = search.find(':', from);
        const std::string_view dir = search.substr(from, colon == std::string_view::npos ? colon : colon - from);
        // An empty element of $PATH is the current folder.
        std::string candidate(dir.empty() ? std::string_view(".") : dir);
        candidate.append("/").append(name);
        if (IsExecutableFile(candidate)) {
            // The program runs in the entry's own folder: a folder of $PATH given relatively is made absolute here.
            std::error_code ignored;
            const std::filesystem::path absolute = std::filesystem::absolute(candidate, ignored);
            return absolute.empty() ? candidate : absolute.string();
        }
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        from = colon + 1;
    }
}

// The terminal that Debian offers every user: x-terminal-emulator (the alternative that the administrator chose),
// which takes the command after -e, word by word; xterm, which does the same, where no alternative is set.
std::optional<std::string> FindTerminal() {
    for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
        if (std::optional<std::string> found = FindProgram(terminal, {})) {
            return found;
        }
    }
    return std::nullopt;
}

}  // namespace

bool IsDesktopEntryName(const std::string& path) {
    return path.size() > kEntrySuffix.size() &&
           std::string_view(path).substr(path.size() - kEntrySuffix.size()) == kEntrySuffix;
}

LaunchCommand CommandFor(const std::string& path) {
    if (!IsDesktopEntryName(path)) {
        return {path, {}, {}};
    }
    const KeyFile file = Load(path);
    // A hidden entry is one that the user deleted: as good as no file at all. One that Selvatro switched off so
    // that the desktop no longer starts it at logon is Selvatro's to start.
    if (Flag(file, G_KEY_FILE_DESKTOP_KEY_HIDDEN) && !Flag(file, "X-Selvatro-Took-Over")) {
        throw ProgramMissing(Because(path, "the entry is hidden (deleted)"));
    }
    const std::optional<std::string> type = Value(file, path, G_KEY_FILE_DESKTOP_KEY_TYPE, false);
    if (type != G_KEY_FILE_DESKTOP_TYPE_APPLICATION) {
        throw StartFailed(Because(path, type ? "not an application but a " + *type + " entry"
                                             : std::string("not an application: the entry has no Type")));
    }
    // TryExec says whether the application is installed at all.
    if (const std::optional<std::string> tryExec = Value(file, path, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, false)) {
        const std::optional<std::string> found = FindProgram(*tryExec, {});
        if (!found || !IsExecutableFile(*found)) {
            throw ProgramMissing(Because(path, *tryExec + " is not installed"));
        }
    }
    // A D-Bus activatable application keeps an Exec line for those who start it otherwise, as this does.
    const std::optional<std::string> exec = Value(file, path, G_KEY_FILE_DESKTOP_KEY_EXEC, false);
    if (!exec) {
        throw StartFailed(Because(path, "the entry has no Exec line"));
    }
    Fields fields;
    fields.icon = Value(file, path, G_KEY_FILE_DESKTOP_KEY_ICON, true);
    fields.name = Value(file, path, G_KEY_FILE_DESKTOP_KEY_NAME, true);
    fields.location = path;
    std::vector<std::string> words = ExpandFields(path, SplitExec(path, *exec), fields);
    if (words.empty() || words.front().empty()) {
        throw StartFailed(Because(path, "invalid Exec line: it names no program"));
    }
    LaunchCommand command;
    command.folder = Value(file, path, G_KEY_FILE_DESKTOP_KEY_PATH, false).value_or("");
    std::optional<std::string> program = FindProgram(words.front(), command.folder);
    if (!program) {
        throw ProgramMissing(Because(path, words.front() + " is not installed"));
    }
    words.erase(words.begin());
    if (Flag(file, G_KEY_FILE_DESKTOP_KEY_TERMINAL)) {
        std::optional<std::string> terminal = FindTerminal();
        if (!terminal) {
            throw StartFailed(Because(path, "the entry runs in a terminal, and no terminal is installed"));
        }
        words.insert(words.begin(), {"-e", std::move(*program)});
        program = std::move(terminal);
    }
    command.program = std::move(*program);
    command.arguments = std::move(words);
    return command;
}

std::optional<std::string> EntryProgram(const std::string& path) noexcept {
    try {
        if (!IsDesktopEntryName(path)) {
            return std::nullopt;
        }
        const KeyFile file = Load(path);
        const std::optional<std::string> exec = Value(file, path, G_KEY_FILE_DESKTOP_KEY_EXEC, false);
        if (!exec) {
            return std::nullopt;
        }
        return SplitExec(path, *exec).front();
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace selvatro::platform::posix
