#pragma once

// The window's pictures in GDI: the program's icon (the executable's own resource), the custom pointer and the
// publisher's banner, both drawn at run time, and the headings' font. Every handle has one owner.

#include <windows.h>

#include <memory>
#include <type_traits>

#include "platform/window_design.h"

namespace selvatro::platform::win32 {

struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
/// A font, brush or bitmap, deleted with its owner.
template <typename Handle>
using GdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, GdiDeleter>;

struct IconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
/// An icon or a cursor made at run time, destroyed with its owner.
using OwnedIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

/// The resource number of the program's icon in the executable.
inline constexpr WORD kIconResource = 1;

/// The window's icon at `size` pixels square: the executable's own, else the system's application icon.
HICON AppIcon(int size);

/// The window's custom pointer at `size` pixels square: a globe (blue sea, green land) with GO across it in red
/// capitals; its hot spot is the middle.
OwnedIcon GoCursor(int size);

/// The publisher's 300 x 40 banner with its name.
GdiObject<HBITMAP> Banner();

/// The headings' face at its size and weight for `dpi`; Windows substitutes a face of its own where Comic Sans
/// MS is missing.
GdiObject<HFONT> HeadingFont(const platform::WindowDesign& design, UINT dpi);

/// The boxes' font: the system's message font at `dpi`.
GdiObject<HFONT> BoxFont(UINT dpi);

/// The pictures that a window keeps, each made when first asked for: a logon spent minimised needs none of them.
class Artwork {
public:
    HCURSOR goCursor();
    HBITMAP banner();

private:
    OwnedIcon cursor_;
    GdiObject<HBITMAP> banner_;
};

}  // namespace selvatro::platform::win32
