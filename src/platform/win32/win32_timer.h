#pragma once

// Timer1 on Win32: one tick every interval against absolute due instants of the performance counter, so that no
// delay adds up. Each tick is a one-shot SetTimer armed a few milliseconds short of the next due instant, the rest
// waited out on the counter, with the system timer's resolution raised to 1 ms while the timer runs. WM_TIMER is pumped
// by every message loop, MessageBoxW's and GetOpenFileNameW's modal loops included, so the schedule goes on behind a
// dialog; the gate drops the ticks that fall due there.

#include <windows.h>

#include "platform/event_gate.h"
#include "platform/platform.h"

namespace selvatro::platform::win32 {

class Win32Timer final : public platform::Timer {
public:
    /// The identifier of the timer's WM_TIMER messages on its window.
    static constexpr UINT_PTR kTimerId = 1;

    Win32Timer(EventGate& gate, int intervalMs);
    ~Win32Timer() override;
    Win32Timer(const Win32Timer&) = delete;
    Win32Timer& operator=(const Win32Timer&) = delete;

    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }

    /// The window whose message queue carries the ticks.
    void attach(HWND window) { window_ = window; }
    /// Lets the timer run from now on, when it is enabled; called when the window is first shown.
    void goLive();
    /// Whether the ticks run now.
    bool isRunning() const { return running_; }
    /// Handles the window's WM_TIMER for kTimerId: plans the next due instant, then delivers the tick.
    void onTimer();
    /// How late the last tick came after its due instant, in milliseconds.
    double lastLatenessMs() const { return lastLatenessMs_; }

private:
    void start();
    void stop();
    void arm(long long now);

    EventGate& gate_;
    HWND window_ = nullptr;
    long long frequency_ = 1;  // performance-counter counts a second
    long long period_ = 0;     // in counts
    long long due_ = 0;        // the next due instant, in counts
    bool enabled_ = true;      // enabled at design time
    bool live_ = false;
    bool running_ = false;
    bool fineResolution_ = false;
    double lastLatenessMs_ = 0.0;
};

/// The performance counter now: a monotonic clock.
long long PerformanceCounter();

}  // namespace selvatro::platform::win32
