#pragma once

// A Form1 stand-in for the Qt layer's tests: records each event by name and runs a test's hook inside it.

#include <QApplication>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "fake/event_recorder.h"
#include "platform/event_gate.h"
#include "platform/platform.h"
#include "platform/qt/qt_window.h"
#include "window/layout.h"

namespace selvatro::platform::qt::test {

using Recorder = fake::EventRecorder;

/// A window connected to a recorder; errors escaping an event are recorded instead of ending the test run.
struct Rig {
    EventGate gate;
    WindowDriver driver{gate, selvatro::window::kDesign};
    FormWindow window{driver, selvatro::window::kDesign};
    Controls controls = driver.controls();
    Recorder recorder;
    std::vector<std::string> fatal;

    /// The boxes, as the core reaches them.
    TextBox& text1(int row) { return *controls.text1.at(static_cast<std::size_t>(row)); }
    TextBox& text2(int row) { return *controls.text2.at(static_cast<std::size_t>(row)); }

    Rig() {
        gate.connect(recorder);
        gate.setFatalHandler([this](const std::string& what) { fatal.push_back(what); });
    }

    /// Shows the window normal and active, as a user restoring it would find it; the show's events are cleared.
    void showNormal() {
        driver.setWindowState(platform::WindowState::Normal);
        driver.showInState();
        window.widget()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.widget()));
        recorder.events.clear();
    }
};

}  // namespace selvatro::platform::qt::test
