// The log of the runs on Windows, under Wine: where it is and what its lines are.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

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
    const wchar_t* localAppData = _wgetenv(L"LOCALAPPDATA");
    ASSERT_NE(localAppData, nullptr);
    EXPECT_EQ(log, fs::path(localAppData) / "Selvatro" / "selvatro.log");
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
}

}  // namespace
