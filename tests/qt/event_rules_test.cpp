// The toolkit's event rules, checked against the Qt layer: what the core relies on when it sets a text, moves
// the focus, sets the window state or waits in a tick.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <csignal>

#include "platform/errors.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_services.h"
#include "recorder.h"

namespace selvatro::platform::qt::test {
namespace {

using platform::WindowState;
using Events = std::vector<std::string>;

TEST(ChangeEvent, RunsNestedInsideSetTextAndOnlyForADifferentText) {
    Rig rig;
    bool inside = false;
    Events seenInside;
    rig.recorder.hook = [&](const std::string& e) {
        if (inside) {
            seenInside.push_back(e + " with text " + rig.text2(3).text());
        }
    };
    inside = true;
    rig.text2(3).setText("12");
    rig.text2(3).setText("12");  // the same text: silent
    rig.text1(0).setText("/usr/bin/env");
    rig.text1(0).setText("");
    inside = false;
    EXPECT_EQ(seenInside,
              (Events{"Text2_Change(3) with text 12", "Text1_Change(0) with text 12", "Text1_Change(0) with text 12"}));
}

TEST(ChangeEvent, OncePerKeystrokeAndPerPaste) {
    Rig rig;
    rig.showNormal();
    QTest::keyClicks(rig.window.edit({false, 1}), "25");
    EXPECT_EQ(rig.recorder.only("Text2_Change"), (Events{"Text2_Change(1)", "Text2_Change(1)"}));
    EXPECT_EQ(rig.text2(1).text(), "25");
    rig.recorder.events.clear();
    rig.window.edit({false, 1})->selectAll();
    QTest::keyClick(rig.window.edit({false, 1}), Qt::Key_Delete);
    EXPECT_EQ(rig.recorder.only("Text2_Change"), (Events{"Text2_Change(1)"}));
}

TEST(ChangeEvent, ChainsOfAssignmentsEndWhereTheTextsStopChanging) {
    // The move-up rule: a change of box i moves its text into the empty box above, which changes that box in turn.
    Rig rig;
    rig.recorder.hook = [&](const std::string& e) {
        for (int i = 1; i < 5; ++i) {
            if (e == Recorder::at("Text1_Change", static_cast<std::int16_t>(i)) && rig.text1(i - 1).text().empty()) {
                rig.text1(i - 1).setText(rig.text1(i).text());
                rig.text1(i).setText("");
            }
        }
    };
    rig.text1(4).setText("/bin/true");
    EXPECT_EQ(rig.text1(0).text(), "/bin/true");
    for (int i = 1; i < 5; ++i) {
        EXPECT_EQ(rig.text1(i).text(), "") << "row " << i;
    }
}

TEST(ChangeEvent, AnErrorInANestedEventReachesTheCodeThatSetTheText) {
    // The tick's error path catches what a nested change event lets escape; Qt's frames must not swallow it.
    Rig rig;
    rig.recorder.hook = [](const std::string& e) {
        if (e == "Text2_Change(0)") {
            throw platform::OverflowError("overflow");
        }
    };
    EXPECT_THROW(rig.text2(0).setText("99999"), platform::OverflowError);
    EXPECT_EQ(rig.text2(0).text(), "99999");
    EXPECT_TRUE(rig.fatal.empty());
    // The gate is clear again: the next assignment raises its event normally.
    rig.recorder.hook = nullptr;
    rig.text2(1).setText("3");
    EXPECT_EQ(rig.recorder.only("Text2_Change").back(), "Text2_Change(1)");
}

TEST(ChangeEvent, AnErrorEscapingAUserEditEndsTheProgram) {
    Rig rig;
    rig.showNormal();
    rig.recorder.hook = [](const std::string& e) {
        if (e == "Text2_Change(2)") {
            throw platform::OverflowError("too big");
        }
    };
    QTest::keyClick(rig.window.edit({false, 2}), Qt::Key_7);
    EXPECT_EQ(rig.fatal, (Events{"too big"}));
}

TEST(LostFocus, RaisedForMovesBetweenTheWindowsControlsOnly) {
    Rig rig;
    rig.showNormal();
    rig.text1(0).setFocus();
    rig.recorder.events.clear();

    // Moves by code, by the keyboard and by the mouse.
    rig.text2(0).setFocus();
    QTest::keyClick(rig.window.edit({false, 0}), Qt::Key_Tab);
    QTest::mouseClick(rig.window.edit({false, 3}), Qt::LeftButton);
    EXPECT_EQ(rig.recorder.only("Text"), (Events{"Text1_LostFocus(0)", "Text2_LostFocus(0)", "Text1_LostFocus(1)"}));

    // Another window taking the focus (another program, or a dialog of ours) is no move inside the window.
    rig.recorder.events.clear();
    QWidget other;
    other.setFocusPolicy(Qt::StrongFocus);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    rig.window.widget()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.widget()));
    EXPECT_EQ(rig.recorder.only("Text2_LostFocus"), Events{});
    EXPECT_EQ(rig.window.widget()->focusWidget(), rig.window.edit({false, 3}));
}

TEST(LostFocus, ACodeMoveWhileTheWindowIsInactiveStillRaisesIt) {
    // After a dialog of ours closes, the window manager gives the window its focus back only later; the picker
    // moves the focus in between and relies on the lost-focus event of the path box.
    Rig rig;
    rig.showNormal();
    rig.text1(2).setFocus();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    rig.recorder.events.clear();
    rig.text2(2).setFocus();
    EXPECT_EQ(rig.recorder.only("Text"), (Events{"Text1_LostFocus(2)"}));
    rig.window.widget()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.widget()));
    EXPECT_EQ(QApplication::focusWidget(), rig.window.edit({false, 2}));
    EXPECT_EQ(rig.recorder.only("Text"), (Events{"Text1_LostFocus(2)"}));
}

TEST(LostFocus, ACodeMoveInsideALostFocusEventRaisesTheNextOne) {
    Rig rig;
    rig.showNormal();
    rig.text1(0).setFocus();
    rig.recorder.hook = [&](const std::string& e) {
        if (e == "Text1_LostFocus(0)") {
            rig.text2(4).setFocus();
        }
    };
    rig.recorder.events.clear();
    rig.text1(1).setFocus();
    EXPECT_EQ(rig.recorder.only("Text"), (Events{"Text1_LostFocus(0)", "Text1_LostFocus(1)"}));
    EXPECT_EQ(QApplication::focusWidget(), rig.window.edit({false, 4}));
}

TEST(Resize, RunsInsideSetWindowStateOnceShownAndOnceAtTheFirstShow) {
    Rig rig;
    EXPECT_EQ(rig.driver.windowState(), WindowState::Minimised);  // created minimised
    // Before the first show (while the load event runs) a state change raises nothing: the show will.
    rig.driver.setWindowState(WindowState::Normal);
    EXPECT_EQ(rig.driver.windowState(), WindowState::Normal);
    EXPECT_EQ(rig.recorder.events, Events{});
    rig.driver.showInState();
    EXPECT_EQ(rig.recorder.events, Events{"Form_Resize"});
    QTest::qWait(50);
    EXPECT_EQ(rig.recorder.events, Events{"Form_Resize"});

    bool inside = false;
    std::vector<WindowState> seen;
    rig.recorder.hook = [&](const std::string& e) {
        if (e == "Form_Resize") {
            EXPECT_TRUE(inside);
            seen.push_back(rig.driver.windowState());
        }
    };
    inside = true;
    rig.driver.setWindowState(WindowState::Minimised);
    rig.driver.setWindowState(WindowState::Minimised);  // no change, no event
    rig.driver.setWindowState(WindowState::Normal);
    rig.driver.setWindowState(WindowState::Maximised);
    inside = false;
    EXPECT_EQ(seen, (std::vector<WindowState>{WindowState::Minimised, WindowState::Normal, WindowState::Maximised}));
}

TEST(Timer, TicksEverySecondWithoutDriftOnlyOnceShown) {
    Rig rig;
    QElapsedTimer clock;
    std::vector<qint64> ticks;
    rig.recorder.hook = [&](const std::string& e) {
        if (e == "Timer1_Timer") {
            ticks.push_back(clock.elapsed());
        }
    };
    clock.start();
    QTest::qWait(1200);
    EXPECT_TRUE(ticks.empty()) << "the timer ticked before the window was shown";
    clock.restart();
    rig.driver.showInState();  // minimised: the resize event would leave the timer on
    QTest::qWait(3300);
    ASSERT_EQ(ticks.size(), 3u);
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        EXPECT_NEAR(static_cast<double>(ticks[k]), 1000.0 * static_cast<double>(k + 1), 60.0) << "tick " << k;
    }
    // Enabling an enabled timer does not restart it; disabling stops it.
    rig.controls.timer1.setEnabled(true);
    rig.controls.timer1.setEnabled(false);
    QTest::qWait(1100);
    EXPECT_EQ(ticks.size(), 3u);
    EXPECT_FALSE(rig.window.timerRunning());
}

TEST(Timer, NoTickRunsInsideATickWhoseMessageIsOpen) {
    // The ticks that fall due while the message is open are dropped: none runs nested, none is queued to run the
    // moment the message closes, and the timer goes on afterwards.
    Rig rig;
    QtMessageBoxes messages(rig.gate, rig.window.widget());
    QElapsedTimer clock;
    clock.start();
    int depth = 0;
    int deepest = 0;
    std::vector<qint64> ticks;
    qint64 closedAt = -1;
    rig.recorder.hook = [&](const std::string& e) {
        if (e != "Timer1_Timer") {
            return;
        }
        ticks.push_back(clock.elapsed());
        deepest = std::max(deepest, ++depth);
        if (ticks.size() == 1) {
            QTimer::singleShot(2500, [&] {
                if (QWidget* box = QApplication::activeModalWidget()) {
                    closedAt = clock.elapsed();
                    box->close();
                }
            });
            messages.show("[/nowhere]\n\nCan not find this file", platform::MessageStyle::Plain, "Selvatro");
        }
        --depth;
    };
    rig.driver.showInState();
    QTest::qWait(5000);
    EXPECT_EQ(deepest, 1);
    ASSERT_GT(closedAt, 0);
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_GT(ticks[1] - closedAt, 200) << "a tick that fell due behind the message ran as soon as it closed";
    EXPECT_LT(ticks[1] - closedAt, 1100) << "the timer stopped after the message";
}

TEST(Messages, ClosingOneWhileNoWindowIsVisibleDoesNotEndTheProgram) {
    Rig rig;  // the window is never shown
    QtMessageBoxes messages(rig.gate, rig.window.widget());
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(100, [] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                box->close();
            }
        });
        messages.show("one\ntwo", platform::MessageStyle::Exclamation, "Selvatro");
        QTimer::singleShot(300, [] { QCoreApplication::exit(42); });
    });
    EXPECT_EQ(QCoreApplication::exec(), 42);
}

TEST(Messages, ShowPlainTextWithTheChosenIcon) {
    Rig rig;
    QtMessageBoxes messages(rig.gate, rig.window.widget());
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon;
        Qt::TextFormat format;
        QWidget* parent;
    };
    std::vector<Seen> seen;
    auto answer = [&] {
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen.push_back({box->windowTitle(), box->text(), box->icon(), box->textFormat(), box->parentWidget()});
            box->accept();
        });
    };
    answer();
    messages.show("[<b>/x</b>]\n\nCan not find this file", platform::MessageStyle::Plain, "Selvatro");
    answer();
    messages.show("Web Page not Opened", platform::MessageStyle::Exclamation, "URL Failed");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, QString("[<b>/x</b>]\n\nCan not find this file"));
    EXPECT_EQ(seen[0].format, Qt::PlainText);
    EXPECT_EQ(seen[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen[0].parent, rig.window.widget());
    EXPECT_EQ(seen[1].title, QString("URL Failed"));
    EXPECT_EQ(seen[1].icon, QMessageBox::Warning);
}

TEST(Unload, TheCloseButtonAndSignalsRunItOnceEvenWhenRepeatedDuringIt) {
    Rig rig;
    rig.showNormal();
    SessionEnd ending([&] { rig.driver.requestUnload(); });
    int nested = 0;
    rig.recorder.hook = [&](const std::string& e) {
        if (e == "Form_Unload" && nested++ == 0) {
            // A second close and a second signal while the list is being saved.
            rig.window.widget()->close();
            std::raise(SIGTERM);
            QTest::qWait(100);
        }
    };
    rig.window.widget()->close();
    EXPECT_EQ(rig.recorder.only("Form_Unload").size(), 1u);
    EXPECT_TRUE(rig.window.widget()->isVisible()) << "the unload event decides when the window goes";

    rig.recorder.events.clear();
    nested = 0;
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        std::raise(signal);
        QTest::qWait(100);
    }
    EXPECT_EQ(rig.recorder.only("Form_Unload").size(), 3u);
}

TEST(Unload, TheEndOfTheSessionRunsIt) {
    Rig rig;
    SessionEnd ending([&] { rig.driver.requestUnload(); });
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_EQ(rig.recorder.only("Form_Unload").size(), 1u);
}

}  // namespace
}  // namespace selvatro::platform::qt::test
