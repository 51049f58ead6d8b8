#include <glib.h>
#include <pwd.h>
#include <unistd.h>

#include <cctype>
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

// The keys by which a desktop's own start-up settings switch an entry off while leaving it in place: Hidden (the
// autostart rules' own, written by Xfce, KDE Plasma and LXQt) and X-<desktop>-Autostart-enabled (GNOME, Cinnamon,
// Budgie and Pantheon write X-GNOME-, MATE X-MATE-; X-KDE- and X-XFCE- spellings exist too).
bool IsSwitchOffKey(std::string_view key) {
    if (key == "Hidden") {
        return true;
    }
    constexpr std::string_view kPrefix = "X-";
    constexpr std::string_view kSuffix = "-autostart-enabled";
    if (key.size() <= kPrefix.size() + kSuffix.size() || key.substr(0, kPrefix.size()) != kPrefix) {
        return false;
    }
    const std::string_view desktop = key.substr(kPrefix.size(), key.size() - kPrefix.size() - kSuffix.size());
    for (const char c : desktop) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-') {
            return false;
        }
    }
    std::string suffix(key.substr(key.size() - kSuffix.size()));
    for (char& c : suffix) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return suffix == kSuffix;
}

struct Switch {
    std::string key;
    bool on;
};

// The switch-off keys that the user's copy of the entry holds, in its order. A value that is no boolean counts for
// nothing with the desktops either, and is dropped; so is everything when the file is no desktop entry at all.
std::vector<Switch> SwitchesOf(const std::string& entryPath) {
    // A desktop entry is a few hundred bytes; a huge file at that name is no entry of ours to learn from.
    constexpr std::size_t kLargestEntry = 64 * 1024;
    const std::optional<std::string> old = ReadRegularFile(entryPath, kLargestEntry);
    if (!old) {
        return {};
    }
    const std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> file(g_key_file_new(), g_key_file_free);
    if (!g_key_file_load_from_data(file.get(), old->data(), old->size(), G_KEY_FILE_NONE, nullptr)) {
        return {};
    }
    gchar** keys = g_key_file_get_keys(file.get(), G_KEY_FILE_DESKTOP_GROUP, nullptr, nullptr);
    std::vector<Switch> switches;
    for (gchar** key = keys; key != nullptr && *key != nullptr; ++key) {
        if (!IsSwitchOffKey(*key)) {
            continue;
        }
        GError* error = nullptr;
        const gboolean on = g_key_file_get_boolean(file.get(), G_KEY_FILE_DESKTOP_GROUP, *key, &error);
        if (error == nullptr) {
            switches.push_back({*key, on != FALSE});
        }
        g_clear_error(&error);
    }
    g_strfreev(keys);
    return switches;
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
        std::string entry = "[Desktop Entry]\nType=Application\n";
        entry += "Name=" + EscapeValue(linkName) + "\n";
        entry += "Comment=Starts your programs one after another after you log on\n";
        entry += "Exec=" + EscapeValue(DoublePercent(exec)) + "\n";
        // Once the program is gone (uninstalled, moved), the desktop skips the entry instead of failing at logon.
        entry += "TryExec=" + EscapeValue(target) + "\n";
        entry += "Icon=selvatro\nTerminal=false\n";
        const std::string autostart = configHome_ + "/autostart";
        const std::string entryPath = autostart + "/" + linkName + ".desktop";
        // The entry is ours, but whether it runs is the user's choice, made in the desktop's settings: a switch
        // they turned off stays off, as Windows' start-up manager keeps its choice apart from the shortcut.
        // GNOME's key is one that the entry always had, on by default.
        bool gnomeOn = true;
        std::string otherSwitches;
        for (const Switch& kept : SwitchesOf(entryPath)) {
            if (kept.key == "X-GNOME-Autostart-enabled") {
                gnomeOn = kept.on;
            } else {
                otherSwitches += kept.key + (kept.on ? "=true\n" : "=false\n");
            }
        }
        entry += gnomeOn ? "X-GNOME-Autostart-enabled=true\n" : "X-GNOME-Autostart-enabled=false\n";
        entry += otherSwitches;
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
