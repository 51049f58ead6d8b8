#include "editor/row_rules.h"

// The row rules are not built yet: every change and lost-focus event leaves the boxes as they are.

namespace selvatro::editor {

void Text1_Change(Form1& /*form*/, std::int16_t /*Index*/) {}
void Text2_Change(Form1& /*form*/, std::int16_t /*Index*/) {}
void Text1_LostFocus(Form1& /*form*/, std::int16_t /*Index*/) {}
void Text2_LostFocus(Form1& /*form*/, std::int16_t /*Index*/) {}

}  // namespace selvatro::editor
