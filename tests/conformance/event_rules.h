#pragma once

// The event rules that every desktop keeps, one suite for all of them: the test platform, Qt and Win32 each
// instantiate it with a harness of their own. The rules are what the row rules, the loader, the picker and the tick
// rely on: a text set by code raises its change event nested inside the set and only when it differs; each user edit
// raises it once; a focus move between the window's controls raises the lost-focus event of the control that had
// it, also when code moves it while the window is inactive, and a switch to another window raises nothing; setting
// the window state runs the resize event inside the call, and the first show runs it once; no tick runs before the
// first show, inside another tick or behind a message of ours; an error raised inside a nested event reaches the
// code that caused it, one from the event loop ends the program; a close during the unload runs nothing more.
//
// A harness H gives: H() (the window made, its events recorded), `recorder`, `fatal` (the errors that would have
// ended the program), `driver`, `controls`, and
//   showNormal()                  the first show, normal and active; the events so far forgotten
//   showMinimised()               the first show, minimised; the events so far forgotten
//   type(BoxId, char)             one keystroke of the user into the box, which has the focus
//   click(BoxId)                  the user clicks into the box
//   leaveForAnotherWindow()       another window takes the focus; returnToTheWindow() gives it back
//   wait(ms)                      the event loop runs for `ms`; nowMs() reads the clock the ticks keep to
//   showMessageFor(ms)            a message box of ours, open for `ms` of the loop, closed by the user

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fake/event_recorder.h"
#include "platform/errors.h"
#include "platform/platform.h"
#include "platform/window_driver.h"

namespace selvatro::conformance {

using Events = std::vector<std::string>;
using platform::BoxId;
using platform::WindowState;

template <typename H>
class EventRules : public ::testing::Test {
protected:
    H harness;
    platform::TextBox& text1(int row) { return *harness.controls.text1.at(static_cast<std::size_t>(row)); }
    platform::TextBox& text2(int row) { return *harness.controls.text2.at(static_cast<std::size_t>(row)); }
    Events only(const std::string& prefix) const { return harness.recorder.only(prefix); }
    Events lostFocus() const {
        Events found;
        for (const std::string& e : harness.recorder.events) {
            if (e.find("_LostFocus(") != std::string::npos) {
                found.push_back(e);
            }
        }
        return found;
    }
};

TYPED_TEST_SUITE_P(EventRules);

TYPED_TEST_P(EventRules, AChangeRunsNestedInsideTheSetAndOnlyForADifferentText) {
    auto& h = this->harness;
    bool inside = false;
    Events seenInside;
    h.recorder.hook = [&](const std::string& e) {
        if (inside) {
            seenInside.push_back(e + " with " + this->text2(3).text());
        }
    };
    inside = true;
    this->text2(3).setText("12");
    this->text2(3).setText("12");  // the same text: nothing
    this->text1(0).setText("/opt/Ünïcode/x");
    this->text1(0).setText("");
    this->text1(0).setText("");
    inside = false;
    EXPECT_EQ(seenInside, (Events{"Text2_Change(3) with 12", "Text1_Change(0) with 12", "Text1_Change(0) with 12"}));
    EXPECT_EQ(this->text1(0).text(), "");
}

TYPED_TEST_P(EventRules, EachKeystrokeOfTheUserRaisesOneChange) {
    auto& h = this->harness;
    h.showNormal();
    h.click({false, 1});
    h.recorder.events.clear();
    h.type({false, 1}, '2');
    h.type({false, 1}, '5');
    EXPECT_EQ(this->only("Text2_Change"), (Events{"Text2_Change(1)", "Text2_Change(1)"}));
    EXPECT_EQ(this->text2(1).text(), "25");
}

TYPED_TEST_P(EventRules, AnErrorInANestedEventReachesTheCodeAndOneFromTheLoopEndsTheProgram) {
    auto& h = this->harness;
    h.recorder.hook = [](const std::string& e) {
        if (e == "Text2_Change(0)" || e == "Text2_Change(2)") {
            throw platform::OverflowError("overflow");
        }
    };
    EXPECT_THROW(this->text2(0).setText("99999"), platform::OverflowError);
    EXPECT_EQ(this->text2(0).text(), "99999");
    EXPECT_TRUE(h.fatal.empty());
    h.showNormal();
    h.click({false, 2});
    h.type({false, 2}, '7');  // typed by the user: no code above it to catch the error
    EXPECT_EQ(h.fatal, Events{"overflow"});
}

TYPED_TEST_P(EventRules, ALostFocusComesForMovesBetweenTheWindowsControlsOnly) {
    auto& h = this->harness;
    h.showNormal();
    this->text1(0).setFocus();
    h.recorder.events.clear();
    this->text2(0).setFocus();  // by code
    h.click({true, 3});         // by the user
    EXPECT_EQ(this->lostFocus(), (Events{"Text1_LostFocus(0)", "Text2_LostFocus(0)"}));

    // Another window taking the focus (another program, a dialog of ours) and giving it back is no move.
    h.recorder.events.clear();
    h.leaveForAnotherWindow();
    h.returnToTheWindow();
    EXPECT_EQ(this->lostFocus(), Events{});
}

TYPED_TEST_P(EventRules, ACodeMoveWhileTheWindowIsInactiveStillRaisesTheLostFocus) {
    // After a dialog of ours closes, the window gets its focus back only later; the picker moves the focus in
    // between and relies on the lost-focus event of the path box.
    auto& h = this->harness;
    h.showNormal();
    this->text1(2).setFocus();
    h.leaveForAnotherWindow();
    h.recorder.events.clear();
    this->text2(2).setFocus();
    EXPECT_EQ(this->lostFocus(), (Events{"Text1_LostFocus(2)"}));
    h.returnToTheWindow();
    this->text1(3).setFocus();
    EXPECT_EQ(this->lostFocus(), (Events{"Text1_LostFocus(2)", "Text2_LostFocus(2)"}));
}

TYPED_TEST_P(EventRules, TheResizeRunsOnceAtTheFirstShowThenInsideEachChangeOfState) {
    auto& h = this->harness;
    EXPECT_EQ(h.driver.windowState(), WindowState::Minimised);  // created minimised
    // Before the first show (while the load event runs) a change raises nothing: the show will.
    h.driver.setWindowState(WindowState::Normal);
    EXPECT_EQ(h.driver.windowState(), WindowState::Normal);
    EXPECT_EQ(h.recorder.events, Events{});
    h.driver.showInState();
    h.wait(100);
    EXPECT_EQ(h.recorder.events, Events{"Form_Resize"});

    bool inside = false;
    std::vector<WindowState> seen;
    h.recorder.hook = [&](const std::string& e) {
        if (e == "Form_Resize") {
            EXPECT_TRUE(inside);
            seen.push_back(h.driver.windowState());
        }
    };
    // Each change is given time for the toolkit's late reports of it (a second SIZE_MINIMIZED, the window system's
    // echo), which must not run the event again.
    for (const WindowState state : {WindowState::Minimised, WindowState::Minimised, WindowState::Normal}) {
        inside = true;
        h.driver.setWindowState(state);  // the second Minimised is no change: no event
        inside = false;
        h.wait(100);
    }
    EXPECT_EQ(seen, (std::vector<WindowState>{WindowState::Minimised, WindowState::Normal}));

    h.recorder.hook = [](const std::string& e) {
        if (e == "Form_Resize") {
            throw platform::ControlError("inside the resize");
        }
    };
    EXPECT_THROW(h.driver.setWindowState(WindowState::Minimised), platform::ControlError);
    EXPECT_TRUE(h.fatal.empty());
}

TYPED_TEST_P(EventRules, NoTickBeforeTheFirstShowNorInsideATickBehindItsMessage) {
    // The ticks that fall due while the message is open are dropped: none runs nested, none is queued to run the
    // moment the message closes, and the timer goes on afterwards.
    auto& h = this->harness;
    std::vector<std::int64_t> ticks;
    int depth = 0;
    int deepest = 0;
    std::int64_t closedAt = -1;
    h.recorder.hook = [&](const std::string& e) {
        if (e != "Timer1_Timer") {
            return;
        }
        ticks.push_back(h.nowMs());
        deepest = std::max(deepest, ++depth);
        if (ticks.size() == 1) {
            h.showMessageFor(2500);
            closedAt = h.nowMs();
        }
        --depth;
    };
    h.wait(1300);
    EXPECT_TRUE(ticks.empty()) << "a tick came before the window was shown";
    const std::int64_t shownAt = h.nowMs();
    h.showMinimised();
    h.wait(5000);
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_NEAR(static_cast<double>(ticks[0] - shownAt), 1000.0, 250.0);
    EXPECT_EQ(deepest, 1);
    EXPECT_GT(ticks[1] - closedAt, 200) << "a tick that fell due behind the message ran as soon as it closed";
    EXPECT_LT(ticks[1] - closedAt, 1250) << "the timer stopped after the message";
}

TYPED_TEST_P(EventRules, ACloseDuringTheUnloadRunsNothingMore) {
    auto& h = this->harness;
    h.showNormal();
    h.recorder.hook = [&](const std::string& e) {
        if (e == "Form_Unload") {
            h.driver.requestUnload();  // the session's end arriving while the list is being saved
        }
    };
    h.driver.requestUnload();
    EXPECT_EQ(this->only("Form_Unload"), Events{"Form_Unload"});
}

REGISTER_TYPED_TEST_SUITE_P(EventRules, AChangeRunsNestedInsideTheSetAndOnlyForADifferentText,
                            EachKeystrokeOfTheUserRaisesOneChange,
                            AnErrorInANestedEventReachesTheCodeAndOneFromTheLoopEndsTheProgram,
                            ALostFocusComesForMovesBetweenTheWindowsControlsOnly,
                            ACodeMoveWhileTheWindowIsInactiveStillRaisesTheLostFocus,
                            TheResizeRunsOnceAtTheFirstShowThenInsideEachChangeOfState,
                            NoTickBeforeTheFirstShowNorInsideATickBehindItsMessage,
                            ACloseDuringTheUnloadRunsNothingMore);

}  // namespace selvatro::conformance
