// The Win32 window on real controls (under Wine with an X server): the event rules that every desktop keeps, and
// what only this window adds (the tab order, the focus on opening and restoring, the mouse, the layout in twips,
// the timer's precision, the unload, the open dialog).

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "conformance/event_rules.h"
#include "fake/event_recorder.h"
#include "platform/errors.h"
#include "platform/event_gate.h"
#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_window.h"
#include "window/layout.h"

namespace selvatro::platform::win32::test {
namespace {

using platform::WindowState;
using Events = std::vector<std::string>;

using Recorder = fake::EventRecorder;

/// The window with a recorder behind its gate; errors escaping an event from the loop are kept, not fatal.
struct Rig {
    Rig() : driver(gate, window::kDesign), window(driver, window::kDesign), controls(driver.controls()) {
        gate.connect(recorder);
        gate.setFatalHandler([this](const std::string& what) { fatal.push_back(what); });
        controls.timer1.setEnabled(false);
    }
    /// Shows the window in `state`: the first show, which raises the resize event once.
    void show(WindowState state) {
        driver.setWindowState(state);
        driver.showInState();
        pump(100);
    }
    /// The boxes, as the core reaches them.
    TextBox& text1(int row) { return *controls.text1.at(static_cast<std::size_t>(row)); }
    TextBox& text2(int row) { return *controls.text2.at(static_cast<std::size_t>(row)); }
    /// Runs the message loop for `ms` milliseconds, as the program's loop does.
    void pump(int ms) {
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
        for (;;) {
            MSG message{};
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
                if (!window.preTranslate(message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= end) {
                return;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        }
    }

    EventGate gate;
    Recorder recorder;
    WindowDriver driver;
    FormWindow window;
    Controls controls;
    Events fatal;
};

/// Closes this thread's message box after `ms`, from a timer that the box's own modal loop dispatches.
void CloseMessageBoxAfter(UINT ms) {
    SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM) -> BOOL {
                wchar_t name[16] = {};
                GetClassNameW(w, name, 16);
                if (std::wstring(name) == L"#32770") {
                    PostMessageW(w, WM_COMMAND, IDOK, 0);
                }
                return TRUE;
            },
            0);
    });
}

// The suite's harness: the real window under Wine, a second window of the thread to take the focus away.
struct Win32Harness : Rig {
    Win32Harness() { controls.timer1.setEnabled(true); }  // as designed: the suite's ticks start at the show
    ~Win32Harness() {
        if (other != nullptr) {
            DestroyWindow(other);
        }
    }
    void showNormal() {
        show(WindowState::Normal);
        SetForegroundWindow(window.handle());
        pump(50);
        recorder.events.clear();
    }
    void showMinimised() {
        show(WindowState::Minimised);
        recorder.events.clear();
    }
    void type(BoxId box, char c) { SendMessageW(window.edit(box), WM_CHAR, static_cast<WPARAM>(c), 1); }
    void click(BoxId box) {
        SetFocus(window.edit(box));  // as the user's click gives it
        pump(20);
    }
    void leaveForAnotherWindow() {
        other = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 50, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        SetForegroundWindow(other);
        SetFocus(other);
        pump(50);
    }
    void returnToTheWindow() {
        DestroyWindow(other);
        other = nullptr;
        SetForegroundWindow(window.handle());
        pump(50);
    }
    void wait(int ms) { pump(ms); }
    std::int64_t nowMs() const { return static_cast<std::int64_t>(GetTickCount64()); }
    void showMessageFor(int ms) {
        CloseMessageBoxAfter(static_cast<UINT>(ms));
        messages.show("[C:\\nowhere.exe]\n\nCan not find this file", platform::MessageStyle::Plain, "Selvatro");
    }

    HWND other = nullptr;
    Win32MessageBoxes messages{gate, window.handle()};
};

TEST(LostFocus, TabFollowsTheDesignsOrder) {
    Rig rig;
    rig.show(WindowState::Normal);
    rig.text1(0).setFocus();
    rig.pump(50);
    std::vector<HWND> visited;
    for (int i = 0; i < 11; ++i) {
        MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 1, 0, {}};
        rig.window.preTranslate(tab);
        visited.push_back(GetFocus());
    }
    const std::vector<HWND> expected{
        rig.window.edit({false, 0}), rig.window.edit({true, 1}),  rig.window.edit({false, 1}),
        rig.window.edit({true, 2}),  rig.window.edit({false, 2}), rig.window.edit({true, 3}),
        rig.window.edit({false, 3}), rig.window.edit({true, 4}),  rig.window.edit({false, 4}),
        rig.window.picture2(),       rig.window.edit({true, 0})};
    EXPECT_EQ(visited, expected);
}

// Typing goes to a box as soon as the window shows: the first box in the tab order when it opens, and the box that
// the user was in when it is restored from the task bar. No box loses the focus to a move inside the window then.
TEST(Focus, TheWindowOpensWithTheFirstPathBoxReadyForTyping) {
    Rig rig;
    rig.show(WindowState::Normal);
    EXPECT_EQ(GetFocus(), rig.window.edit({true, 0}));
    SendMessageW(GetFocus(), WM_CHAR, L'x', 1);
    EXPECT_EQ(rig.text1(0).text(), "x");
    EXPECT_EQ(rig.recorder.only("LostFocus"), Events{});
}

TEST(Focus, ARestoreFromTheTaskBarGivesItToTheFirstPathBoxThenToTheBoxLastUsed) {
    Rig rig;
    rig.show(WindowState::Minimised);
    HWND form = rig.window.handle();
    // The task bar restores a window through its system command.
    SendMessageW(form, WM_SYSCOMMAND, SC_RESTORE, 0);
    rig.pump(100);
    EXPECT_EQ(GetFocus(), rig.window.edit({true, 0}));

    SetFocus(rig.window.edit({false, 2}));  // the user clicks into a delay box
    rig.pump(50);
    rig.recorder.events.clear();
    SendMessageW(form, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    rig.pump(100);
    SendMessageW(form, WM_SYSCOMMAND, SC_RESTORE, 0);
    rig.pump(100);
    EXPECT_EQ(GetFocus(), rig.window.edit({false, 2}));
    EXPECT_EQ(rig.recorder.only("LostFocus"), Events{});

    // The frame of the logo is a tab stop too: it gets the focus back as a box does.
    SetFocus(rig.window.picture2());
    SendMessageW(form, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    rig.pump(100);
    SendMessageW(form, WM_SYSCOMMAND, SC_RESTORE, 0);
    rig.pump(100);
    EXPECT_EQ(GetFocus(), rig.window.picture2());
}

TEST(Mouse, EachControlRaisesItsOwnEvent) {
    Rig rig;
    rig.show(WindowState::Normal);
    struct Case {
        HWND target;
        const char* event;  // nullptr: no event at all
    };
    const Case cases[] = {
        {rig.window.handle(), "Form_MouseMove"},
        {rig.window.edit({true, 2}), "Text1_MouseMove(2)"},
        {rig.window.edit({false, 4}), "Text2_MouseMove(4)"},
        {rig.window.heading(1), "Aff_Programme_MouseMove(1)"},
        {rig.window.logo(), "Image_Tovrel_MouseMove"},
        {rig.window.picture2(), nullptr},
    };
    for (const Case& c : cases) {
        rig.recorder.events.clear();
        SendMessageW(c.target, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
        EXPECT_EQ(rig.recorder.events, c.event ? Events{c.event} : Events{}) << (c.event ? c.event : "frame");
    }
    rig.recorder.events.clear();
    SendMessageW(rig.window.edit({true, 3}), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(rig.window.edit({true, 3}), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    SendMessageW(rig.window.logo(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(rig.recorder.only("Text1_Click").size() + rig.recorder.only("Image").size(), 2U);
    EXPECT_EQ(rig.recorder.only("Text1_Click"), Events{"Text1_Click(3)"});
}

TEST(Mouse, TheCustomPointerShowsOverTheWholeWindowUntilTheDefaultComesBack) {
    Rig rig;
    rig.show(WindowState::Normal);
    HWND box = rig.window.edit({true, 0});
    const auto pointerOver = [](HWND control) {
        SendMessageW(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return GetCursor();
    };
    const HCURSOR beam = LoadCursorW(nullptr, IDC_IBEAM);
    EXPECT_EQ(pointerOver(box), beam);
    rig.driver.setMousePointer(platform::MousePointer::Custom);
    const HCURSOR custom = pointerOver(box);
    EXPECT_NE(custom, beam);
    EXPECT_EQ(pointerOver(rig.window.handle()), custom);
    ICONINFO info{};
    ASSERT_NE(GetIconInfo(custom, &info), FALSE);
    BITMAP image{};
    GetObjectW(info.hbmColor, sizeof(image), &image);
    EXPECT_EQ(image.bmWidth, GetSystemMetrics(SM_CXCURSOR));  // 32 x 32 at 96 dpi
    EXPECT_EQ(info.xHotspot, static_cast<DWORD>(image.bmWidth / 2));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    rig.driver.setMousePointer(platform::MousePointer::Default);
    EXPECT_EQ(pointerOver(box), beam);
}

TEST(Layout, TwipsBecomePixelsAtTheWindowsResolution) {
    Rig rig;
    const UINT dpi = rig.window.dpi();
    RECT box{};
    GetWindowRect(rig.window.edit({true, 1}), &box);
    MapWindowPoints(nullptr, rig.window.handle(), reinterpret_cast<POINT*>(&box), 2);
    EXPECT_EQ(box.left, MulDiv(60, static_cast<int>(dpi), 1440));
    EXPECT_EQ(box.top, MulDiv(720, static_cast<int>(dpi), 1440));
    EXPECT_EQ(box.right - box.left, MulDiv(4755, static_cast<int>(dpi), 1440));
    RECT client{};
    GetClientRect(rig.window.handle(), &client);
    EXPECT_EQ(client.right, MulDiv(5340, static_cast<int>(dpi), 1440));
    EXPECT_EQ(client.bottom, MulDiv(3000, static_cast<int>(dpi), 1440));
    // The tips are the design's until the core changes them, and a change shows at once.
    EXPECT_EQ(rig.window.tipOf(rig.window.edit({false, 0})),
              L"Entrez ici le délais (en secondes) après l'ouverture de Windows");
    rig.controls.affProgramme.at(0)->setTip("SELVATRO.EXE (version: 1.2.0)");
    EXPECT_EQ(rig.window.tipOf(rig.window.heading(0)), L"SELVATRO.EXE (version: 1.2.0)");
}

TEST(Unload, ClosingAndTheSessionsEndRunTheUnloadEvent) {
    Rig rig;
    rig.show(WindowState::Minimised);
    SendMessageW(rig.window.handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(SendMessageW(rig.window.handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageW(rig.window.handle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(rig.recorder.only("Form_Unload"), (Events{"Form_Unload", "Form_Unload"}));
    EXPECT_NE(IsWindow(rig.window.handle()), FALSE);  // the unload event decides; here it kept the window
}

/// The tick's figures over `ticks` seconds.
struct TickRun {
    std::vector<double> lateness;
    double worst() const {
        double w = 0;
        for (const double l : lateness) {
            w = l > w ? l : w;
        }
        return w;
    }
};

TEST(Timer, TicksEverySecondOnTime) {
    Rig rig;
    rig.show(WindowState::Minimised);
    // SELVATRO_TICK_SECONDS lengthens the run to measure the drift (60 for the figures of the user guide).
    const char* asked = std::getenv("SELVATRO_TICK_SECONDS");
    const int seconds = asked != nullptr ? std::atoi(asked) : 4;
    TickRun run;
    rig.recorder.hook = [&](const std::string& e) {
        if (e == "Timer1_Timer") {
            run.lateness.push_back(rig.window.lastLatenessMs());
        }
    };
    rig.controls.timer1.setEnabled(true);
    rig.pump(seconds * 1000 + 500);
    ASSERT_EQ(run.lateness.size(), static_cast<std::size_t>(seconds));
    // On the schedule of due instants, not re-armed from the last delivery: a tick is never a timer period late.
    // The 5 ms goal is measured on a quiet machine (the figures printed below), not asserted on a busy one.
    EXPECT_LE(run.worst(), 60.0);
    double sum = 0;
    int over = 0;
    for (const double l : run.lateness) {
        sum += l;
        over += l > 5.0 ? 1 : 0;
    }
    std::printf("tick lateness over %d s: worst %.2f ms, mean %.2f ms, last %.2f ms, %d over 5 ms\n", seconds,
                run.worst(), sum / static_cast<double>(seconds), run.lateness.back(), over);
    rig.controls.timer1.setEnabled(false);
    rig.controls.timer1.setEnabled(false);  // twice: changes nothing
    rig.recorder.events.clear();
    rig.pump(1200);
    EXPECT_EQ(rig.recorder.only("Timer1_Timer"), Events{});
}

/// Answers the next dialog of this thread after `ms` milliseconds, from a timer that the dialog's own modal loop
/// dispatches: with each of `typed` in turn, `ms` apart, in the file name box followed by OK (a folder browses into
/// it, as when the user types one), or with Cancel for an empty one.
void AnswerDialogAfter(UINT ms, std::vector<std::wstring> typed) {
    static std::vector<std::wstring> answers;
    static std::size_t next = 0;
    answers = std::move(typed);
    next = 0;
    SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR id, DWORD) {
        if (next >= answers.size()) {
            KillTimer(nullptr, id);
            return;
        }
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM) -> BOOL {
                wchar_t name[16] = {};
                GetClassNameW(w, name, 16);
                if (std::wstring(name) != L"#32770" || IsWindowVisible(w) == FALSE) {
                    return TRUE;
                }
                const std::wstring& answer = answers.at(next++);
                if (answer.empty()) {
                    PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
                } else {
                    constexpr int kFileNameBox = 0x47C;  // the Explorer-style dialog's file name box
                    SetDlgItemTextW(w, kFileNameBox, answer.c_str());
                    PostMessageW(w, WM_COMMAND, IDOK, 0);
                }
                return FALSE;
            },
            0);
    });
}

TEST(FileDialog, ReturnsTheChosenFileAndReportsACancelWhenAsked) {
    Rig rig;
    rig.show(WindowState::Minimised);
    FileDialog& dialog = rig.controls.commonDialog1;
    dialog.setFilter("Executable(*.exe)|*.exe|Tous(*.*)|*.*");
    dialog.setFilterIndex(2);
    dialog.setFlags(platform::kHideReadOnly);

    std::wstring system(MAX_PATH, L'\0');
    system.resize(GetSystemDirectoryW(system.data(), MAX_PATH));
    const std::wstring notepad = system + L"\\notepad.exe";
    AnswerDialogAfter(1500, {notepad});
    dialog.showOpen();
    EXPECT_EQ(dialog.fileName(), Narrow(notepad));

    dialog.setCancelError(true);
    AnswerDialogAfter(1500, {L""});
    EXPECT_THROW(dialog.showOpen(), platform::DialogCancelled);
    dialog.setCancelError(false);
    AnswerDialogAfter(1500, {L""});
    dialog.showOpen();
    EXPECT_EQ(dialog.fileName(), "");
    EXPECT_TRUE(rig.fatal.empty());
}

/// Cancels every dialog of this thread still open after `ms`, again at every `ms` until it goes: a dialog that
/// refuses its answer (and its message box) ends the call that showed it instead of hanging the test.
class DialogCloser {
public:
    explicit DialogCloser(UINT ms) : timer_(SetTimer(nullptr, 0, ms, &DialogCloser::CancelAll)) {}
    ~DialogCloser() { KillTimer(nullptr, timer_); }
    DialogCloser(const DialogCloser&) = delete;
    DialogCloser& operator=(const DialogCloser&) = delete;

private:
    static void CALLBACK CancelAll(HWND, UINT, UINT_PTR, DWORD) {
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM) -> BOOL {
                wchar_t name[16] = {};
                GetClassNameW(w, name, 16);
                if (std::wstring(name) == L"#32770" && IsWindowVisible(w) != FALSE) {
                    PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
                }
                return TRUE;
            },
            0);
    }
    UINT_PTR timer_;
};

std::wstring CurrentFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(GetCurrentDirectoryW(MAX_PATH, folder.data()));
    return folder;
}

// The program sets no option but the hidden read-only box: the current folder follows the choice, so that a
// relative path typed later resolves against it, and a name that names no file yet is the caller's to judge.
TEST(FileDialog, TheCurrentFolderFollowsTheChoiceAndAMissingFileIsReturned) {
    Rig rig;
    rig.show(WindowState::Minimised);
    FileDialog& dialog = rig.controls.commonDialog1;
    dialog.setFilter("Executable(*.exe)|*.exe|All(*.*)|*.*");
    dialog.setFlags(platform::kHideReadOnly);
    const std::wstring before = CurrentFolder();
    std::wstring windows(MAX_PATH, L'\0');
    windows.resize(GetWindowsDirectoryW(windows.data(), MAX_PATH));
    std::wstring system(MAX_PATH, L'\0');
    system.resize(GetSystemDirectoryW(system.data(), MAX_PATH));
    ASSERT_NE(SetCurrentDirectoryW(windows.c_str()), FALSE);
    {
        const DialogCloser closer(10000);
        AnswerDialogAfter(1500, {system, L"notepad.exe"});  // the user goes to the folder, then picks the file
        dialog.showOpen();
    }
    EXPECT_EQ(dialog.fileName(), Narrow(system + L"\\notepad.exe"));
    EXPECT_EQ(CompareStringOrdinal(CurrentFolder().c_str(), -1, system.c_str(), -1, TRUE), CSTR_EQUAL)
        << Narrow(CurrentFolder());

    const std::wstring missing = windows + L"\\no such program.exe";
    {
        const DialogCloser closer(8000);
        AnswerDialogAfter(1500, {missing});
        dialog.showOpen();
    }
    EXPECT_EQ(dialog.fileName(), Narrow(missing));
    SetCurrentDirectoryW(before.c_str());
    EXPECT_TRUE(rig.fatal.empty());
}

// A shortcut chosen in the dialog is the row's, not the program it points to: the row then starts it with its
// arguments and working folder. Under either filter entry.
TEST(FileDialog, AChosenShortcutComesBackAsItself) {
    Rig rig;
    rig.show(WindowState::Minimised);
    FileDialog& dialog = rig.controls.commonDialog1;
    dialog.setFilter("Executable(*.exe)|*.exe|Shortcuts (*.lnk)|*.lnk");
    dialog.setFlags(platform::kHideReadOnly);
    std::wstring system(MAX_PATH, L'\0');
    system.resize(GetSystemDirectoryW(system.data(), MAX_PATH));
    std::wstring temporary(MAX_PATH + 1, L'\0');
    temporary.resize(GetTempPathW(MAX_PATH + 1, temporary.data()));
    const std::wstring link = temporary + L"selvatro dialog " + std::to_wstring(GetCurrentProcessId()) + L".lnk";
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        Microsoft::WRL::ComPtr<IShellLinkW> made;
        Microsoft::WRL::ComPtr<IPersistFile> persist;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&made)));
        ASSERT_HRESULT_SUCCEEDED(made->SetPath((system + L"\\notepad.exe").c_str()));
        ASSERT_HRESULT_SUCCEEDED(made->SetArguments(L"notes.txt"));
        ASSERT_HRESULT_SUCCEEDED(made.As(&persist));
        ASSERT_HRESULT_SUCCEEDED(persist->Save(link.c_str(), TRUE));
    }
    CoUninitialize();
    for (const std::int16_t entry : {std::int16_t{1}, std::int16_t{2}}) {
        dialog.setFilterIndex(entry);
        {
            const DialogCloser closer(10000);
            AnswerDialogAfter(1500, {link});
            dialog.showOpen();
        }
        EXPECT_EQ(dialog.fileName(), Narrow(link)) << "filter entry " << entry;
    }
    DeleteFileW(link.c_str());
    EXPECT_TRUE(rig.fatal.empty());
}

TEST(FileDialog, TheFilterBecomesNulSeparatedPairs) {
    using namespace std::string_literals;
    EXPECT_EQ(DialogFilter(SplitFilter("Executable(*.exe)|*.exe|Tous(*.*)|*.*")),
              L"Executable(*.exe)\0*.exe\0Tous(*.*)\0*.*\0\0"s);
    EXPECT_EQ(DialogFilter(SplitFilter("label without pattern")), L"\0"s);
}

}  // namespace
}  // namespace selvatro::platform::win32::test

namespace selvatro::conformance {
using Win32Harnesses = ::testing::Types<platform::win32::test::Win32Harness>;
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, EventRules, Win32Harnesses);
}  // namespace selvatro::conformance
