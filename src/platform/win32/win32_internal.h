#pragma once

// Shared by the parts of the Win32 window (the form, its controls, the logo); not part of what the program sees.

#include <windows.h>

#include <exception>

#include "platform/event_gate.h"
#include "platform/window_design.h"

namespace selvatro::platform::win32 {

inline constexpr wchar_t kFormClass[] = L"SelvatroForm";
inline constexpr wchar_t kLogoClass[] = L"SelvatroLogo";
inline constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
inline constexpr DWORD kFormExStyle = 0;

inline COLORREF Colour(platform::Colour colour) {
    return RGB(colour.red(), colour.green(), colour.blue());
}

inline HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

/// Runs `body` for a window procedure: an error that escapes it travels through the gate as an event's would, so
/// that no exception unwinds through the system's frames.
template <typename Body>
LRESULT Guarded(EventGate& gate, Body body) {
    try {
        return body();
    } catch (...) {
        gate.raise([error = std::current_exception()](platform::FormEvents&) { std::rethrow_exception(error); });
        return 0;
    }
}

}  // namespace selvatro::platform::win32
