// Holds a file open without sharing for a while, as an editor, a backup or sync tool or an antivirus scan may hold a
// list while Selvatro starts: win32_hold FILE SECONDS. Writes "held" to standard output once the file is held.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>

int wmain() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 3) {
        std::fputs("usage: win32_hold FILE SECONDS\n", stderr);
        return 2;
    }
    const HANDLE file = CreateFileW(arguments[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD seconds = static_cast<DWORD>(std::wcstoul(arguments[2], nullptr, 10));
    LocalFree(arguments);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "win32_hold: cannot open the file (error %lu)\n", GetLastError());
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    Sleep(seconds * 1000);
    CloseHandle(file);
    return 0;
}
