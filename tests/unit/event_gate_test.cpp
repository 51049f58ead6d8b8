// The event gate's rules, without any toolkit: errors raised inside nested events come back to the call that
// raised them, errors from the event loop end the run, and no tick runs inside a tick or behind a dialog.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake/event_recorder.h"
#include "platform/errors.h"
#include "platform/event_gate.h"

namespace selvatro::platform {
namespace {

using Events = fake::EventRecorder;

struct Gate {
    Gate() {
        gate.connect(events);
        gate.setFatalHandler([this](const std::string& what) { fatal.push_back(what); });
    }
    // A text set that the toolkit answers with the box's change event, nested inside the call.
    void setText(std::int16_t box) {
        gate.callToolkit([&] { gate.raise([box](FormEvents& e) { e.Text2_Change(box); }); });
    }
    EventGate gate;
    Events events;
    std::vector<std::string> fatal;
};

TEST(EventGate, ANestedErrorReachesTheCallThatRaisedItAndStopsTheEventsBehindIt) {
    Gate g;
    g.events.hook = [](const std::string& e) {
        if (e == "Text2_Change(0)") {
            throw OverflowError("overflow");
        }
    };
    // Two events inside one toolkit call: the second must not run once the first has failed.
    EXPECT_THROW(g.gate.callToolkit([&] {
        g.gate.raise([](FormEvents& e) { e.Text2_Change(0); });
        g.gate.raise([](FormEvents& e) { e.Text2_Change(1); });
    }),
                 OverflowError);
    EXPECT_EQ(g.events.events, (std::vector<std::string>{"Text2_Change(0)"}));
    EXPECT_TRUE(g.fatal.empty());
    // The gate is clear again.
    g.events.hook = nullptr;
    g.setText(1);
    EXPECT_EQ(g.events.events.back(), "Text2_Change(1)");
}

TEST(EventGate, AnErrorTravelsOutThroughEveryLevelOfNesting) {
    // A change event that sets another box, whose change event fails: the outer call sees the error, and the
    // code between the two calls does not go on.
    Gate g;
    bool wentOn = false;
    g.events.hook = [&](const std::string& e) {
        if (e == "Text2_Change(1)") {
            g.setText(2);
            wentOn = true;
        } else if (e == "Text2_Change(2)") {
            throw StartFailed("no");
        }
    };
    EXPECT_THROW(g.setText(1), StartFailed);
    EXPECT_FALSE(wentOn);
}

TEST(EventGate, AnErrorFromTheEventLoopOrInsideADialogEndsTheRun) {
    Gate g;
    g.events.hook = [](const std::string& e) {
        if (e == "Image_Tovrel_Click") {
            throw FileError("disk full");
        }
    };
    g.gate.raise([](FormEvents& e) { e.Image_Tovrel_Click(); });
    // Inside a dialog's loop the events are the user's, even when a call of ours opened the dialog.
    EXPECT_NO_THROW(g.gate.callToolkit(
        [&] { g.gate.runModal([&] { g.gate.raise([](FormEvents& e) { e.Image_Tovrel_Click(); }); }); }));
    EXPECT_EQ(g.fatal, (std::vector<std::string>{"disk full", "disk full"}));
}

TEST(EventGate, TicksDueInsideATickOrBehindADialogAreDropped) {
    Gate g;
    int depth = 0;
    int deepest = 0;
    g.events.hook = [&](const std::string& e) {
        if (e != "Timer1_Timer") {
            return;
        }
        deepest = std::max(deepest, ++depth);
        if (g.events.events.size() == 1) {
            g.gate.runModal([&] { g.gate.tick(), g.gate.tick(); });  // a tick's message, open for two seconds
        }
        --depth;
    };
    g.gate.tick();
    g.gate.runModal([&] { g.gate.tick(); });  // the file dialog, opened outside any tick
    g.gate.tick();
    EXPECT_EQ(g.events.events, (std::vector<std::string>{"Timer1_Timer", "Timer1_Timer"}));
    EXPECT_EQ(deepest, 1);
}

TEST(EventGate, ATickThatFailsLeavesTheGateOpenForTheNext) {
    Gate g;
    g.events.hook = [](const std::string& e) {
        if (e == "Timer1_Timer") {
            throw OverflowError("overflow");
        }
    };
    g.gate.tick();
    g.gate.tick();
    EXPECT_EQ(g.fatal.size(), 2u);
}

}  // namespace
}  // namespace selvatro::platform
