#pragma once

// Where Qt hands an event to Form1. Two things happen here that Qt itself cannot do for us:
// - An event raised inside one of our own calls into Qt (a setText that emits textChanged, a setFocus that sends
//   focusOut, a setWindowState that sends WindowStateChange) must let a run-time error travel out to the
//   procedure that made the call, as the core expects (the tick's error path catches it). Letting a C++ exception
//   unwind through Qt's frames is unsafe, so the error is caught at the event, carried past Qt and thrown again
//   when our call returns.
// - An error that escapes an event coming from the event loop has no procedure above it: the process ends, as
//   an unhandled run-time error would end it.

#include <exception>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace selvatro::qt {

class EventGate {
public:
    using Event = std::function<void(platform::FormEvents&)>;

    /// Starts delivering events to `events`; until then every event is dropped.
    void connect(platform::FormEvents& events) { events_ = &events; }
    bool connected() const { return events_ != nullptr; }

    /// Delivers one event. From the event loop, an escaping error ends the process through the fatal handler;
    /// nested inside callQt, it is kept and thrown again when callQt returns.
    void raise(const Event& event);

    /// Runs a call into Qt that may raise events synchronously, then rethrows the first error one of them let
    /// escape.
    void callQt(const std::function<void()>& call);

    /// Runs a modal dialog's own event loop: events inside it come from the user, not from the caller, so an
    /// error escaping them ends the process.
    void runLoop(const std::function<void()>& loop);

    /// Replaces what happens to an error that escapes an event from the event loop (tests record it instead of
    /// ending the process). The default writes the error to standard error and ends the process with status 1.
    void setFatalHandler(std::function<void(const std::string&)> handler) { fatal_ = std::move(handler); }

private:
    void fail(const std::string& what);

    platform::FormEvents* events_ = nullptr;
    int nested_ = 0;
    std::exception_ptr pending_;
    std::function<void(const std::string&)> fatal_;
};

}  // namespace selvatro::qt
