// The event rules on Qt: the suite that every desktop passes, and what only Qt's side adds (a focus move inside a
// lost-focus event, the timer's precision, the message boxes, the unload from signals and the session's end).

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <csignal>

#include "conformance/event_rules.h"
#include "platform/errors.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_services.h"
#include "recorder.h"

namespace selvatro::platform::qt::test {
namespace {

using platform::WindowState;
using Events = std::vector<std::string>;

// The suite's harness: the window under the offscreen platform, a second window to take the focus away.
struct QtHarness : Rig {
    QtHarness() { clock.start(); }
    void showMinimised() {
        driver.showInState();
        recorder.events.clear();
    }
    void type(BoxId box, char c) { QTest::keyClick(window.edit(box), c); }
    void click(BoxId box) { QTest::mouseClick(window.edit(box), Qt::LeftButton); }
    void leaveForAnotherWindow() {
        other.show();
        other.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
    }
    void returnToTheWindow() {
        window.widget()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.widget()));
    }
    void wait(int ms) { QTest::qWait(ms); }
    std::int64_t nowMs() const { return clock.elapsed(); }
    void showMessageFor(int ms) {
        QTimer::singleShot(ms, [] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                box->close();
            }
        });
        messages.show("[/nowhere]\n\nCan not find this file", platform::MessageStyle::Plain, "Selvatro");
    }

    QElapsedTimer clock;
    QWidget other;
    QtMessageBoxes messages{gate, window.widget()};
};

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

namespace selvatro::conformance {
using QtHarnesses = ::testing::Types<platform::qt::test::QtHarness>;
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, EventRules, QtHarnesses);
}  // namespace selvatro::conformance
