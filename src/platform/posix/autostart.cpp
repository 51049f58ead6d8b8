#include <glib.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/encoding.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

namespace selvatro::platform::posix {

namespace {

// The general escapes of a desktop entry's string values.
std::string EscapeValue(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    if (!out.empty() && out.front() == ' ') {
        out.replace(0, 1, "\\s");  // a leading blank would be taken for the blank after the "="
    }
    return out;
}

// One argument of an Exec line: always in double quotes, with ", `, $ and \ escaped inside them.
std::string QuoteArgument(std::string_view argument) {
    std::string out = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// A literal percent sign is written "%%", so that it is never read as a field code.
std::string DoublePercent(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += c;
        if (c == '%') {
            out += '%';
        }
    }
    return out;
}

bool HasControlCharacter(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return true;
        }
    }
    return false;
}

bool FitsInEntry(std::string_view text) {
    if (!IsValidUtf8(text)) {
        return false;  // a desktop entry is UTF-8 throughout; no escape can carry other bytes
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\n' && c != '\t' && c != '\r') {
            return false;
        }
    }
    return true;
}

constexpr std::string_view kEntryGroup = "[Desktop Entry]";

// The user's copy of the entry when it is one to build on: a desktop entry whose first group is the entry's own.
// Nothing when there is none yet, or when what stands there is too large for an entry, not UTF-8, not a key file,
// or has another group first (no desktop reads it): the entry is then made whole.
std::optional<std::string> UsersEntry(const std::string& entryPath) {
    // A desktop entry is a few hundred bytes; a huge file at that name is no entry of ours to keep.
    constexpr std::size_t kLargestEntry = 64 * 1024;
    std::optional<std::string> old = ReadRegularFile(entryPath, kLargestEntry + 1);
    if (!old || old->size() > kLargestEntry || !IsValidUtf8(*old)) {
        return std::nullopt;
    }
    const std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> file(g_key_file_new(), g_key_file_free);
    if (!g_key_file_load_from_data(file.get(), old->data(), old->size(), G_KEY_FILE_NONE, nullptr)) {
        return std::nullopt;
    }
    gchar* first = g_key_file_get_start_group(file.get());
    const bool ours = first != nullptr && std::string_view(first) == G_KEY_FILE_DESKTOP_GROUP;
    g_free(first);
    return ours ? std::move(old) : std::nullopt;
}

struct EntryKey {
    std::string_view key;
    std::string value;  ///< escaped as the entry's values are
    bool ours;          ///< always written; else written only where the entry lacks the key
};

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// `old` (the user's entry; empty for none) with `keys` written into its desktop entry group, line by line, so that
// every other line stays as the user wrote it, the desktops' start-up settings (Hidden, X-GNOME-Autostart-enabled)
// and the user's own edits (OnlyShowIn, a start delay, translations, comments, other groups) among them. A key of
// ours keeps its place; one that is missing follows the group's last key; a repeat of one is dropped.
std::string MergeEntry(std::string_view old, const std::vector<EntryKey>& keys) {
    std::vector<bool> seen(keys.size(), false);
    std::string out;
    std::size_t insertAt = std::string::npos;
    bool inEntry = false;
    bool entrySeen = false;
    if (old.empty()) {
        old = kEntryGroup;
    }
    while (!old.empty()) {
        const std::size_t end = old.find('\n');
        const std::string_view line = old.substr(0, end);
        old = end == std::string_view::npos ? std::string_view() : old.substr(end + 1);
        const std::string_view text = TrimBlanks(line);
        if (text.starts_with('[')) {
            inEntry = !entrySeen && text == kEntryGroup;
            entrySeen = entrySeen || inEntry;
            out.append(line).append(1, '\n');
            insertAt = inEntry ? out.size() : insertAt;
            continue;
        }
        const bool keyLine = inEntry && !text.empty() && !text.starts_with('#');
        std::size_t own = keys.size();
        if (keyLine) {
            const std::string_view key = TrimBlanks(text.substr(0, text.find('=')));
            own = static_cast<std::size_t>(
                std::find_if(keys.begin(), keys.end(), [&](const EntryKey& k) { return k.key == key; }) - keys.begin());
        }
        if (own == keys.size()) {
            out.append(line).append(1, '\n');
        } else if (!seen[own]) {
            seen[own] = true;
            if (keys[own].ours) {
                out.append(keys[own].key).append(1, '=').append(keys[own].value).append(1, '\n');
            } else {
                out.append(line).append(1, '\n');
            }
        }
        if (keyLine) {
            insertAt = out.size();
        }
    }
    std::string missing;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!seen[i]) {
            missing.append(keys[i].key).append(1, '=').append(keys[i].value).append(1, '\n');
        }
    }
    out.insert(insertAt, missing);
    return out;
}

}  // namespace

AutostartShortcuts::AutostartShortcuts(std::string configHome) : configHome_(std::move(configHome)) {}

std::int32_t AutostartShortcuts::createShellLink(const std::string& /*folder*/, const std::string& linkName,
                                                 const std::string& target, const std::string& arguments) {
    // Both logon folder names mean the one autostart folder: a desktop entry carries no language of its own.
    try {
        if (configHome_.empty() || linkName.empty() || linkName == "." || linkName == ".." ||
            linkName.find('/') != std::string::npos || HasControlCharacter(linkName) || !FitsInEntry(linkName) ||
            !FitsInEntry(target) || !FitsInEntry(arguments)) {
            return 0;
        }
        // GIO (2.74) looks the Exec line's program up before it turns "%%" back into "%", and so refuses an
        // entry whose program path holds one; env, found on every system, takes the path as an argument instead,
        // where "%%" is undone. Not when the path also holds "=", which env would read as a variable to set.
        std::string exec = QuoteArgument(target);
        if (target.find('%') != std::string::npos && target.find('=') == std::string::npos) {
            exec = "env " + exec;
        }
        if (!arguments.empty()) {
            exec += " " + arguments;
        }
        const std::string autostart = configHome_ + "/autostart";
        const std::string entryPath = autostart + "/" + linkName + ".desktop";
        // Whether the entry runs is the user's choice, made in the desktop's settings: a switch they turned off
        // stays off, as Windows' start-up manager keeps its choice apart from the shortcut. GNOME's key is one that
        // the entry always had, on by default.
        const std::vector<EntryKey> keys = {
            {"Type", "Application", true},
            {"Name", EscapeValue(linkName), true},
            {"Comment", "Starts your programs one after another after you log on", true},
            {"Comment[fr]", "Démarre vos programmes l'un après l'autre à l'ouverture de session", true},
            {"Exec", EscapeValue(DoublePercent(exec)), true},
            // Once the program is gone (uninstalled, moved), the desktop skips the entry instead of failing at logon.
            {"TryExec", EscapeValue(target), true},
            {"Icon", "selvatro", true},
            {"Terminal", "false", false},
            {"X-GNOME-Autostart-enabled", "true", false},
        };
        const std::string entry = MergeEntry(UsersEntry(entryPath).value_or(""), keys);
        MakeFolders(autostart, 0700);
        // At every logon but the first the entry is already in place, word for word, and is left as it is.
        ReplaceFileAtomically(entryPath, entry, 0644);
        return 1;
    } catch (...) {
        return 0;  // the shortcut is a courtesy: its failure never stops the start-up
    }
}

std::string ConfigHome() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome != nullptr && configHome[0] == '/') {
        return configHome;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : "";
    }
    return std::string(home) + "/.config";
}

}  // namespace selvatro::platform::posix
