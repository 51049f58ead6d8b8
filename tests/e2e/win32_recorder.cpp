// A stand-in for a listed program on Windows: installed under any name (a copy), it records that it was started,
// then ends. One line a start, appended in one write to launches.log beside it:
//
//     NAME <tab> ARGUMENT COUNT <tab> SYSTEM TIME AS UNIX SECONDS.NANOSECONDS <tab> ARGUMENTS <tab> CURRENT FOLDER
//
// The arguments are joined by "|"; a character beyond ASCII in them or in the folder is written "?".
//
// The time is the process's creation, when the program that started it asked for it: under Wine the process's own
// code runs a variable while later on a busy machine. It is the host's clock, which the test script reads too.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/) {
    FILETIME now{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (GetProcessTimes(GetCurrentProcess(), &now, &exited, &kernel, &user) == FALSE) {
        GetSystemTimePreciseAsFileTime(&now);
    }
    ULARGE_INTEGER units{};
    units.LowPart = now.dwLowDateTime;
    units.HighPart = now.dwHighDateTime;
    // 100 ns units since 1601 to seconds since 1970.
    const unsigned long long sinceUnix = units.QuadPart - 116444736000000000ULL;

    // Plain buffers: GCC 12 at -O3 warns falsely about the string concatenations that would do this.
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    wchar_t* name = path;
    for (wchar_t* at = path; *at != L'\0'; ++at) {
        if (*at == L'\\' || *at == L'/') {
            name = at + 1;
        }
    }

    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    char line[4 * MAX_PATH + 96] = {};
    int used = 0;
    // Appends `text` as ASCII, leaving room for the time and the line's end.
    const auto append = [&line, &used](const wchar_t* text) {
        for (const wchar_t* c = text; *c != L'\0' && used < 4 * MAX_PATH; ++c) {
            line[used++] = *c < 0x80 ? static_cast<char>(*c) : '?';
        }
    };
    append(name);
    used += std::snprintf(line + used, sizeof(line) - static_cast<std::size_t>(used), "\t%d\t%llu.%07llu00\t",
                          count - 1, sinceUnix / 10000000ULL, sinceUnix % 10000000ULL);
    for (int i = 1; arguments != nullptr && i < count; ++i) {
        append(i > 1 ? L"|" : L"");
        append(arguments[i]);
    }
    LocalFree(arguments);
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD folderLength = GetCurrentDirectoryW(MAX_PATH + 1, folder);
    append(L"\t");
    append(folderLength <= MAX_PATH ? folder : L"");
    line[used++] = '\n';

    const wchar_t log[] = L"launches.log";
    for (std::size_t i = 0; i < sizeof(log) / sizeof(log[0]); ++i) {
        name[i] = log[i];  // the buffer has room for the longer name
    }
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
    CloseHandle(file);
    return ok != FALSE ? 0 : 1;
}
