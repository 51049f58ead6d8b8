#pragma once

// The rules of the run's log file that every desktop shares: how a line is written into it and how much of it is
// kept. Each desktop reads its own clock and writes its own file; what the bytes are is decided here, once.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace selvatro::platform {

/// The log's name in its folder.
inline constexpr std::string_view kLogFileName = "selvatro.log";

/// How many of its newest lines a log keeps when it is trimmed, and how long it grows before it is: trimmed only
/// once it holds twice what it keeps, the file is rewritten every few dozen runs rather than at each.
inline constexpr std::size_t kLogKeptLines = 200;
inline constexpr std::size_t kLogTrimmedPast = 2 * kLogKeptLines;

/// How much of a log's end is read to trim it: far more than the kept lines take, so that a log that something
/// else filled up is never read whole.
inline constexpr std::size_t kLogTailBytes = 256 * 1024;

/// A moment on the local clock, as the system gives it (month 1 to 12).
struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

/// `line` as the log holds it: the local date and time ("2026-12-07 22:30:01 "), the line, a line feed. A line
/// break inside the line (a Linux path may hold one) becomes a blank, so that one record stays one line of the file.
std::string LogLine(const LocalTime& when, std::string_view line);

/// What a log that holds `text` becomes when it is trimmed: its newest kLogKeptLines lines, the last one ended by a
/// line feed. Nothing while it holds no more than kLogTrimmedPast lines and may stay as it is. `cutAtStart` says
/// that `text` is only the end of the file, begun inside a line: that part line is never kept, and the file,
/// longer than the log ever grows by itself, is always trimmed.
std::optional<std::string> TrimmedLog(std::string_view text, bool cutAtStart);

}  // namespace selvatro::platform
