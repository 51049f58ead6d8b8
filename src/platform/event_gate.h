#pragma once

// Where a desktop hands an event to the form, with the rules that no toolkit gives us:
// - An event raised inside one of our own calls into the toolkit (a text set that raises the change event, a
//   focus move that raises lost-focus, a state change that raises resize) must let a run-time error travel out to
//   the procedure that made the call, as the core expects (the tick's error path catches it). A C++ exception
//   must never unwind through the toolkit's frames (Qt's, or a window procedure), so the error is caught at the
//   event, carried past the toolkit and thrown again when our call returns.
// - An error that escapes an event coming from the event loop has no procedure above it: the process ends, as an
//   unhandled run-time error would end it.
// - A tick never runs inside another tick, nor while a message box or the file dialog of ours is open: a tick
//   that falls due then is dropped, not queued.

#include <exception>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace selvatro::platform {

class EventGate {
public:
    using Event = std::function<void(FormEvents&)>;

    /// Starts delivering events to `events`; until then every event is dropped.
    void connect(FormEvents& events) { events_ = &events; }

    /// Delivers one event. From the event loop, an escaping error ends the process through the fatal handler;
    /// nested inside callToolkit, it is kept and thrown again when callToolkit returns.
    void raise(const Event& event);

    /// Delivers the timer's tick, unless a tick is running or a modal dialog of ours is open: then it is dropped.
    void tick();

    /// Runs a call into the toolkit that may raise events synchronously, then rethrows the first error one of
    /// them let escape.
    void callToolkit(const std::function<void()>& call);

    /// Runs a modal dialog's own event loop: events inside it come from the user, not from the caller, so an
    /// error escaping them ends the process; ticks falling due meanwhile are dropped.
    void runModal(const std::function<void()>& loop);

    /// Replaces what happens to an error that escapes an event from the event loop (tests record it instead of
    /// ending the process). The default writes the error to standard error and ends the process with status 1.
    void setFatalHandler(std::function<void(const std::string&)> handler) { fatal_ = std::move(handler); }

private:
    void fail(const std::string& what);

    FormEvents* events_ = nullptr;
    int nested_ = 0;
    int modal_ = 0;
    bool inTick_ = false;
    std::exception_ptr pending_;
    std::function<void(const std::string&)> fatal_;
};

}  // namespace selvatro::platform
