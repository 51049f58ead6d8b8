#include "editor/picker.h"

// The program picker is not built yet: a click on a path box does nothing.

namespace selvatro::editor {

void Text1_Click(Form1& /*form*/, std::int16_t /*Index*/) {}

}  // namespace selvatro::editor
