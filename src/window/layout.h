#pragma once

// The window's design: every control with its place and size in twips, its colours, its tab order and its
// French design-time texts. A real desktop builds its widgets from this table (15 twips to a pixel at 96 dpi).

#include <array>
#include <cstdint>
#include <string_view>

namespace selvatro::window {

inline constexpr int kTwipsPerPixel = 15;  // at 96 dpi

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

inline constexpr int kClientWidth = 5340;
inline constexpr int kClientHeight = 3000;
inline constexpr Colour kBackground{0x00C0C0C0};
inline constexpr std::string_view kCaption = "Selvatro";

inline constexpr std::array<Rect, 2> kAffProgramme{{{120, 0, 3435, 315}, {3540, 0, 1755, 315}}};
inline constexpr std::array<std::string_view, 2> kAffProgrammeCaption{"Programmes qui seront exécutés", "Délais(sec.)"};
/// The headings: Comic Sans MS, bold, 9.75 points, in the system highlight colour.
inline constexpr std::string_view kHeadingFont = "Comic Sans MS";
inline constexpr double kHeadingPointSize = 9.75;
inline constexpr int kHeadingWeight = 700;

inline constexpr int kRowTop = 330;
inline constexpr int kRowPitch = 390;
inline constexpr int kBoxHeight = 345;
constexpr Rect Text1Rect(int row) {
    return {60, kRowTop + kRowPitch * row, 4755, kBoxHeight};
}
constexpr Rect Text2Rect(int row) {
    return {4860, kRowTop + kRowPitch * row, 405, kBoxHeight};
}
inline constexpr Colour kText1Background{0x00FFFFC0};  // light cyan
inline constexpr Colour kText2Background{0x00C0FFFF};  // light yellow
inline constexpr std::string_view kText1Tip = "Entrez ici le chemin d'accès au programme à démarrer";
inline constexpr std::string_view kText2Tip = "Entrez ici le délais (en secondes) après l'ouverture de Windows";

/// The logo's frame, and the logo inside it: wider and 60 twips higher, so that the frame clips it.
inline constexpr Rect kPicture2{60, 2340, 5235, 615};
inline constexpr Rect kImageTovrel{0, -60, 5775, 615};
inline constexpr int kBannerWidthPixels = 300;
inline constexpr int kBannerHeightPixels = 40;

inline constexpr int kTimerIntervalMs = 1000;
inline constexpr std::string_view kDialogTitle = "Choisissez l'application à démarrer";

/// Tab indexes: path box i takes 0, 4, 6, 8, 10; delay box i the next one; the logo's frame 12.
constexpr int Text1TabIndex(int row) {
    return row == 0 ? 0 : 2 + 2 * row;
}
constexpr int Text2TabIndex(int row) {
    return Text1TabIndex(row) + 1;
}
inline constexpr int kPicture2TabIndex = 12;

}  // namespace selvatro::window
