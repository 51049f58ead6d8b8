// The yardstick for Selvatro on Windows: a bare Win32 window with the same controls (ten edit boxes, two static
// headings, a static frame), created minimised without taking the focus, and nothing else.
//
//   minimal_window_win32
//       waits until the window is closed: the cold-start yardstick.
//   minimal_window_win32 --run DELAY PROGRAM [DELAY PROGRAM ...]
//       does Selvatro's job in the plainest way Win32 allows: from the window's creation, a one-shot SetTimer
//       armed for each due instant (every 1000 ms, counted from the start, so that no delay adds up); each tick
//       sets the caption to "<n> sec." and starts with CreateProcessW the programs whose delay equals the count;
//       the tick after the last delay ends the process.
//
// Built twice. With MINIMAL_WRITES_SHORTCUT defined (bench_shortcut_window_win32) it also does, before the window is
// shown, what Selvatro's design needs at every start beyond the window: COM initialised for the thread at the very
// start, then its logon entry written, a shell link to this executable saved in the user's Startup folder through
// IShellLinkW and IPersistFile ("Minimal.lnk"). That build is the yardstick for what the design costs; the plain
// one, which neither calls nor imports COM, for what Win32 alone costs.

#include <windows.h>

#include <shellapi.h>
#ifdef MINIMAL_WRITES_SHORTCUT
#include <objbase.h>
#include <shlobj.h>
#endif

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Row {
    int delay;
    std::wstring program;
};

constexpr UINT_PTR kTimerId = 1;

std::vector<Row> rows;
LARGE_INTEGER frequency{};
LARGE_INTEGER started{};
int count = 0;

double SecondsSinceStart() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Arms the timer for tick number count + 1, due at that many seconds after the start.
void ArmNextTick(HWND window) {
    const double left = (static_cast<double>(count) + 1.0 - SecondsSinceStart()) * 1000.0;
    SetTimer(window, kTimerId, static_cast<UINT>(std::ceil(left > 1.0 ? left : 1.0)), nullptr);
}

void Start(const std::wstring& program) {
    // CreateProcessW may write into the command line: a copy of its own.
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process) != FALSE) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

void Tick(HWND window) {
    KillTimer(window, kTimerId);
    ++count;
    SetWindowTextW(window, (std::to_wstring(count) + L" sec.").c_str());
    int last = 0;
    for (const Row& row : rows) {
        if (row.delay == count) {
            Start(row.program);
        }
        last = row.delay > last ? row.delay : last;
    }
    if (count > last) {
        ExitProcess(0);
    }
    ArmNextTick(window);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (wParam == kTimerId) {
                Tick(window);
                return 0;
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

#ifdef MINIMAL_WRITES_SHORTCUT
// The logon entry as Selvatro writes it at each start: COM for the call alone, the Startup folder made if missing,
// the link's target, empty arguments, working folder and show command set, the file saved whole.
void WriteStartupShortcut() {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    PWSTR startup = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, KF_FLAG_CREATE, nullptr, &startup)) && startup != nullptr) {
        std::wstring program(32768, L'\0');
        program.resize(GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
        const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
        const std::wstring file = std::wstring(startup) + L"\\Minimal.lnk";
        IShellLinkW* link = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&link)))) {
            IPersistFile* persist = nullptr;
            if (SUCCEEDED(link->SetPath(program.c_str())) && SUCCEEDED(link->SetArguments(L"")) &&
                SUCCEEDED(link->SetWorkingDirectory(folder.c_str())) && SUCCEEDED(link->SetShowCmd(SW_SHOWNORMAL)) &&
                SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
                persist->Save(file.c_str(), TRUE);
                persist->Release();
            }
            link->Release();
        }
    }
    CoTaskMemFree(startup);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

#endif

void AddControl(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, int x, int y, int width,
                int height) {
    CreateWindowExW(0, kind, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent, nullptr,
                    GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/) {
    QueryPerformanceFrequency(&frequency);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv != nullptr && argc >= 2 && std::wstring(argv[1]) == L"--run") {
        for (int i = 2; i + 1 < argc; i += 2) {
            rows.push_back({_wtoi(argv[i]), argv[i + 1]});
        }
    }
    LocalFree(argv);
#ifdef MINIMAL_WRITES_SHORTCUT
    // Selvatro initialises COM for its one thread before anything else, and keeps it until its end.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
#endif

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = L"MinimalWindow";
    if (RegisterClassExW(&windowClass) == 0) {
        return 1;
    }
    RECT frame{0, 0, 356, 200};
    AdjustWindowRect(&frame, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE);
    HWND window = CreateWindowExW(
        0, L"MinimalWindow", L"Minimal", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
        CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    for (int i = 0; i < 2; ++i) {
        AddControl(window, L"STATIC", L"Heading", 0, 8 + 228 * i, 0, 117, 21);
    }
    for (int row = 0; row < 5; ++row) {
        AddControl(window, L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL, 4, 22 + 26 * row, 317, 23);
        AddControl(window, L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL, 324, 22 + 26 * row, 27, 23);
    }
    AddControl(window, L"STATIC", L"", SS_BLACKFRAME, 4, 156, 349, 41);
#ifdef MINIMAL_WRITES_SHORTCUT
    WriteStartupShortcut();
#endif

    ShowWindow(window, SW_SHOWMINNOACTIVE);
    if (!rows.empty()) {
        QueryPerformanceCounter(&started);
        ArmNextTick(window);
    }
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
#ifdef MINIMAL_WRITES_SHORTCUT
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
#endif
    return 0;
}
