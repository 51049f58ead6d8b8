#pragma once

// The window's design: every control with its place and size in twips, its colours, its tab order and its
// French design-time texts, with what a screen reader says of the controls in both languages. The desktops build
// their widgets from this table alone.

#include "platform/window_design.h"
#include "window/logo_tip.h"

namespace selvatro::window {

namespace detail {

inline constexpr int kRowTop = 330;
inline constexpr int kRowPitch = 390;
inline constexpr int kBoxHeight = 345;

constexpr platform::Rect Text1Rect(int row) {
    return {60, kRowTop + kRowPitch * row, 4755, kBoxHeight};
}
constexpr platform::Rect Text2Rect(int row) {
    return {4860, kRowTop + kRowPitch * row, 405, kBoxHeight};
}

}  // namespace detail

inline constexpr platform::WindowDesign kDesign{
    .form = {2070, 1875, 5340, 3000},
    .background = {0x00C0C0C0},
    .caption = "Selvatro",

    .headings = {{{120, 0, 3435, 315}, {3540, 0, 1755, 315}}},
    .headingCaptions = {"Programmes qui seront exécutés", "Délais(sec.)"},
    .headingFont = "Comic Sans MS",
    .headingPointSize = 9.75,
    .headingWeight = 700,

    .text1 = {detail::Text1Rect(0), detail::Text1Rect(1), detail::Text1Rect(2), detail::Text1Rect(3),
              detail::Text1Rect(4)},
    .text2 = {detail::Text2Rect(0), detail::Text2Rect(1), detail::Text2Rect(2), detail::Text2Rect(3),
              detail::Text2Rect(4)},
    .text1Background = {0x00FFFFC0},  // light cyan
    .text2Background = {0x00C0FFFF},  // light yellow
    .text1Tip = "Entrez ici le chemin d'accès au programme à démarrer",
    .text2Tip = "Entrez ici le délais (en secondes) après l'ouverture de Windows",

    // The logo is wider than its frame and starts 60 twips above it, so that the frame clips it.
    .picture2 = {60, 2340, 5235, 615},
    .imageTovrel = {0, -60, 5775, 615},
    .logoTip = kLogoTip,

    // Each path box, then its delay box, row after row, then the logo's frame.
    .tabOrder = {{{platform::TabControl::Text1, 0},
                  {platform::TabControl::Text2, 0},
                  {platform::TabControl::Text1, 1},
                  {platform::TabControl::Text2, 1},
                  {platform::TabControl::Text1, 2},
                  {platform::TabControl::Text2, 2},
                  {platform::TabControl::Text1, 3},
                  {platform::TabControl::Text2, 3},
                  {platform::TabControl::Text1, 4},
                  {platform::TabControl::Text2, 4},
                  {platform::TabControl::Picture2, 0}}},

    .timerIntervalMs = 1000,
    .dialogTitle = "Choisissez l'application à démarrer",

    // Built on the headings and the tips, so that a screen reader tells the ten boxes apart.
    .accessibleFrench =
        {
            .pathName = "Programme {row}",
            .pathDescription = "Entrez ici le chemin d'accès au programme à démarrer",
            .delayName = "Délai du programme {row} (secondes)",
            .delayDescription = "Entrez ici le délai (en secondes) après l'ouverture de la session",
            .logoName = "Logo Tovrel",
            .logoDescription = "Ouvre la page web de l'éditeur",
        },
    .accessibleEnglish =
        {
            .pathName = "Program {row}",
            .pathDescription = "Enter here the full path of the program to start",
            .delayName = "Delay of program {row} (seconds)",
            .delayDescription = "Enter here the time delay (in seconds) after the session has started",
            .logoName = "Tovrel logo",
            .logoDescription = "Opens the publisher's web page",
        },
};

}  // namespace selvatro::window
