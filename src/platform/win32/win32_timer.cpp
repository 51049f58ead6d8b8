#include "platform/win32/win32_timer.h"

#include <timeapi.h>

#include <cmath>

namespace selvatro::platform::win32 {

namespace {

// The timer message is asked for this long before the due instant, and the rest is waited out on the counter:
// the system wakes a thread a few milliseconds late when the machine is busy (measured under Wine: up to 6 ms).
// Waiting costs at most this much processor time a second.
constexpr double kLeadMs = 4.0;
// Below this time left, SetTimer (whose shortest delay is 10 ms) would come late: the rest is waited out too.
constexpr double kShortestDelayMs = 12.0 + kLeadMs;

long long Frequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// Windows 11 lowers the timer resolution of a process whose windows are all minimised or hidden, which is how
// the window spends a logon; this process asks to keep the resolution it set.
void KeepTimerResolution() {
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0;
    SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof(state));
}

}  // namespace

long long PerformanceCounter() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

Win32Timer::Win32Timer(int intervalMs) : frequency_(Frequency()) {
    period_ = frequency_ * intervalMs / 1000;
}

Win32Timer::~Win32Timer() {
    stop();
}

void Win32Timer::start() {
    if (window_ == nullptr) {
        return;
    }
    if (!fineResolution_) {
        fineResolution_ = timeBeginPeriod(1) == TIMERR_NOERROR;
        KeepTimerResolution();
        // A busy machine (a logon is one) wakes a thread of normal priority late: the user-interface thread, which
        // spends nearly all its time waiting, is woken first.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    }
    running_ = true;
    const long long now = PerformanceCounter();
    due_ = now + period_;
    arm(now);
}

void Win32Timer::stop() {
    if (window_ != nullptr) {
        KillTimer(window_, kTimerId);
    }
    running_ = false;
    if (fineResolution_) {
        timeEndPeriod(1);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        fineResolution_ = false;
    }
}

void Win32Timer::arm(long long now) {
    const double left = static_cast<double>(due_ - now) * 1000.0 / static_cast<double>(frequency_);
    const double delay = left - kLeadMs;
    SetTimer(window_, kTimerId, static_cast<UINT>(std::ceil(delay > 1.0 ? delay : 1.0)), nullptr);
}

void Win32Timer::onTimer() {
    KillTimer(window_, kTimerId);  // one shot: the next is armed for its own due instant
    if (!running_) {
        return;
    }
    long long now = PerformanceCounter();
    if (now < due_) {
        const double left = static_cast<double>(due_ - now) * 1000.0 / static_cast<double>(frequency_);
        if (left >= kShortestDelayMs) {
            arm(now);
            return;
        }
        while (now < due_) {
            YieldProcessor();
            now = PerformanceCounter();
        }
    }
    lastLatenessMs_ = static_cast<double>(now - due_) * 1000.0 / static_cast<double>(frequency_);
    // Plan the next tick before this one runs, so that a message box that the tick opens keeps the schedule. Due
    // instants that passed unseen (a blocking call in between) are dropped, not queued.
    due_ += period_;
    while (due_ <= now) {
        due_ += period_;
    }
    arm(now);
    if (onTick_) {
        onTick_();
    }
}

}  // namespace selvatro::platform::win32
