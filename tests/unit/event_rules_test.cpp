// The event rules on the test platform: the same suite as the real desktops', on the toolkit in memory.

#include <string>
#include <vector>

#include "conformance/event_rules.h"
#include "fake/fake_desktop.h"

namespace selvatro::conformance {
namespace {

struct FakeHarness {
    FakeHarness() : driver(desktop.driver()), controls(driver.controls()) {
        desktop.connect(recorder);
        desktop.gate().setFatalHandler([this](const std::string& what) { fatal.push_back(what); });
    }
    void showNormal() {
        driver.setWindowState(WindowState::Normal);
        driver.showInState();
        recorder.events.clear();
    }
    void showMinimised() {
        driver.showInState();
        recorder.events.clear();
    }
    fake::FakeTextBox& box(BoxId id) {
        return *(id.isPath ? desktop.text1 : desktop.text2).at(static_cast<std::size_t>(id.row));
    }
    void type(BoxId id, char c) { desktop.edit(box(id), box(id).text() + c); }
    void click(BoxId id) {
        if (id.isPath) {
            desktop.clickPathBox(id.row);
        } else {
            desktop.focus(box(id));
        }
    }
    void leaveForAnotherWindow() { desktop.deactivate(); }
    void returnToTheWindow() { desktop.activate(); }
    void wait(int ms) { desktop.advance(ms); }
    std::int64_t nowMs() const { return desktop.now(); }
    void showMessageFor(int ms) {
        desktop.messages.whileOpen = [this, ms] { desktop.advance(ms); };
        desktop.messages.show("[/nowhere]\n\nCan not find this file", platform::MessageStyle::Plain, "Selvatro");
        desktop.messages.whileOpen = nullptr;
    }

    fake::FakeDesktop desktop;
    fake::EventRecorder recorder;
    Events fatal;
    platform::WindowDriver& driver;
    platform::Controls controls;
};

using Harnesses = ::testing::Types<FakeHarness>;
INSTANTIATE_TYPED_TEST_SUITE_P(TestPlatform, EventRules, Harnesses);

}  // namespace
}  // namespace selvatro::conformance
