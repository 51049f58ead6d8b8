// The logo: its frame, which takes the focus in the tab order, and the banner inside it, which the frame clips; both
// of a window class of their own.

#include <windows.h>

#include <windowsx.h>

#include "platform/win32/win32_internal.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_window.h"

namespace selvatro::platform::win32 {

void FormWindow::createLogo() {
    picture2_ =
        CreateWindowExW(0, kLogoClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, 0, 0, 0, 0, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control_id::kPicture2)), Instance(), this);
    if (firstTabStop_ == nullptr) {
        firstTabStop_ = picture2_;
    }
    logo_ = CreateWindowExW(0, kLogoClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, picture2_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(control_id::kLogo)), Instance(), this);
    addTool(logo_, Widen(design_.logoTip));
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
    return Guarded(self->driver_.gate(), [&] { return self->handleLogo(hwnd, message, wParam, lParam); });
}

LRESULT FormWindow::handleLogo(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool isLogo = GetDlgCtrlID(hwnd) == control_id::kLogo;
    switch (message) {
        case WM_GETOBJECT:
            annotatePending();
            break;
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
                driver_.focusGained(std::nullopt);
            }
            InvalidateRect(logo_, nullptr, FALSE);
            return 0;
        case WM_KILLFOCUS:
            InvalidateRect(logo_, nullptr, FALSE);
            return 0;
        case WM_MOUSEMOVE:
            // The frame has no procedure of its own; the window's background must not get the move either.
            if (isLogo) {
                driver_.mouseMoved(Pointed::Logo);
            }
            return 0;
        case WM_LBUTTONUP: {
            RECT client{};
            GetClientRect(hwnd, &client);
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (isLogo && PtInRect(&client, at) != FALSE) {
                driver_.clicked(Pointed::Logo);
            }
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace selvatro::platform::win32
