// The form: its window class and procedure, its place, fonts and colours, its state and its timer.

#include "platform/win32/win32_window.h"

#include <commctrl.h>

#include <stdexcept>

#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_internal.h"
#include "platform/win32/win32_single_copy.h"
#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

FormWindow::FormWindow(WindowDriver& driver, const platform::WindowDesign& design)
    : driver_(driver), design_(design), timer_(design.timerIntervalMs) {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    registerClasses();

    const std::wstring caption = Widen(design.caption);
    hwnd_ = CreateWindowExW(kFormExStyle, kFormClass, caption.c_str(), kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, Instance(), this);
    if (hwnd_ == nullptr) {
        throw std::runtime_error("the window cannot be created: " + SystemMessage(GetLastError()));
    }
    dpi_ = GetDpiForWindow(hwnd_);
    timer_.attach(hwnd_, [this] { driver_.tickDue(); });
    background_.reset(CreateSolidBrush(Colour(design.background)));
    text1Brush_.reset(CreateSolidBrush(Colour(design.text1Background)));
    text2Brush_.reset(CreateSolidBrush(Colour(design.text2Background)));
    makeFonts();
    createControls();
    layOut(true);
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(AppIcon(GetSystemMetricsForDpi(SM_CXICON, dpi_))));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(AppIcon(GetSystemMetricsForDpi(SM_CXSMICON, dpi_))));
    driver_.attach(*this);
}

FormWindow::~FormWindow() {
    timer_.stop();
    if (hwnd_ != nullptr) {
        // No report may reach the driver while the controls go: the core behind it may be gone already.
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (tooltip_ != nullptr) {
        DestroyWindow(tooltip_);
    }
}

void FormWindow::registerClasses() {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(Instance(), kFormClass, &existing) != FALSE) {
        return;
    }
    WNDCLASSEXW form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = &FormWindow::FormProc;
    form.hInstance = Instance();
    form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    form.lpszClassName = kFormClass;
    RegisterClassExW(&form);
    WNDCLASSEXW logo = form;
    logo.lpfnWndProc = &FormWindow::LogoProc;
    logo.lpszClassName = kLogoClass;
    RegisterClassExW(&logo);
}

void FormWindow::makeFonts() {
    headingFont_ = HeadingFont(design_, dpi_);
    boxFont_ = BoxFont(dpi_);
}

void FormWindow::layOut(bool placeWindow) {
    if (placeWindow) {
        // The design places the client area on the screen; the frame goes around it.
        RECT frame{Pixels(design_.form.left, dpi_), Pixels(design_.form.top, dpi_),
                   Pixels(design_.form.left + design_.form.width, dpi_),
                   Pixels(design_.form.top + design_.form.height, dpi_)};
        AdjustWindowRectExForDpi(&frame, kFormStyle, FALSE, kFormExStyle, dpi_);
        SetWindowPos(hwnd_, nullptr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const auto place = [this](HWND control, platform::Rect r, HFONT font) {
        MoveWindow(control, Pixels(r.left, dpi_), Pixels(r.top, dpi_), Pixels(r.width, dpi_), Pixels(r.height, dpi_),
                   TRUE);
        if (font != nullptr) {
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
    };
    for (std::size_t row = 0; row < text1_.size(); ++row) {
        place(text1_.at(row), design_.text1.at(row), boxFont_.get());
        place(text2_.at(row), design_.text2.at(row), boxFont_.get());
    }
    for (std::size_t i = 0; i < headings_.size(); ++i) {
        place(headings_.at(i), design_.headings.at(i), headingFont_.get());
    }
    place(picture2_, design_.picture2, nullptr);
    place(logo_, design_.imageTovrel, nullptr);  // may start outside the frame, which clips it
}

// ---- what the driver asks of the form ----

void FormWindow::setCaption(const std::string& caption) {
    SetWindowTextW(hwnd_, Widen(caption).c_str());
}

platform::WindowState FormWindow::currentState() const {
    if (IsIconic(hwnd_) != FALSE) {
        return platform::WindowState::Minimised;
    }
    if (IsZoomed(hwnd_) != FALSE) {
        return platform::WindowState::Maximised;
    }
    return platform::WindowState::Normal;
}

void FormWindow::showFirst(platform::WindowState state) {
    int command = SW_SHOWNORMAL;
    if (state == platform::WindowState::Minimised) {
        command = SW_SHOWMINNOACTIVE;  // a logon's window does not take the focus from what the user started
    } else if (state == platform::WindowState::Maximised) {
        command = SW_SHOWMAXIMIZED;
    }
    ShowWindow(hwnd_, command);
    UpdateWindow(hwnd_);
}

void FormWindow::changeState(platform::WindowState state) {
    int command = SW_RESTORE;
    if (state == platform::WindowState::Minimised) {
        command = SW_MINIMIZE;
    } else if (state == platform::WindowState::Maximised) {
        command = SW_MAXIMIZE;
    }
    // ShowWindow sends WM_SIZE inside the call.
    ShowWindow(hwnd_, command);
    if (state == platform::WindowState::Normal) {
        SetForegroundWindow(hwnd_);
    }
}

void FormWindow::bringToFront() {
    SetForegroundWindow(hwnd_);
    BringWindowToTop(hwnd_);
}

void FormWindow::setPointer(platform::MousePointer pointer) {
    pointer_ = pointer;
    // The system asks for the pointer at the next move; show the new one now if the mouse is over the window.
    POINT at{};
    GetCursorPos(&at);
    HWND under = WindowFromPoint(at);
    if (under == hwnd_ || IsChild(hwnd_, under) != FALSE) {
        SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    }
}

void FormWindow::runTimer(bool running) {
    if (running) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

std::optional<std::string> FormWindow::openDialog(const OpenRequest& request) {
    return ShowOpenDialog(hwnd_, request);
}

bool FormWindow::preTranslate(MSG& message) {
    return hwnd_ != nullptr && IsDialogMessageW(hwnd_, &message) != FALSE;
}

HWND FormWindow::focusOnActivation() const {
    if (lastFocus_ != nullptr && IsWindow(lastFocus_) != FALSE) {
        return lastFocus_;
    }
    return firstTabStop_;
}

// ---- the form's messages ----

LRESULT CALLBACK FormWindow::FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<FormWindow*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return Guarded(self->driver_.gate(), [&] { return self->onMessage(message, wParam, lParam); });
}

LRESULT FormWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            onEditNotification(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_CTLCOLOREDIT: {
            auto* dc = reinterpret_cast<HDC>(wParam);
            const std::optional<BoxId> box = control_id::BoxOf(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
            const bool isPath = box && box->isPath;
            SetBkColor(dc, Colour(isPath ? design_.text1Background : design_.text2Background));
            return reinterpret_cast<LRESULT>(isPath ? text1Brush_.get() : text2Brush_.get());
        }
        case WM_CTLCOLORSTATIC: {
            auto* dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
            SetBkColor(dc, Colour(design_.background));
            return reinterpret_cast<LRESULT>(background_.get());
        }
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(hwnd_, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, background_.get());
            return 1;
        }
        case WM_MOUSEMOVE:
            driver_.mouseMoved(Pointed::Background);
            return 0;
        case WM_GETOBJECT:
            annotatePending();
            break;
        case WM_SETCURSOR:
            // Children ask their parent first: the custom pointer shows over the whole window.
            if (pointer_ == platform::MousePointer::Custom && LOWORD(lParam) == HTCLIENT) {
                SetCursor(artwork_.goCursor());
                return TRUE;
            }
            break;
        case WM_SIZE:
            // SIZE_MINIMIZED may come twice, and a plain resize reports the same state: the driver drops repeats.
            if (wParam == SIZE_MINIMIZED || wParam == SIZE_MAXIMIZED || wParam == SIZE_RESTORED) {
                driver_.stateChanged();
            }
            return 0;
        case WM_TIMER:
            if (wParam == Win32Timer::kTimerId) {
                timer_.onTimer();
                return 0;
            }
            break;
        case WM_ACTIVATE:
            // Give the focus back to the control that had it, as a dialog does; the first tab stop when none had
            // it yet, so that the window opens ready for typing.
            if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0) {
                SetFocus(focusOnActivation());
                return 0;
            }
            break;
        case WM_SETFOCUS:
            // A restore from the task bar gives the focus to the window itself, where typing would go nowhere.
            if (IsIconic(hwnd_) == FALSE) {
                SetFocus(focusOnActivation());
                return 0;
            }
            break;
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wParam);
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            // The controls hold the old fonts until the new ones are set: those go last.
            const GdiObject<HFONT> oldHeading = std::move(headingFont_);
            const GdiObject<HFONT> oldBox = std::move(boxFont_);
            makeFonts();
            layOut(false);
            return 0;
        }
        case WM_CLOSE:
            driver_.requestUnload();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) {
                driver_.requestUnload();  // saves the list and ends the process
            }
            return 0;
        default:
            if (message == ShowAgainMessage()) {
                driver_.showAgain();
                return 0;
            }
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace selvatro::platform::win32
