// Selvatro on Windows: the Win32 window and dialogs, the Win32 services, Form1 between them.

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/form1.h"
#include "desktop/logon_entries.h"
#include "platform/event_gate.h"
#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_single_copy.h"
#include "platform/win32/win32_window.h"
#include "platform/window_driver.h"
#include "window/layout.h"

namespace {

namespace win32 = selvatro::platform::win32;

// The message loop: Tab and Shift+Tab move between the window's controls as in a dialog. It ends only when the
// session's end posts WM_QUIT, which the unload event normally forestalls by ending the process.
void RunMessageLoop(win32::FormWindow& formWindow) {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!formWindow.preTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// True for the one argument that the program takes: "/give-back" (or "--give-back"), blanks around it ignored.
bool AsksToGiveBack(const wchar_t* commandLine) {
    std::wstring_view line = commandLine != nullptr ? commandLine : L"";
    line.remove_prefix(std::min(line.find_first_not_of(L" \t"), line.size()));
    line.remove_suffix(line.size() - std::min(line.find_last_not_of(L" \t") + 1, line.size()));
    return line == L"/give-back" || line == L"--give-back";
}

// `selvatro.exe /give-back`, which the uninstaller runs before it removes the program: switches every logon entry
// that Selvatro took over back on, and touches nothing else (no window, no list, no Startup shortcut). Exit status 0
// when all went back, 1 otherwise, each failure in the debugger's output.
int GiveBack() {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    win32::Win32Process process;
    win32::Win32LogonEntries entries;
    const std::vector<std::string> failures = selvatro::desktop::GiveBackAll(entries);
    for (const std::string& failure : failures) {
        process.report("could not be given back: " + failure);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return failures.empty() ? 0 : 1;
}

// "/?" anywhere on the command line shows what the program does and its version in a message box, and the program
// ends there, before anything is read, written or shown; every other argument is ignored, as it always was.
bool AnsweredUsage(const win32::Win32AppFacts& facts) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return false;
    }
    bool asked = false;
    for (int i = 1; i < count; ++i) {
        asked = asked || std::wstring(arguments[i]) == L"/?";
    }
    LocalFree(arguments);
    if (!asked) {
        return false;
    }
    const selvatro::platform::Version version = facts.version();
    const std::wstring text =
        L"Usage: selvatro.exe [/? | /give-back]\n\n"
        L"Starts up to five programs one after another after you log on, each at its own delay in seconds. At every "
        L"start it puts Selvatro.lnk in your Startup folder and reads its list, selvatro.cfg beside the program "
        L"(%APPDATA%\\Selvatro\\selvatro.cfg where you may not write there): with a program in the first row it "
        L"counts the seconds in its minimised window's title and starts each program at its delay; with an empty "
        L"first row it opens its window so that you fill the list in.\n\n/give-back switches back on the programs that "
        L"Selvatro took over from Windows' own start at logon, and ends (the uninstaller runs it).\n\nSelvatro " +
        std::to_wstring(version.major) + L"." + std::to_wstring(version.minor) + L"." +
        std::to_wstring(version.revision);
    MessageBoxW(nullptr, text.c_str(), L"Selvatro", MB_OK | MB_ICONINFORMATION);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR commandLine, int /*show*/) {
    using namespace selvatro;

    // The program takes no arguments, and ignores any it is given, but for these.
    if (AsksToGiveBack(commandLine)) {
        return GiveBack();
    }

    if (AnsweredUsage(win32::Win32AppFacts())) {
        return 0;
    }
    // The shortcut and the screen-reader names use COM, on this one user-interface thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    win32::Win32AppFacts facts;
    win32::Win32Process process;
    // One running copy per list: a later start brings the first copy's window back and ends.
    win32::SingleCopy copy(facts.folder());
    if (!copy.isFirst()) {
        return copy.showFirst() ? 0 : 1;
    }

    platform::EventGate gate;
    // A GUI program has no standard error: an unhandled run-time error leaves its line in the debugger's output
    // and ends the process with status 1.
    gate.setFatalHandler([&process](const std::string& what) {
        process.report("unhandled run-time error: " + what);
        process.end(1);
    });
    try {
        platform::WindowDriver driver(gate, window::kDesign);
        win32::FormWindow formWindow(driver, window::kDesign);
        win32::Win32MessageBoxes messages(gate, formWindow.handle());
        win32::Win32Language language;
        win32::Win32Files files;
        win32::Win32Programs programs;
        win32::StartupShortcuts shortcuts;
        win32::Win32LogonEntries logonEntries;
        // The user guide beside the executable is the publisher page; a bare copy of the program opens the one
        // it carries.
        win32::ShellBrowser browser(facts.folder(), win32::CarriedGuide());
        browser.setOwner(formWindow.handle());

        Form1 form(driver.controls(), platform::Services{messages, facts, programs, files, language, shortcuts, browser,
                                                         process, logonEntries});
        gate.connect(form);
        copy.publishWindow(formWindow.handle());

        gate.raise([](platform::FormEvents& events) { events.Form_Load(); });
        driver.setAccessibleTexts(form.Francais == 1 ? window::kDesign.accessibleFrench
                                                     : window::kDesign.accessibleEnglish);
        driver.showInState();
        RunMessageLoop(formWindow);
        // The loop stops only at the end of the session, whose handler has already unloaded; should it stop
        // otherwise, the list is saved all the same.
        driver.requestUnload();
    } catch (const std::exception& error) {
        // The window could not be made (no desktop to show it on): nothing was loaded, so nothing is lost.
        process.report(std::string("cannot start: ") + error.what());
        return 1;
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return 0;
}
