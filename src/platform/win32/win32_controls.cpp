// The form's controls: the path and delay boxes (EDIT), the headings (STATIC), their tips and what a screen reader
// says of them.

#include <windows.h>

#include <commctrl.h>
#include <initguid.h>  // defines the annotation GUIDs of oleacc.h here
#include <oleacc.h>
#include <windowsx.h>
#include <wrl/client.h>

#include "platform/win32/win32_internal.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_window.h"

namespace selvatro::platform::win32 {

void FormWindow::createControls() {
    tooltip_ =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, Instance(), nullptr);
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 600);
    // Created in the tab order: IsDialogMessageW moves the focus along the creation order of the WS_TABSTOP
    // controls.
    for (const platform::TabStop& stop : design_.tabOrder) {
        if (stop.control == platform::TabControl::Picture2) {
            createLogo();
        } else {
            createBox({stop.control == platform::TabControl::Text1, stop.row});
        }
    }
    for (int i = 0; i < 2; ++i) {
        createHeading(i);
    }
}

void FormWindow::createBox(BoxId box) {
    const auto row = static_cast<std::size_t>(box.row);
    const int id = control_id::OfBox(box);
    // A screen reader names an edit control after the static text just before it: a hidden label.
    (box.isPath ? text1Labels_ : text2Labels_).at(row) =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_NOPREFIX, 0, 0, 0, 0, hwnd_, nullptr, Instance(), nullptr);
    HWND edit =
        CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | (box.isPath ? ES_LEFT : ES_CENTER), 0, 0,
                        0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    (box.isPath ? text1_ : text2_).at(row) = edit;
    SetWindowSubclass(edit, &FormWindow::ControlSubclass, static_cast<UINT_PTR>(id), reinterpret_cast<DWORD_PTR>(this));
    if (firstTabStop_ == nullptr) {
        firstTabStop_ = edit;
    }
    std::wstring& tip = (box.isPath ? text1Tips_ : text2Tips_).at(row);
    tip = Widen(box.isPath ? design_.text1Tip : design_.text2Tip);
    addTool(edit, tip);
}

void FormWindow::createHeading(int index) {
    const auto at = static_cast<std::size_t>(index);
    const int id = control_id::kHeading + index;
    // One line each: where Comic Sans MS is missing, a wider face is clipped rather than wrapped onto the boxes.
    HWND heading = CreateWindowExW(0, L"STATIC", Widen(design_.headingCaptions.at(at)).c_str(),
                                   WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOTIFY | SS_NOPREFIX, 0, 0, 0, 0,
                                   hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    headings_.at(at) = heading;
    SetWindowSubclass(heading, &FormWindow::ControlSubclass, static_cast<UINT_PTR>(id),
                      reinterpret_cast<DWORD_PTR>(this));
    addTool(heading, headingTips_.at(at));
}

// ---- tips ----

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

// ---- what the driver asks of the boxes and the headings ----

std::string FormWindow::text(BoxId box) const {
    HWND control = edit(box);
    const int length = GetWindowTextLengthW(control);
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    const int read = GetWindowTextW(control, wide.data(), length + 1);
    wide.resize(static_cast<std::size_t>(read > 0 ? read : 0));
    return Narrow(wide);
}

void FormWindow::putText(BoxId box, const std::string& text) {
    // EN_CHANGE comes inside the call; the caret stays where it was, clipped to the new text.
    SetWindowTextW(edit(box), Widen(text).c_str());
}

void FormWindow::setTip(BoxId box, const std::string& tip) {
    updateTip(edit(box), (box.isPath ? text1Tips_ : text2Tips_).at(static_cast<std::size_t>(box.row)), tip);
}

void FormWindow::focus(BoxId box) {
    // EN_KILLFOCUS of the box that had it comes inside the call, when the window is active.
    SetFocus(edit(box));
    lastFocus_ = edit(box);
}

void FormWindow::selectFromCaret(BoxId box, int length) {
    // Characters, not UTF-16 units: walk `length` code points on from the caret, clipped at the end.
    HWND control = edit(box);
    DWORD start = 0;
    SendMessageW(control, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    const int size = GetWindowTextLengthW(control);
    std::wstring wide(static_cast<std::size_t>(size) + 1, L'\0');
    wide.resize(static_cast<std::size_t>(GetWindowTextW(control, wide.data(), size + 1)));
    std::size_t end = start;
    for (int n = 0; n < length && end < wide.size(); ++n) {
        end += (IS_HIGH_SURROGATE(wide[end]) && end + 1 < wide.size()) ? 2U : 1U;
    }
    SendMessageW(control, EM_SETSEL, start, static_cast<LPARAM>(end));
}

void FormWindow::setHeadingCaption(int index, const std::string& caption) {
    SetWindowTextW(heading(index), Widen(caption).c_str());
}

void FormWindow::setHeadingTip(int index, const std::string& tip) {
    updateTip(heading(index), headingTips_.at(static_cast<std::size_t>(index)), tip);
}

void FormWindow::describe(BoxId box, const std::string& name, const std::string& description) {
    const std::wstring wide = Widen(name);
    SetWindowTextW((box.isPath ? text1Labels_ : text2Labels_).at(static_cast<std::size_t>(box.row)), wide.c_str());
    pendingAnnotations_.push_back({edit(box), wide, description});
}

void FormWindow::describeLogo(const std::string& name, const std::string& description) {
    // The frame takes the focus, so it is what a screen reader announces; the logo is what the mouse finds.
    for (HWND logo : {picture2_, logo_}) {
        SetWindowTextW(logo, Widen(name).c_str());
        pendingAnnotations_.push_back({logo, Widen(name), description});
    }
}

void FormWindow::annotatePending() {
    if (pendingAnnotations_.empty()) {
        return;
    }
    // Where the annotation service runs (Windows; COM initialised by the program), a screen reader gets the name and
    // the description from it directly.
    Microsoft::WRL::ComPtr<IAccPropServices> annotations;
    if (SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                   reinterpret_cast<void**>(annotations.GetAddressOf())))) {
        for (const Annotation& a : pendingAnnotations_) {
            annotations->SetHwndPropStr(a.control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                                        a.name.c_str());
            annotations->SetHwndPropStr(a.control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                        PROPID_ACC_DESCRIPTION, Widen(a.description).c_str());
        }
    }
    pendingAnnotations_.clear();
}

// ---- the controls' messages ----

void FormWindow::onEditNotification(int id, int code, HWND control) {
    const std::optional<BoxId> box = control_id::BoxOf(id);
    if (!box) {
        return;
    }
    if (code == EN_CHANGE) {
        driver_.textChanged(*box);
    } else if (code == EN_KILLFOCUS) {
        // Only a move to another control of this window; not to another program, nor to a dialog.
        if (focusGoesTo_ != nullptr && IsChild(hwnd_, focusGoesTo_) != FALSE) {
            driver_.focusLost(*box);
        }
    } else if (code == EN_SETFOCUS) {
        lastFocus_ = control;
        driver_.focusGained(*box);
    }
}

LRESULT CALLBACK FormWindow::ControlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR data) {
    auto* self = reinterpret_cast<FormWindow*>(data);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &FormWindow::ControlSubclass, id);
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    return Guarded(self->driver_.gate(), [&] { return self->handleControl(hwnd, message, wParam, lParam, id); });
}

LRESULT FormWindow::handleControl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id) {
    const int control = static_cast<int>(id);
    const std::optional<BoxId> box = control_id::BoxOf(control);
    switch (message) {
        case WM_GETOBJECT:
            annotatePending();  // a screen reader asks: it is told what every control is before it gets an answer
            break;
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
            if (box) {
                driver_.mouseMoved(box->isPath ? Pointed::Text1 : Pointed::Text2, box->row);
            } else {
                driver_.mouseMoved(Pointed::Heading, control - control_id::kHeading);
            }
            return result;
        }
        case WM_LBUTTONUP: {
            const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
            RECT client{};
            GetClientRect(hwnd, &client);
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (box && box->isPath && PtInRect(&client, at) != FALSE) {
                driver_.clicked(Pointed::Text1, box->row);
            }
            return result;
        }
        default:
            break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace selvatro::platform::win32
