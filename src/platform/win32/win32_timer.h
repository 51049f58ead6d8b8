#pragma once

// The ticks of Timer1 on Win32: one every interval against absolute due instants of the performance counter, so that no
// delay adds up. Each tick is a one-shot SetTimer armed a few milliseconds short of the next due instant, the rest
// waited out on the counter, with the system timer's resolution raised to 1 ms while the timer runs. WM_TIMER is pumped
// by every message loop, MessageBoxW's and GetOpenFileNameW's modal loops included, so the schedule goes on behind a
// dialog; the gate drops the ticks that fall due there.

#include <windows.h>

#include <functional>

namespace selvatro::platform::win32 {

/// The ticks of the window's timer: started and stopped by the window driver, each due tick handed to `onTick`.
class Win32Timer final {
public:
    /// The identifier of the timer's WM_TIMER messages on its window.
    static constexpr UINT_PTR kTimerId = 1;

    explicit Win32Timer(int intervalMs);
    ~Win32Timer();
    Win32Timer(const Win32Timer&) = delete;
    Win32Timer& operator=(const Win32Timer&) = delete;

    /// The window whose message queue carries the ticks, and what each due tick runs.
    void attach(HWND window, std::function<void()> onTick) {
        window_ = window;
        onTick_ = std::move(onTick);
    }
    /// Starts the ticks, the first one interval from now.
    void start();
    void stop();
    /// Handles the window's WM_TIMER for kTimerId: plans the next due instant, then runs the tick.
    void onTimer();
    /// How late the last tick came after its due instant, in milliseconds.
    double lastLatenessMs() const { return lastLatenessMs_; }

private:
    void arm(long long now);

    HWND window_ = nullptr;
    std::function<void()> onTick_;
    long long frequency_ = 1;  // performance-counter counts a second
    long long period_ = 0;     // in counts
    long long due_ = 0;        // the next due instant, in counts
    bool running_ = false;
    bool fineResolution_ = false;
    double lastLatenessMs_ = 0.0;
};

/// The performance counter now: a monotonic clock.
long long PerformanceCounter();

}  // namespace selvatro::platform::win32
