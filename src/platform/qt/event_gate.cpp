#include "platform/qt/event_gate.h"

#include <cstdio>
#include <cstdlib>

#include "platform/errors.h"

namespace selvatro::qt {

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
    } catch (const platform::RuntimeError& error) {
        fail(error.what());
    } catch (const std::exception& error) {
        fail(error.what());
    } catch (...) {
        fail("unknown error");
    }
}

void EventGate::callQt(const std::function<void()>& call) {
    ++nested_;
    call();
    --nested_;
    if (pending_) {
        std::exception_ptr error = pending_;
        pending_ = nullptr;
        std::rethrow_exception(error);
    }
}

void EventGate::runLoop(const std::function<void()>& loop) {
    const int saved = nested_;
    const std::exception_ptr savedPending = pending_;
    nested_ = 0;
    pending_ = nullptr;
    loop();
    nested_ = saved;
    pending_ = savedPending;
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

}  // namespace selvatro::qt
