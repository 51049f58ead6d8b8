#include "platform/run_log_rules.h"

#include <algorithm>
#include <string>

namespace selvatro::platform {

namespace {

// `value` in decimal, with zeros in front up to `width` digits.
void AppendPadded(std::string& out, int value, std::size_t width) {
    if (value < 0) {
        out += '-';
        value = -value;
    }
    const std::string digits = std::to_string(value);
    if (digits.size() < width) {
        out.append(width - digits.size(), '0');
    }
    out += digits;
}

}  // namespace

std::string LogLine(const LocalTime& when, std::string_view line) {
    std::string out;
    out.reserve(21 + line.size());
    AppendPadded(out, when.year, 4);
    out += '-';
    AppendPadded(out, when.month, 2);
    out += '-';
    AppendPadded(out, when.day, 2);
    out += ' ';
    AppendPadded(out, when.hour, 2);
    out += ':';
    AppendPadded(out, when.minute, 2);
    out += ':';
    AppendPadded(out, when.second, 2);
    out += ' ';
    for (const char c : line) {
        out += c == '\n' || c == '\r' ? ' ' : c;
    }
    out += '\n';
    return out;
}

std::optional<std::string> TrimmedLog(std::string_view text, bool cutAtStart) {
    if (cutAtStart) {
        const std::size_t firstEnd = text.find('\n');
        text = firstEnd == std::string_view::npos ? std::string_view() : text.substr(firstEnd + 1);
    }
    // A last line without its line feed (a write that a full disk cut short) counts as a line.
    const bool ended = text.empty() || text.back() == '\n';
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + (ended ? 0 : 1);
    if (lines <= kLogTrimmedPast && !cutAtStart) {
        return std::nullopt;
    }
    std::size_t keptFrom = 0;
    if (lines > kLogKeptLines) {
        // The kept lines begin after the kLogKeptLines-th line feed from the end, the last line's own not counted.
        std::size_t lineFeed = text.size() - (ended ? 1 : 0);
        for (std::size_t n = 0; n < kLogKeptLines; ++n) {
            lineFeed = text.rfind('\n', lineFeed - 1);
        }
        keptFrom = lineFeed + 1;
    }
    std::string kept(text.substr(keptFrom));
    if (!ended) {
        kept += '\n';
    }
    return kept;
}

}  // namespace selvatro::platform
