#pragma once

// The log file of the runs on Windows: a few hundred dated lines that say what each logon started and what failed,
// in the user's local application data, where it does not roam with the profile.

#include <string>
#include <string_view>

namespace selvatro::platform::win32 {

/// %LOCALAPPDATA%\Selvatro, the folder of the log: the user's known local application data folder, or where the
/// system names none, the environment's LOCALAPPDATA. Empty when neither names one.
std::wstring LogFolder();

/// Adds `line` to `<folder>\selvatro.log` in UTF-8, the local date and time before it, in one append: the file is
/// opened, written and closed again, never flushed to the disk. With `trimFirst`, a file that has grown past
/// kLogTrimmedPast lines is first cut to its newest kLogKeptLines. The folder is made, with its parents, when
/// missing. Only a file on a disk is written: a folder or a reparse point (a link) in the log's place is left alone.
/// Never throws: a line that cannot be written is lost, without a word.
void AppendToLog(const std::wstring& folder, std::string_view line, bool trimFirst) noexcept;

/// Adds `line` to the log in LogFolder(), trimming it first at the process's first line.
void AppendToRunLog(std::string_view line) noexcept;

}  // namespace selvatro::platform::win32
