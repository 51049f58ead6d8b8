#pragma once

// The window's pictures: the icon (the program's own), the custom pointer and the publisher's banner, both drawn
// at start; and the headings' font.

#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QPixmap>

#include "platform/window_design.h"

namespace selvatro::platform::qt {

/// The window's icon: the program's own, as its menu entry shows it.
QIcon AppIcon();

/// The window's custom pointer: a globe (blue sea, green land) with GO across it in red capitals.
QCursor GoCursor();

/// The publisher's 300 x 40 banner with its name.
QPixmap Banner();

/// The headings' face (Comic Sans MS) at its size and weight when installed; else the casual face that fontconfig
/// offers in its place.
QFont HeadingFont(const platform::WindowDesign& design);

}  // namespace selvatro::platform::qt
