#pragma once

// The row editing rules: they keep the rows filled from the top, rows without a program free of delays, and the
// delays increasing, acting on every intermediate text of a box.

#include <cstdint>

namespace selvatro::window {
class Form;
}

namespace selvatro::editor {

/// A path box changed: move the text up into an empty row above, then propose a delay (rows 1 to 4).
void Text1_Change(window::Form& form, std::int16_t Index);

/// A delay box changed: keep it above the previous row's (rows 1 to 4) or row 0's below row 1's; silent while
/// the loader runs.
void Text2_Change(window::Form& form, std::int16_t Index);

/// The focus left a path box: clear the delay of every row without a path.
void Text1_LostFocus(window::Form& form, std::int16_t Index);

/// The focus left a delay box: clear the delays of rows without a path and lower delays that are not below the
/// next row's.
void Text2_LostFocus(window::Form& form, std::int16_t Index);

}  // namespace selvatro::editor
