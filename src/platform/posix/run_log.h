#pragma once

// The log file of the runs on a Linux desktop: a few hundred dated lines that say what each logon started and what
// failed, kept where the XDG base directories put a program's state.

#include <string>
#include <string_view>

namespace selvatro::platform::posix {

/// Writes "selvatro: <line>" and a line feed to standard error, where the session's journal keeps it. A broken pipe
/// or a journal that has gone away loses the line and never raises SIGPIPE. Never throws.
void WriteToStandardError(std::string_view line) noexcept;

/// $XDG_STATE_HOME, or ~/.local/state when it is unset, empty or not absolute.
std::string StateHome();

/// The log file `<folder>/selvatro.log`. Nothing is opened before the first line.
class RunLog {
public:
    /// The log in StateHome()/selvatro, found at the first line.
    RunLog();
    explicit RunLog(std::string folder);

    /// Adds `line` to the log, the local date and time before it, in one append: the file is opened, written and
    /// closed again, never synced. The first line of this log first trims a file that has grown past
    /// kLogTrimmedPast lines to its newest kLogKeptLines. The folder (0700, with any missing parents) and the file
    /// (0600) are made when missing. Only a regular file is written: a symbolic link, a FIFO or a folder in the
    /// log's place is left alone, at once. Never throws: a line that cannot be written is lost, without a word.
    void append(std::string_view line) noexcept;

    /// The log file's full name; empty before the first line of the default log.
    const std::string& path() const { return path_; }

private:
    void trim() const;

    std::string folder_;
    std::string path_;
    bool trimmed_ = false;
};

}  // namespace selvatro::platform::posix
