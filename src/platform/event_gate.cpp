#include "platform/event_gate.h"

#include <cstdio>
#include <cstdlib>

#include "platform/errors.h"

namespace selvatro::platform {

void EventGate::raise(const Event& event) {
    if (events_ == nullptr) {
        return;
    }
    if (nested_ > 0) {
        if (pending_) {
            return;  // an error is already on its way out to the caller: nothing more runs before it arrives
        }
        try {
            event(*events_);
        } catch (...) {
            pending_ = std::current_exception();
        }
        return;
    }
    try {
        event(*events_);
    } catch (const std::exception& error) {
        fail(error.what());
    } catch (...) {
        fail("unknown error");
    }
}

void EventGate::tick() {
    if (inTick_ || modal_ > 0) {
        return;  // due while a tick waits on its message, or behind a dialog: dropped, not queued
    }
    inTick_ = true;
    struct Leave {
        bool& inTick;
        ~Leave() { inTick = false; }
    } leave{inTick_};
    raise([](FormEvents& e) { e.Timer1_Timer(); });
}

void EventGate::callToolkit(const std::function<void()>& call) {
    ++nested_;
    struct Leave {
        int& nested;
        ~Leave() { --nested; }
    } leave{nested_};
    call();
    if (pending_) {
        std::exception_ptr error = pending_;
        pending_ = nullptr;
        std::rethrow_exception(error);
    }
}

void EventGate::runModal(const std::function<void()>& loop) {
    const int saved = nested_;
    const std::exception_ptr savedPending = pending_;
    nested_ = 0;
    pending_ = nullptr;
    ++modal_;
    struct Leave {
        EventGate& gate;
        int nested;
        std::exception_ptr pending;
        ~Leave() {
            --gate.modal_;
            gate.nested_ = nested;
            gate.pending_ = pending;
        }
    } leave{*this, saved, savedPending};
    loop();
}

void EventGate::fail(const std::string& what) {
    if (fatal_) {
        fatal_(what);
        return;
    }
    std::fprintf(stderr, "selvatro: unhandled run-time error: %s\n", what.c_str());
    std::fflush(nullptr);
    std::_Exit(1);
}

}  // namespace selvatro::platform
