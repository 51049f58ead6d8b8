// The log of the runs on Windows, under Wine: where it is, what its lines are, and how far it is kept.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/run_log_rules.h"
#include "platform/win32/win32_log.h"
#include "platform/win32/win32_services.h"

namespace fs = std::filesystem;
namespace w = selvatro::platform::win32;

namespace {

std::vector<std::string> LinesOf(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The program's record and report both reach the log in the user's local application data, dated, in UTF-8. Other
// runs may write there meanwhile: the test looks for its own lines.
TEST(Win32Log, TheRecordIsKeptInLocalAppData) {
    const std::string mark = "\"C:\\Caf\xC3\xA9\\" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount64()) + ".exe\"";
    w::Win32Process process;
    process.record("row 1 started: " + mark + ", process 12, 0.003 s late");
    process.report("row 2 (" + mark + ", delay \"3\") stopped the run: denied");
    const fs::path log = fs::path(w::LogFolder()) / "selvatro.log";
    EXPECT_EQ(log.parent_path().filename(), "Selvatro");
    std::vector<std::string> ours;
    for (const std::string& line : LinesOf(log)) {
        if (line.find(mark) != std::string::npos) {
            ours.push_back(line);
        }
    }
    ASSERT_EQ(ours.size(), 2u) << log;
    const std::regex dated("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (.*)");
    std::smatch said;
    EXPECT_TRUE(std::regex_match(ours[0], said, dated) &&
                said[1] == "row 1 started: " + mark + ", process 12, 0.003 s late")
        << ours[0];
    EXPECT_TRUE(std::regex_match(ours[1], said, dated) &&
                said[1] == "row 2 (" + mark + ", delay \"3\") stopped the run: denied")
        << ours[1];

    // A log grown past its bound keeps its newest lines, trimmed through a temporary moved over it.
    const fs::path folder = fs::temp_directory_path() / ("selvatro log " + std::to_string(GetCurrentProcessId()));
    fs::remove_all(folder);
    for (int n = 1; n <= 401; ++n) {
        w::AppendToLog(folder.wstring(), "line " + std::to_string(n), false);
    }
    w::AppendToLog(folder.wstring(), "line 402", true);
    const std::vector<std::string> lines = LinesOf(folder / "selvatro.log");
    ASSERT_EQ(lines.size(), 201u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(20), "line " + std::to_string(202 + i));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "no temporary left";
    fs::remove_all(folder);
}

}  // namespace
