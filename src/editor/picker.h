#pragma once

#include <cstdint>

namespace selvatro {
class Form1;
}

namespace selvatro::editor {

/// A click on a path box: choose the row's program in the file dialog, refusing this program itself.
void Text1_Click(Form1& form, std::int16_t Index);

}  // namespace selvatro::editor
