#pragma once

// Form1: the window's state with its event procedures, the one place where the platform's events are routed to
// the subsystem that owns each behaviour.

#include <cstdint>

#include "platform/platform.h"
#include "window/form.h"

namespace selvatro {

class Form1 final : public window::Form, public platform::FormEvents {
public:
    using window::Form::Form;

    // Events, as the platform raises them.
    void Form_Load() override;
    void Form_Resize() override;
    void Form_Unload(std::int16_t& Cancel) override;
    void Form_MouseMove() override;
    void Text1_Change(std::int16_t Index) override;
    void Text2_Change(std::int16_t Index) override;
    void Text1_LostFocus(std::int16_t Index) override;
    void Text2_LostFocus(std::int16_t Index) override;
    void Text1_Click(std::int16_t Index) override;
    void Text1_MouseMove(std::int16_t Index) override;
    void Text2_MouseMove(std::int16_t Index) override;
    void Aff_Programme_MouseMove(std::int16_t Index) override;
    void Image_Tovrel_Click() override;
    void Image_Tovrel_MouseMove() override;
    void Timer1_Timer() override;
};

}  // namespace selvatro
