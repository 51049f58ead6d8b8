#pragma once

// A Form1 stand-in for the Qt layer's tests: records each event by name and runs a test's hook inside it.

#include <QApplication>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "platform/event_gate.h"
#include "platform/platform.h"
#include "platform/qt/qt_window.h"
#include "window/layout.h"

namespace selvatro::platform::qt::test {

struct Recorder final : platform::FormEvents {
    std::vector<std::string> events;
    /// Runs inside every event, after it is recorded.
    std::function<void(const std::string&)> hook;

    void note(const std::string& event) {
        events.push_back(event);
        if (hook) {
            hook(event);
        }
    }
    static std::string at(const char* name, std::int16_t index) {
        return std::string(name) + "(" + std::to_string(index) + ")";
    }

    void Form_Load() override { note("Form_Load"); }
    void Form_Resize() override { note("Form_Resize"); }
    void Form_Unload(std::int16_t& /*Cancel*/) override { note("Form_Unload"); }
    void Form_MouseMove() override { note("Form_MouseMove"); }
    void Text1_Change(std::int16_t i) override { note(at("Text1_Change", i)); }
    void Text2_Change(std::int16_t i) override { note(at("Text2_Change", i)); }
    void Text1_LostFocus(std::int16_t i) override { note(at("Text1_LostFocus", i)); }
    void Text2_LostFocus(std::int16_t i) override { note(at("Text2_LostFocus", i)); }
    void Text1_Click(std::int16_t i) override { note(at("Text1_Click", i)); }
    void Text1_MouseMove(std::int16_t i) override { note(at("Text1_MouseMove", i)); }
    void Text2_MouseMove(std::int16_t i) override { note(at("Text2_MouseMove", i)); }
    void Aff_Programme_MouseMove(std::int16_t i) override { note(at("Aff_Programme_MouseMove", i)); }
    void Image_Tovrel_Click() override { note("Image_Tovrel_Click"); }
    void Image_Tovrel_MouseMove() override { note("Image_Tovrel_MouseMove"); }
    void Timer1_Timer() override { note("Timer1_Timer"); }

    /// The events recorded so far whose name starts with `prefix`, in order.
    std::vector<std::string> only(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& e : events) {
            if (e.rfind(prefix, 0) == 0) {
                found.push_back(e);
            }
        }
        return found;
    }
};

/// A window connected to a recorder; errors escaping an event are recorded instead of ending the test run.
struct Rig {
    EventGate gate;
    FormWindow window{gate, selvatro::window::kDesign};
    Recorder recorder;
    std::vector<std::string> fatal;

    Rig() {
        gate.connect(recorder);
        gate.setFatalHandler([this](const std::string& what) { fatal.push_back(what); });
    }

    /// Shows the window normal and active, as a user restoring it would find it; the show's events are cleared.
    void showNormal() {
        window.setWindowState(platform::WindowState::Normal);
        window.showInState();
        window.widget()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.widget()));
        recorder.events.clear();
    }
};

}  // namespace selvatro::platform::qt::test
