// A stand-in for a listed program on Windows: installed under any name (a copy), it records that it was started,
// then ends. One line a start, appended in one write to launches.log beside it:
//
//     NAME <tab> ARGUMENT COUNT <tab> SYSTEM TIME AS UNIX SECONDS.NANOSECONDS
//
// The system time is read first thing; under Wine it is the host's clock, which the test script reads too.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/) {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    ULARGE_INTEGER units{};
    units.LowPart = now.dwLowDateTime;
    units.HighPart = now.dwHighDateTime;
    // 100 ns units since 1601 to seconds since 1970.
    const unsigned long long sinceUnix = units.QuadPart - 116444736000000000ULL;

    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const std::wstring::size_type slash = self.find_last_of(L"\\/");
    const std::wstring folder = self.substr(0, slash);
    const std::wstring name = self.substr(slash + 1);

    int count = 0;
    LocalFree(CommandLineToArgvW(GetCommandLineW(), &count));
    char time[64];
    std::snprintf(time, sizeof(time), "%llu.%07llu00", sinceUnix / 10000000ULL, sinceUnix % 10000000ULL);
    std::string line;
    for (const wchar_t c : name) {
        line.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    line += "\t" + std::to_string(count - 1) + "\t" + time + "\n";

    const std::wstring log = folder + L"\\launches.log";
    HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok != FALSE ? 0 : 1;
}
