#pragma once

// What the mouse does over the window: the pointer, the English tips of the boxes, the version tip.

#include <cstdint>

namespace selvatro::window {

class Form;

void Form_MouseMove(Form& form);
void Image_Tovrel_MouseMove(Form& form);
void Text1_MouseMove(Form& form, std::int16_t Index);
void Text2_MouseMove(Form& form, std::int16_t Index);
void Aff_Programme_MouseMove(Form& form, std::int16_t Index);

}  // namespace selvatro::window
