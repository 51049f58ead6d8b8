#pragma once

// The shape of the window's design: every control with its place and size in twips, its colours, fonts, tab
// order and design-time texts. The values live with the window's state one floor up; a desktop builds its
// widgets from the table it is handed, so that no desktop repeats a position or a text.

#include <array>
#include <cstdint>
#include <string_view>

namespace selvatro::platform {

/// The rows of the list: a path box and a delay box each.
inline constexpr int kRowCount = 5;

/// Twips are 1/1440 of an inch at the window's resolution: 15 to a pixel at 96 dpi.
inline constexpr int kTwipsPerInch = 1440;

/// A place and size in twips, from the top left corner of the containing window or control.
struct Rect {
    int left;
    int top;
    int width;
    int height;
};

/// A colour as 0x00BBGGRR, the old desktop's direct colour value.
struct Colour {
    std::uint32_t bgr;
    constexpr int red() const { return static_cast<int>(bgr & 0xFF); }
    constexpr int green() const { return static_cast<int>((bgr >> 8) & 0xFF); }
    constexpr int blue() const { return static_cast<int>((bgr >> 16) & 0xFF); }
};

/// The controls that take the focus with Tab.
enum class TabControl : std::int16_t { Text1, Text2, Picture2 };

/// One stop of the tab order: a control, and its row for the boxes.
struct TabStop {
    TabControl control;
    int row;
};

/// What a screen reader says of the controls that show no text of their own, in one language. In the boxes' texts
/// "{row}" stands for the row's number, counted from 1 as the user counts them.
struct AccessibleTexts {
    std::string_view pathName;  ///< a path box: which row, and that it holds a program
    std::string_view pathDescription;
    std::string_view delayName;  ///< a delay box: which row, and that it holds seconds
    std::string_view delayDescription;
    std::string_view logoName;
    std::string_view logoDescription;
};

struct WindowDesign {
    Rect form;  ///< the window's place on the screen and its client area's size
    Colour background;
    std::string_view caption;

    std::array<Rect, 2> headings;  ///< Aff_Programme(0) and (1)
    std::array<std::string_view, 2> headingCaptions;
    std::string_view headingFont;
    double headingPointSize;
    int headingWeight;  ///< 400 normal, 700 bold

    std::array<Rect, kRowCount> text1;  ///< the path boxes, top row first
    std::array<Rect, kRowCount> text2;  ///< the delay boxes, top row first
    Colour text1Background;
    Colour text2Background;
    std::string_view text1Tip;
    std::string_view text2Tip;

    Rect picture2;             ///< the logo's frame
    Rect imageTovrel;          ///< the logo, inside its frame, which clips it
    std::string_view logoTip;  ///< the publisher's copyright line, with the address that a click opens

    std::array<TabStop, 2 * kRowCount + 1>
        tabOrder;  ///< every control that takes the focus, in the order Tab visits them

    int timerIntervalMs;
    std::string_view dialogTitle;  ///< CommonDialog1's title at design time

    AccessibleTexts accessibleFrench;
    AccessibleTexts accessibleEnglish;
};

}  // namespace selvatro::platform
