#pragma once

// A form that records the events a desktop delivers to it, by name ("Text2_Change(3)"), for the tests of a
// desktop's event rules and of the event gate; a test may act inside each event through the hook.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace selvatro::fake {

struct EventRecorder final : platform::FormEvents {
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
};

}  // namespace selvatro::fake
