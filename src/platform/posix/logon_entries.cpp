#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/errors.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

// The desktops read an autostart entry from the user's folder first and from the system's folders only where the
// user has none of the same name; `Hidden=true` in the user's one switches the entry off for all of them (GNOME,
// KDE, Xfce, dex, systemd's autostart generator), which is also how their start-up settings do it. The switch is
// two lines, put right under the group's header and taken out again, so that nothing else of the user's entry ever
// changes; a copy made to shadow a system entry is removed when it is still exactly that copy.

namespace selvatro::platform::posix {

namespace {

constexpr std::string_view kGroup = "[Desktop Entry]";
constexpr std::string_view kHiddenLine = "Hidden=true";
constexpr std::string_view kMarkLine = "X-Selvatro-Took-Over=true";
constexpr std::string_view kSuffix = ".desktop";
constexpr std::size_t kEntryLimit = 256 * 1024;  // an entry is a few hundred bytes; anything huge is no entry

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The lines of a text, each without its line feed; a last line without one counts too.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The key of a "key=value" line of the main group and its value, blanks around the sign taken off.
struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#' || trimmed.front() == '[') {
        return std::nullopt;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyLine{Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1))};
}

// What matters of an entry for its switch: the keys of its main group.
struct EntryFacts {
    bool isEntry = false;  // it has the main group
    std::string name;
    std::string program;  // Exec's first word, as written
    bool hidden = false;
    bool marked = false;
    bool gnomeDisabled = false;
};

EntryFacts ReadFacts(std::string_view text) {
    EntryFacts facts;
    bool inGroup = false;
    for (const std::string_view line : Lines(text)) {
        const std::string_view trimmed = Trim(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            inGroup = trimmed == kGroup;
            facts.isEntry = facts.isEntry || inGroup;
            continue;
        }
        const std::optional<KeyLine> key = inGroup ? ParseKeyLine(line) : std::nullopt;
        if (!key) {
            continue;
        }
        if (key->key == "Name") {
            facts.name = key->value;
        } else if (key->key == "Exec") {
            const std::string_view exec = key->value;
            const bool quoted = !exec.empty() && exec.front() == '"';
            const std::size_t end = quoted ? exec.find('"', 1) : exec.find(' ');
            facts.program =
                quoted ? exec.substr(1, end == std::string_view::npos ? end : end - 1) : exec.substr(0, end);
        } else if (key->key == "Hidden") {
            facts.hidden = key->value == "true";
        } else if (key->key == "X-Selvatro-Took-Over") {
            facts.marked = key->value == "true";
        } else if (key->key == "X-GNOME-Autostart-enabled") {
            facts.gnomeDisabled = key->value == "false";
        }
    }
    return facts;
}

std::string Joined(const std::vector<std::string_view>& lines, bool finalNewline) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text.append(lines[i]);
        if (i + 1 < lines.size() || finalNewline) {
            text += '\n';
        }
    }
    return text;
}

// The entry switched off: the two lines right under the main group's header, any other Hidden line of that group
// taken out (there may be only one).
std::optional<std::string> SwitchedOff(std::string_view text) {
    std::vector<std::string_view> lines;
    bool inGroup = false;
    bool found = false;
    for (const std::string_view line : Lines(text)) {
        const std::string_view trimmed = Trim(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            inGroup = trimmed == kGroup && !found;
            lines.push_back(line);
            if (inGroup) {
                found = true;
                lines.push_back(kHiddenLine);
                lines.push_back(kMarkLine);
            }
            continue;
        }
        const std::optional<KeyLine> key = inGroup ? ParseKeyLine(line) : std::nullopt;
        if (key && (key->key == "Hidden" || key->key == "X-Selvatro-Took-Over")) {
            continue;
        }
        lines.push_back(line);
    }
    if (!found) {
        return std::nullopt;
    }
    return Joined(lines, text.empty() || text.back() == '\n');
}

// The entry with Selvatro's two lines taken out of its main group, the rest as it stands.
std::string SwitchedOn(std::string_view text) {
    std::vector<std::string_view> lines;
    bool inGroup = false;
    for (const std::string_view line : Lines(text)) {
        const std::string_view trimmed = Trim(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            inGroup = trimmed == kGroup;
        } else if (inGroup && (trimmed == kHiddenLine || trimmed == kMarkLine)) {
            continue;
        }
        lines.push_back(line);
    }
    return Joined(lines, text.empty() || text.back() == '\n');
}

std::optional<std::string> ReadEntry(const std::string& path) {
    return ReadRegularFile(path, kEntryLimit);
}

// The folder as the system resolves it, so that another path to the same folder (a link, "..") is the same place.
std::string Resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsOwnEntry(const std::string& id, const EntryFacts& facts) {
    std::string lower = id;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const std::size_t slash = facts.program.find_last_of('/');
    const std::string program = slash == std::string::npos ? facts.program : facts.program.substr(slash + 1);
    return lower == "selvatro.desktop" || program == "selvatro";
}

}  // namespace

AutostartEntries::AutostartEntries(std::string configHome, std::vector<std::string> configDirs)
    : configHome_(std::move(configHome)), configDirs_(std::move(configDirs)) {}

std::vector<std::string> AutostartEntries::places() {
    std::vector<std::string> places;
    const auto offer = [&places](const std::string& folder) {
        if (IsFolder(folder) && std::find(places.begin(), places.end(), folder) == places.end()) {
            places.push_back(folder);
        }
    };
    if (!configHome_.empty()) {
        offer(configHome_ + "/autostart");
    }
    for (const std::string& dir : configDirs_) {
        offer(dir + "/autostart");
    }
    return places;
}

std::optional<LogonEntry> AutostartEntries::entryOf(const std::string& file) {
    const PathParts parts = SplitPath(file);
    if (!EndsWith(parts.name, kSuffix) || configHome_.empty()) {
        return std::nullopt;
    }
    const std::string folder = Resolved(parts.folder);
    const std::string userFolder = configHome_ + "/autostart";
    bool inPlace = folder == Resolved(userFolder);
    for (const std::string& dir : configDirs_) {
        inPlace = inPlace || folder == Resolved(dir + "/autostart");
    }
    if (!inPlace) {
        return std::nullopt;
    }
    // The desktop goes by the user's entry of that name where there is one, and by the first system one otherwise.
    std::optional<std::string> text = ReadEntry(userFolder + "/" + parts.name);
    for (std::size_t i = 0; !text && i < configDirs_.size(); ++i) {
        text = ReadEntry(configDirs_[i] + "/autostart/" + parts.name);
    }
    if (!text) {
        return std::nullopt;
    }
    const EntryFacts facts = ReadFacts(*text);
    if (!facts.isEntry || IsOwnEntry(parts.name, facts)) {
        return std::nullopt;
    }
    LogonEntry entry;
    entry.id = parts.name;
    entry.name = facts.name.empty() ? parts.name.substr(0, parts.name.size() - kSuffix.size()) : facts.name;
    if (facts.hidden) {
        entry.state = facts.marked ? LogonEntry::State::OffBySelvatro : LogonEntry::State::Off;
    } else if (facts.gnomeDisabled) {
        entry.state = LogonEntry::State::Off;
    }
    return entry;
}

void AutostartEntries::takeOver(const LogonEntry& entry) {
    const std::string userFolder = configHome_ + "/autostart";
    const std::string userFile = userFolder + "/" + entry.id;
    std::optional<std::string> text = ReadEntry(userFile);
    for (std::size_t i = 0; !text && i < configDirs_.size(); ++i) {
        text = ReadEntry(configDirs_[i] + "/autostart/" + entry.id);
    }
    if (!text) {
        throw FileError(userFile + ": " + ErrnoText(ENOENT));
    }
    const std::optional<std::string> off = SwitchedOff(*text);
    if (!off) {
        throw FileError(userFile + ": not a desktop entry");
    }
    MakeFolders(userFolder, 0700);
    ReplaceFileAtomically(userFile, *off, 0644);
}

std::vector<LogonEntry> AutostartEntries::takenOver() {
    std::vector<LogonEntry> taken;
    if (configHome_.empty()) {
        return taken;
    }
    const std::string userFolder = configHome_ + "/autostart";
    DIR* folder = opendir(userFolder.c_str());
    if (folder == nullptr) {
        return taken;
    }
    while (const dirent* item = readdir(folder)) {
        const std::string name = item->d_name;
        if (!EndsWith(name, kSuffix)) {
            continue;
        }
        const std::optional<LogonEntry> entry = entryOf(userFolder + "/" + name);
        if (entry && entry->state == LogonEntry::State::OffBySelvatro) {
            taken.push_back(*entry);
        }
    }
    closedir(folder);
    std::sort(taken.begin(), taken.end(), [](const LogonEntry& a, const LogonEntry& b) { return a.id < b.id; });
    return taken;
}

void AutostartEntries::giveBack(const LogonEntry& entry) {
    const std::string userFile = configHome_ + "/autostart/" + entry.id;
    const std::optional<std::string> text = ReadEntry(userFile);
    if (!text) {
        return;  // the user removed it: nothing to give back
    }
    const EntryFacts facts = ReadFacts(*text);
    if (!facts.hidden || !facts.marked) {
        return;  // switched on again, or off by the user's own hand since
    }
    const std::string on = SwitchedOn(*text);
    for (const std::string& dir : configDirs_) {
        const std::optional<std::string> system = ReadEntry(dir + "/autostart/" + entry.id);
        if (system) {
            // A copy that still says just what the system's entry says was made only to switch it off.
            if (on == *system) {
                if (unlink(userFile.c_str()) != 0 && errno != ENOENT) {
                    throw FileError(userFile + ": " + ErrnoText(errno));
                }
                return;
            }
            break;
        }
    }
    ReplaceFileAtomically(userFile, on, 0644);
}

}  // namespace selvatro::platform::posix
