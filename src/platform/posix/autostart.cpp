#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

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
        entry += "Icon=selvatro\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
        const std::string autostart = configHome_ + "/autostart";
        MakeFolders(autostart, 0700);
        // At every logon but the first the entry is already in place, word for word, and is left as it is.
        ReplaceFileAtomically(autostart + "/" + linkName + ".desktop", entry, 0644);
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
