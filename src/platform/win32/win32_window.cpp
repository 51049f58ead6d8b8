#include "platform/win32/win32_window.h"

#include <commctrl.h>
#include <initguid.h>  // defines the annotation GUIDs of oleacc.h here
#include <oleacc.h>
#include <windowsx.h>
#include <wrl/client.h>

#include <stdexcept>

#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

namespace {

constexpr wchar_t kFormClass[] = L"SelvatroForm";
constexpr wchar_t kLogoClass[] = L"SelvatroLogo";

// Control identifiers, clear of IDOK and IDCANCEL, which IsDialogMessageW sends for Enter and Escape.
constexpr int kText1Id = 100;    // + row
constexpr int kText2Id = 200;    // + row
constexpr int kHeadingId = 300;  // + index
constexpr int kPicture2Id = 400;
constexpr int kLogoId = 401;

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = 0;

#ifdef SELVATRO_PUBLISHER_URL
// The copyright line that the logo shows as its tip, with the address that a click on the logo opens.
constexpr std::string_view kLogoTip = "Copyright © Tovrel - " SELVATRO_PUBLISHER_URL;
#else
constexpr std::string_view kLogoTip = "Copyright © Tovrel";
#endif

COLORREF Colour(platform::Colour colour) {
    return RGB(colour.red(), colour.green(), colour.blue());
}

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// Runs `body` for a window procedure: an error that escapes it travels through the gate as an event's would, so
// that no exception unwinds through the system's frames.
template <typename Body>
LRESULT Guarded(EventGate& gate, Body body) {
    try {
        return body();
    } catch (...) {
        gate.raise([error = std::current_exception()](platform::FormEvents&) { std::rethrow_exception(error); });
        return 0;
    }
}

}  // namespace

// ---- text boxes ----

std::string Win32TextBox::text() const {
    const int length = GetWindowTextLengthW(edit_);
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    const int read = GetWindowTextW(edit_, wide.data(), length + 1);
    wide.resize(static_cast<std::size_t>(read > 0 ? read : 0));
    return Narrow(wide);
}

void Win32TextBox::setText(const std::string& text) {
    const std::wstring next = Widen(text);
    const int length = GetWindowTextLengthW(edit_);
    std::wstring current(static_cast<std::size_t>(length) + 1, L'\0');
    current.resize(static_cast<std::size_t>(GetWindowTextW(edit_, current.data(), length + 1)));
    // The edit control sends EN_CHANGE even for the text it holds already: the same text must raise nothing.
    if (next == current) {
        return;
    }
    form_.gate_.callToolkit([&] { SetWindowTextW(edit_, next.c_str()); });
}

void Win32TextBox::setTip(const std::string& tip) {
    form_.updateTip(edit_, tip_, tip);
}

void Win32TextBox::setFocus() {
    form_.gate_.callToolkit([&] {
        // While the window is not active the system keeps no focus for it; the box that held the window's focus
        // loses it all the same when code moves it.
        HWND had = GetFocus();
        if (had == nullptr || IsChild(form_.hwnd_, had) == FALSE) {
            had = form_.lastFocus_;
        }
        form_.lostFocusRaised_ = false;
        SetFocus(edit_);
        form_.lastFocus_ = edit_;
        if (!form_.lostFocusRaised_ && had != nullptr && had != edit_) {
            form_.raiseLostFocus(had);
        }
    });
}

void Win32TextBox::setSelectionLength(int length) {
    // Characters, not UTF-16 units: walk `length` code points on from the caret, clipped at the end.
    DWORD start = 0;
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    const int size = GetWindowTextLengthW(edit_);
    std::wstring wide(static_cast<std::size_t>(size) + 1, L'\0');
    wide.resize(static_cast<std::size_t>(GetWindowTextW(edit_, wide.data(), size + 1)));
    std::size_t end = start;
    for (int n = 0; n < length && end < wide.size(); ++n) {
        end += (IS_HIGH_SURROGATE(wide[end]) && end + 1 < wide.size()) ? 2U : 1U;
    }
    SendMessageW(edit_, EM_SETSEL, start, static_cast<LPARAM>(end));
}

// ---- labels ----

void Win32Label::setCaption(const std::string& caption) {
    SetWindowTextW(static_, Widen(caption).c_str());
}

void Win32Label::setTip(const std::string& tip) {
    form_.updateTip(static_, tip_, tip);
}

// ---- the window ----

UINT FormWindow::ShowAgainMessage() {
    static const UINT message = RegisterWindowMessageW(L"Selvatro.ShowAgain");
    return message;
}

FormWindow::FormWindow(EventGate& gate, const platform::WindowDesign& design)
    : gate_(gate), design_(design), timer_(gate, design.timerIntervalMs) {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(Instance(), kFormClass, &existing) == FALSE) {
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

    const std::wstring caption = Widen(design.caption);
    hwnd_ = CreateWindowExW(kFormExStyle, kFormClass, caption.c_str(), kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, Instance(), this);
    if (hwnd_ == nullptr) {
        throw std::runtime_error("the window cannot be created: " + SystemMessage(GetLastError()));
    }
    dpi_ = GetDpiForWindow(hwnd_);
    timer_.attach(hwnd_);
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
}

FormWindow::~FormWindow() {
    timer_.setEnabled(false);
    if (hwnd_ != nullptr) {
        // No event may reach the core while the controls go: it may be gone already.
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (tooltip_ != nullptr) {
        DestroyWindow(tooltip_);
    }
}

void FormWindow::createControls() {
    tooltip_ =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, Instance(), nullptr);
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 600);

    for (std::int16_t i = 0; i < 5; ++i) {
        const auto at = static_cast<std::size_t>(i);
        text1_.at(at) = std::make_unique<Win32TextBox>(*this, true, i);
        text2_.at(at) = std::make_unique<Win32TextBox>(*this, false, i);
    }

    // Created in the tab order: IsDialogMessageW moves the focus along the creation order of the WS_TABSTOP
    // controls.
    for (const platform::TabStop& stop : design_.tabOrder) {
        const auto row = static_cast<std::size_t>(stop.row);
        switch (stop.control) {
            case platform::TabControl::Text1:
            case platform::TabControl::Text2: {
                const bool isPath = stop.control == platform::TabControl::Text1;
                Win32TextBox& box = isPath ? *text1_.at(row) : *text2_.at(row);
                const int id = (isPath ? kText1Id : kText2Id) + stop.row;
                // A screen reader names an edit control after the static text just before it: a hidden label.
                accessibleLabels_.push_back(CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_NOPREFIX, 0, 0, 0, 0,
                                                            hwnd_, nullptr, Instance(), nullptr));
                box.edit_ = CreateWindowExW(
                    WS_EX_CLIENTEDGE, L"EDIT", L"",
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | (isPath ? ES_LEFT : ES_CENTER), 0, 0, 0, 0,
                    hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
                SetWindowSubclass(box.edit_, &FormWindow::ControlSubclass, static_cast<UINT_PTR>(id),
                                  reinterpret_cast<DWORD_PTR>(this));
                if (firstTabStop_ == nullptr) {
                    firstTabStop_ = box.edit_;
                }
                addTool(box.edit_, Widen(isPath ? design_.text1Tip : design_.text2Tip));
                box.tip_ = Widen(isPath ? design_.text1Tip : design_.text2Tip);
                break;
            }
            case platform::TabControl::Picture2:
                picture2_ = CreateWindowExW(0, kLogoClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, 0,
                                            0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPicture2Id)),
                                            Instance(), this);
                if (firstTabStop_ == nullptr) {
                    firstTabStop_ = picture2_;
                }
                break;
        }
    }
    logo_ = CreateWindowExW(0, kLogoClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, picture2_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLogoId)), Instance(), this);
    addTool(logo_, Widen(kLogoTip));

    for (std::int16_t i = 0; i < 2; ++i) {
        headings_.at(static_cast<std::size_t>(i)) = std::make_unique<Win32Label>(*this, i);
        // One line each: where Comic Sans MS is missing, a wider face is clipped rather than wrapped onto the boxes.
        Win32Label& heading = *headings_.at(static_cast<std::size_t>(i));
        const int id = kHeadingId + i;
        heading.static_ =
            CreateWindowExW(0, L"STATIC", Widen(design_.headingCaptions.at(static_cast<std::size_t>(i))).c_str(),
                            WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOTIFY | SS_NOPREFIX, 0, 0, 0, 0, hwnd_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
        SetWindowSubclass(heading.static_, &FormWindow::ControlSubclass, static_cast<UINT_PTR>(id),
                          reinterpret_cast<DWORD_PTR>(this));
        addTool(heading.static_, L"");
    }
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
    for (std::size_t row = 0; row < 5; ++row) {
        place(text1_.at(row)->edit_, design_.text1.at(row), boxFont_.get());
        place(text2_.at(row)->edit_, design_.text2.at(row), boxFont_.get());
    }
    for (std::size_t i = 0; i < 2; ++i) {
        place(headings_.at(i)->static_, design_.headings.at(i), headingFont_.get());
    }
    place(picture2_, design_.picture2, nullptr);
    place(logo_, design_.imageTovrel, nullptr);  // may start outside the frame, which clips it
}

void FormWindow::addTool(HWND tool, const std::wstring& tip) {
    TTTOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = const_cast<wchar_t*>(tip.c_str());
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void FormWindow::updateTip(HWND tool, std::wstring& kept, const std::string& tip) {
    std::wstring next = Widen(tip);
    if (next == kept) {
        return;  // the mouse-move events set the same tip at every move
    }
    kept = std::move(next);
    TTTOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = kept.data();
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

std::wstring FormWindow::tipOf(HWND tool) const {
    std::wstring text(1024, L'\0');
    TTTOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = text.data();
    SendMessageW(tooltip_, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&info));
    text.resize(wcslen(text.c_str()));
    return text;
}

void FormWindow::setCaption(const std::string& caption) {
    SetWindowTextW(hwnd_, Widen(caption).c_str());
}

platform::WindowState FormWindow::reportedState() const {
    if (IsIconic(hwnd_) != FALSE) {
        return platform::WindowState::Minimised;
    }
    if (IsZoomed(hwnd_) != FALSE) {
        return platform::WindowState::Maximised;
    }
    return platform::WindowState::Normal;
}

platform::WindowState FormWindow::windowState() const {
    return shown_ ? reportedState() : lastState_;
}

void FormWindow::setWindowState(platform::WindowState state) {
    if (!shown_) {
        lastState_ = state;  // the show applies it
        return;
    }
    int command = SW_RESTORE;
    if (state == platform::WindowState::Minimised) {
        command = SW_MINIMIZE;
    } else if (state == platform::WindowState::Maximised) {
        command = SW_MAXIMIZE;
    }
    // ShowWindow sends WM_SIZE inside the call, which runs the resize event to its end.
    gate_.callToolkit([&] {
        ShowWindow(hwnd_, command);
        if (state == platform::WindowState::Normal) {
            SetForegroundWindow(hwnd_);
        }
        stateReported(reportedState());
    });
}

void FormWindow::setMousePointer(platform::MousePointer pointer) {
    if (pointer == pointer_) {
        return;
    }
    pointer_ = pointer;
    // The system asks for the pointer at the next move; show the new one now if the mouse is over the window.
    POINT at{};
    GetCursorPos(&at);
    HWND under = WindowFromPoint(at);
    if (under == hwnd_ || IsChild(hwnd_, under) != FALSE) {
        SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    }
}

platform::Controls FormWindow::controls(platform::FileDialog& dialog) {
    return platform::Controls{*this,
                              {text1_[0].get(), text1_[1].get(), text1_[2].get(), text1_[3].get(), text1_[4].get()},
                              {text2_[0].get(), text2_[1].get(), text2_[2].get(), text2_[3].get(), text2_[4].get()},
                              {headings_[0].get(), headings_[1].get()},
                              timer_,
                              dialog};
}

void FormWindow::showInState() {
    if (shown_) {
        return;
    }
    int command = SW_SHOWNORMAL;
    if (lastState_ == platform::WindowState::Minimised) {
        command = SW_SHOWMINNOACTIVE;  // a logon's window does not take the focus from what the user started
    } else if (lastState_ == platform::WindowState::Maximised) {
        command = SW_SHOWMAXIMIZED;
    }
    // The system sends WM_SIZE inside the first ShowWindow, at times twice or first for a state the window
    // passes through: the resize event runs once, after the show, for the state the window is in.
    ShowWindow(hwnd_, command);
    UpdateWindow(hwnd_);
    shown_ = true;
    lastState_ = reportedState();
    timer_.goLive();
    gate_.raise([](platform::FormEvents& e) { e.Form_Resize(); });
}

void FormWindow::stateReported(platform::WindowState state) {
    if (!shown_ || state == lastState_) {
        return;  // SIZE_MINIMIZED may come twice, and a plain resize reports the same state
    }
    lastState_ = state;
    gate_.raise([](platform::FormEvents& e) { e.Form_Resize(); });
}

void FormWindow::requestUnload() {
    if (unloading_) {
        return;  // a second close while the list is being saved changes nothing
    }
    unloading_ = true;
    gate_.raise([](platform::FormEvents& e) {
        std::int16_t cancel = 0;
        e.Form_Unload(cancel);
    });
    unloading_ = false;  // only reached when the unload kept the window open
}

void FormWindow::showAgain() {
    gate_.raise([this](platform::FormEvents&) {
        if (!shown_) {
            showInState();
        }
        setWindowState(platform::WindowState::Normal);
        SetForegroundWindow(hwnd_);
        BringWindowToTop(hwnd_);
    });
}

void FormWindow::setAccessibleTexts(const platform::AccessibleTexts& texts) {
    const auto forRow = [](std::string_view text, int row) {
        std::string named(text);
        const std::string::size_type at = named.find("{row}");
        if (at != std::string::npos) {
            named.replace(at, 5, std::to_string(row + 1));
        }
        return Widen(named);
    };
    // A screen reader names an edit control after the static text just before it: the hidden labels say the name.
    // Where the annotation service runs (Windows; COM initialised by the program), it gets the name and the
    // description directly.
    Microsoft::WRL::ComPtr<IAccPropServices> annotations;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                reinterpret_cast<void**>(annotations.GetAddressOf())))) {
        annotations.Reset();
    }
    const auto annotate = [&](HWND control, const std::wstring& name, std::string_view description) {
        if (annotations) {
            annotations->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                                        name.c_str());
            annotations->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                                        Widen(description).c_str());
        }
    };
    std::size_t label = 0;
    for (const platform::TabStop& stop : design_.tabOrder) {
        if (stop.control == platform::TabControl::Picture2 || label >= accessibleLabels_.size()) {
            continue;
        }
        const bool isPath = stop.control == platform::TabControl::Text1;
        const std::wstring name = forRow(isPath ? texts.pathName : texts.delayName, stop.row);
        SetWindowTextW(accessibleLabels_.at(label++), name.c_str());
        const auto row = static_cast<std::size_t>(stop.row);
        annotate(isPath ? text1_.at(row)->edit_ : text2_.at(row)->edit_, name,
                 isPath ? texts.pathDescription : texts.delayDescription);
    }
    // The frame takes the focus, so it is what a screen reader announces; the logo is what the mouse finds.
    for (HWND logo : {picture2_, logo_}) {
        SetWindowTextW(logo, Widen(texts.logoName).c_str());
        annotate(logo, Widen(texts.logoName), texts.logoDescription);
    }
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

void FormWindow::raiseLostFocus(HWND control) {
    const int id = GetDlgCtrlID(control);
    lostFocusRaised_ = true;
    if (id >= kText1Id && id < kText1Id + 5) {
        const auto row = static_cast<std::int16_t>(id - kText1Id);
        gate_.raise([row](platform::FormEvents& e) { e.Text1_LostFocus(row); });
    } else if (id >= kText2Id && id < kText2Id + 5) {
        const auto row = static_cast<std::int16_t>(id - kText2Id);
        gate_.raise([row](platform::FormEvents& e) { e.Text2_LostFocus(row); });
    }
}

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
    return Guarded(self->gate_, [&] { return self->onMessage(message, wParam, lParam); });
}

LRESULT FormWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            const bool isPath = id >= kText1Id && id < kText1Id + 5;
            const bool isDelay = id >= kText2Id && id < kText2Id + 5;
            if (!isPath && !isDelay) {
                return 0;
            }
            const auto row = static_cast<std::int16_t>(id - (isPath ? kText1Id : kText2Id));
            if (code == EN_CHANGE) {
                gate_.raise(
                    [isPath, row](platform::FormEvents& e) { isPath ? e.Text1_Change(row) : e.Text2_Change(row); });
            } else if (code == EN_KILLFOCUS) {
                // Only a move to another control of this window; not to another program, nor to a dialog.
                if (focusGoesTo_ != nullptr && IsChild(hwnd_, focusGoesTo_) != FALSE) {
                    raiseLostFocus(reinterpret_cast<HWND>(lParam));
                }
            } else if (code == EN_SETFOCUS) {
                lastFocus_ = reinterpret_cast<HWND>(lParam);
            }
            return 0;
        }
        case WM_CTLCOLOREDIT: {
            auto* dc = reinterpret_cast<HDC>(wParam);
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            const bool isPath = id >= kText1Id && id < kText1Id + 5;
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
            gate_.raise([](platform::FormEvents& e) { e.Form_MouseMove(); });
            return 0;
        case WM_SETCURSOR:
            // Children ask their parent first: the custom pointer shows over the whole window.
            if (pointer_ == platform::MousePointer::Custom && LOWORD(lParam) == HTCLIENT) {
                SetCursor(artwork_.goCursor());
                return TRUE;
            }
            break;
        case WM_SIZE:
            if (wParam == SIZE_MINIMIZED) {
                stateReported(platform::WindowState::Minimised);
            } else if (wParam == SIZE_MAXIMIZED) {
                stateReported(platform::WindowState::Maximised);
            } else if (wParam == SIZE_RESTORED) {
                stateReported(platform::WindowState::Normal);
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
            requestUnload();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) {
                requestUnload();  // saves the list and ends the process
            }
            return 0;
        default:
            if (message == ShowAgainMessage()) {
                showAgain();
                return 0;
            }
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK FormWindow::ControlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR data) {
    auto* self = reinterpret_cast<FormWindow*>(data);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &FormWindow::ControlSubclass, id);
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    return Guarded(self->gate_, [&] { return self->handleControl(hwnd, message, wParam, lParam, id); });
}

LRESULT FormWindow::handleControl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id) {
    const int control = static_cast<int>(id);
    const bool isPath = control >= kText1Id && control < kText1Id + 5;
    const bool isDelay = control >= kText2Id && control < kText2Id + 5;
    switch (message) {
        case WM_KILLFOCUS: {
            // EN_KILLFOCUS follows inside this message and must know where the focus goes.
            HWND saved = focusGoesTo_;
            focusGoesTo_ = reinterpret_cast<HWND>(wParam);
            const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
            focusGoesTo_ = saved;
            return result;
        }
        case WM_MOUSEMOVE: {
            const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
            if (isPath || isDelay) {
                const auto row = static_cast<std::int16_t>(control - (isPath ? kText1Id : kText2Id));
                gate_.raise([isPath, row](platform::FormEvents& e) {
                    isPath ? e.Text1_MouseMove(row) : e.Text2_MouseMove(row);
                });
            } else {
                const auto index = static_cast<std::int16_t>(control - kHeadingId);
                gate_.raise([index](platform::FormEvents& e) { e.Aff_Programme_MouseMove(index); });
            }
            return result;
        }
        case WM_LBUTTONUP: {
            const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
            RECT client{};
            GetClientRect(hwnd, &client);
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (isPath && PtInRect(&client, at) != FALSE) {
                const auto row = static_cast<std::int16_t>(control - kText1Id);
                gate_.raise([row](platform::FormEvents& e) { e.Text1_Click(row); });
            }
            return result;
        }
        default:
            break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK FormWindow::LogoProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || message == WM_NCDESTROY) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return Guarded(self->gate_, [&] { return self->handleLogo(hwnd, message, wParam, lParam); });
}

LRESULT FormWindow::handleLogo(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool isLogo = GetDlgCtrlID(hwnd) == kLogoId;
    switch (message) {
        case WM_ERASEBKGND:
            if (!isLogo) {
                RECT client{};
                GetClientRect(hwnd, &client);
                FillRect(reinterpret_cast<HDC>(wParam), &client, background_.get());
            }
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            HDC dc = BeginPaint(hwnd, &paint);
            if (isLogo) {
                // The banner, stretched to the logo's size; drawn when first painted, so a logon spent minimised
                // never makes it.
                RECT client{};
                GetClientRect(hwnd, &client);
                HBITMAP banner = artwork_.banner();
                HDC source = CreateCompatibleDC(dc);
                const HGDIOBJ old = SelectObject(source, banner);
                BITMAP size{};
                GetObjectW(banner, sizeof(size), &size);
                SetStretchBltMode(dc, HALFTONE);
                StretchBlt(dc, 0, 0, client.right, client.bottom, source, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
                SelectObject(source, old);
                DeleteDC(source);
                if (GetFocus() == picture2_) {
                    // The frame's focus cue, on the part of the logo that the frame shows.
                    RECT frame{};
                    GetClientRect(picture2_, &frame);
                    MapWindowPoints(picture2_, hwnd, reinterpret_cast<POINT*>(&frame), 2);
                    InflateRect(&frame, -1, -1);
                    DrawFocusRect(dc, &frame);
                }
            }
            EndPaint(hwnd, &paint);
            return 0;
        }
        case WM_SETFOCUS:
            if (hwnd == picture2_) {
                lastFocus_ = hwnd;  // the frame is a tab stop too: a restore gives it back
            }
            InvalidateRect(logo_, nullptr, FALSE);
            return 0;
        case WM_KILLFOCUS:
            InvalidateRect(logo_, nullptr, FALSE);
            return 0;
        case WM_MOUSEMOVE:
            // The frame has no procedure of its own; the window's background must not get the move either.
            if (isLogo) {
                gate_.raise([](platform::FormEvents& e) { e.Image_Tovrel_MouseMove(); });
            }
            return 0;
        case WM_LBUTTONUP: {
            RECT client{};
            GetClientRect(hwnd, &client);
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (isLogo && PtInRect(&client, at) != FALSE) {
                gate_.raise([](platform::FormEvents& e) { e.Image_Tovrel_Click(); });
            }
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace selvatro::platform::win32
