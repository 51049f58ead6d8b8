#pragma once

#include <cstdint>

namespace selvatro::window {
class Form;
}

namespace selvatro::editor {

/// A click on a path box: choose the row's program in the file dialog, refusing this program itself.
void Text1_Click(window::Form& form, std::int16_t Index);

}  // namespace selvatro::editor
