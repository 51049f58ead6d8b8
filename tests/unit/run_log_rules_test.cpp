// The log file's shared rules: the dated line and how far the file is kept.

#include "platform/run_log_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace selvatro::platform {
namespace {

// Lines "line <first>" to "line <last>", each ended by a line feed.
std::string Lines(int first, int last) {
    std::string text;
    for (int n = first; n <= last; ++n) {
        text.append("line ").append(std::to_string(n)).append("\n");
    }
    return text;
}

TEST(LogLine, DatesTheLineAndKeepsItOneLine) {
    EXPECT_EQ(LogLine({2026, 12, 7, 22, 30, 1}, "the run ended with status 0"),
              "2026-12-07 22:30:01 the run ended with status 0\n");
    EXPECT_EQ(LogLine({987, 1, 2, 3, 4, 5}, ""), "0987-01-02 03:04:05 \n");
    // A path may hold line breaks of either kind: they cannot split one record over lines of the file.
    EXPECT_EQ(LogLine({2026, 1, 1, 0, 0, 0}, "row 1 started: \"/tmp/a\nb\r\nc\""),
              "2026-01-01 00:00:00 row 1 started: \"/tmp/a b  c\"\n");
}

TEST(TrimmedLog, KeepsTheNewestLinesOnceTheLogHasGrownPastItsBound) {
    struct Case {
        const char* what;
        std::string text;
        bool cutAtStart;
        std::optional<std::string> kept;
    };
    const Case cases[] = {
        {"empty", "", false, std::nullopt},
        {"at the bound", Lines(1, 400), false, std::nullopt},
        {"one past", Lines(1, 401), false, Lines(202, 401)},
        {"far past", Lines(1, 5000), false, Lines(4801, 5000)},
        {"one past, its last line cut short", Lines(1, 400) + "line 401", false, Lines(202, 401)},
        {"empty lines count", std::string(401, '\n'), false, std::string(200, '\n')},
        {"the end of a longer file", "ne 0\n" + Lines(1, 3), true, Lines(1, 3)},
        {"the end of a longer file, one part line", "no line feed", true, ""},
        {"the end of a longer file, far past", "e 0\n" + Lines(1, 500), true, Lines(301, 500)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TrimmedLog(c.text, c.cutAtStart), c.kept) << c.what;
    }
}

}  // namespace
}  // namespace selvatro::platform
