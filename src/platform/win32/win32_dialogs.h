#pragma once

// The window's modal dialogs on Win32: MessageBoxW and GetOpenFileNameW, owned by the window and run through the
// gate, which drops the ticks that fall due behind them.

#include <windows.h>

#include <string>

#include "platform/event_gate.h"
#include "platform/platform.h"

namespace selvatro::platform::win32 {

class Win32MessageBoxes final : public platform::MessageBoxes {
public:
    Win32MessageBoxes(EventGate& gate, HWND owner) : gate_(gate), owner_(owner) {}
    void show(const std::string& text, platform::MessageStyle style, const std::string& title) override;

private:
    EventGate& gate_;
    HWND owner_;
};

/// The filter of the open dialog: "label|pattern|label|pattern" as the NUL-separated pairs that
/// OPENFILENAMEW wants, ended by two NULs; a label without its pattern is dropped.
std::wstring DialogFilter(const std::string& filter);

class Win32FileDialog final : public platform::FileDialog {
public:
    Win32FileDialog(EventGate& gate, HWND owner, std::string title)
        : gate_(gate), owner_(owner), title_(std::move(title)) {}
    void setTitle(const std::string& title) override { title_ = title; }
    void setCancelError(bool cancelError) override { cancelError_ = cancelError; }
    void setFlags(std::int32_t flags) override { flags_ = flags; }
    void setFilter(const std::string& filter) override { filter_ = filter; }
    void setFilterIndex(std::int16_t index) override { filterIndex_ = index; }
    void showOpen() override;
    std::string fileName() const override { return fileName_; }

private:
    EventGate& gate_;
    HWND owner_;
    std::string title_;
    bool cancelError_ = false;
    std::int32_t flags_ = 0;
    std::string filter_;
    std::int16_t filterIndex_ = 0;
    std::string fileName_;
};

}  // namespace selvatro::platform::win32
