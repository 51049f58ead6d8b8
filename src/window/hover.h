#pragma once

// What the mouse does over the window: the pointer, the English tips of the boxes, the version tip.

#include <cstdint>

namespace selvatro {
class Form1;
}

namespace selvatro::window {

void Form_MouseMove(Form1& form);
void Image_Tovrel_MouseMove(Form1& form);
void Text1_MouseMove(Form1& form, std::int16_t Index);
void Text2_MouseMove(Form1& form, std::int16_t Index);
void Aff_Programme_MouseMove(Form1& form, std::int16_t Index);

}  // namespace selvatro::window
