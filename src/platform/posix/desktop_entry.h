#pragma once

// What a listed path starts: the path itself, or, for a desktop's application entry (a ".desktop" file), the
// program that its Exec line names, with its arguments, in its working folder, as the desktop would start it when
// the user clicks the entry without giving it any file.

#include <optional>
#include <string>
#include <vector>

namespace selvatro::platform::posix {

/// A program to start: found, its arguments after its own name, and the folder to start it in (empty: ours).
struct LaunchCommand {
    std::string program;
    std::vector<std::string> arguments;
    std::string folder;

    friend bool operator==(const LaunchCommand&, const LaunchCommand&) = default;
};

/// True when `path` names a desktop entry by its name: it ends in ".desktop".
bool IsDesktopEntryName(const std::string& path);

/// The command that starts `path`: the path alone when it is no desktop entry by its name; otherwise what the entry
/// says. The entry's program is looked up here, in the calling process, so that nothing is searched for once a
/// child exists. Throws ProgramMissing when the entry is hidden (deleted for this user) or its program is not
/// installed (its TryExec or its Exec program is not there), StartFailed when the entry cannot be read, is no
/// application, or its Exec line is missing or invalid, or it needs a terminal and none is installed; each reason
/// begins with `path` and ": ".
LaunchCommand CommandFor(const std::string& path);

/// The program that the desktop entry `path` names, as its Exec line writes it (its first word, unquoted); nothing
/// when `path` is no desktop entry by its name, cannot be read, or has no Exec line that can be read. Never throws.
std::optional<std::string> EntryProgram(const std::string& path) noexcept;

}  // namespace selvatro::platform::posix
