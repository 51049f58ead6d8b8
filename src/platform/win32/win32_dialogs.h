#pragma once

// The window's modal dialogs on Win32: MessageBoxW and GetOpenFileNameW, owned by the window and run through the
// gate, which drops the ticks that fall due behind them.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/event_gate.h"
#include "platform/platform.h"
#include "platform/window_driver.h"

namespace selvatro::platform::win32 {

class Win32MessageBoxes final : public platform::MessageBoxes {
public:
    Win32MessageBoxes(EventGate& gate, HWND owner) : gate_(gate), owner_(owner) {}
    void show(const std::string& text, platform::MessageStyle style, const std::string& title) override;
    bool ask(const std::string& question, const std::string& title) override;

private:
    EventGate& gate_;
    HWND owner_;
};

/// The filter of the open dialog as the NUL-separated label and pattern pairs that OPENFILENAMEW wants, ended by two
/// NULs.
std::wstring DialogFilter(const std::vector<FilterEntry>& filter);

/// GetOpenFileNameW owned by `owner`, set up as `request` says and starting in the process's current folder; the
/// chosen file's full path, or nothing when the user cancelled.
std::optional<std::string> ShowOpenDialog(HWND owner, const OpenRequest& request);

}  // namespace selvatro::platform::win32
