#include "window/hover.h"

#include <cctype>
#include <string>

#include "window/form.h"

namespace selvatro::window {

using platform::MousePointer;

void Form_MouseMove(Form& form) {
    form.Window().setMousePointer(MousePointer::Default);
}

void Image_Tovrel_MouseMove(Form& form) {
    form.Window().setMousePointer(MousePointer::Custom);
}

void Text1_MouseMove(Form& form, std::int16_t Index) {
    form.Window().setMousePointer(MousePointer::Default);
    // French tips stand from design time; English ones are put only where the mouse has been.
    if (form.Francais == 0) {
        form.Text1(Index).setTip("Enter here the full path of the program to start after Windows");
    }
}

void Text2_MouseMove(Form& form, std::int16_t Index) {
    form.Window().setMousePointer(MousePointer::Default);
    if (form.Francais == 0) {
        form.Text2(Index).setTip("Enter here the time delay (in seconds), after Windows as started");
    }
}

void Aff_Programme_MouseMove(Form& form, std::int16_t /*Index*/) {
    form.Window().setMousePointer(MousePointer::Default);
    std::string description = form.App().fileDescription();
    for (char& c : description) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const platform::Version v = form.App().version();
    // Always on the first heading, whichever one the mouse is over, and the same in both languages.
    form.Aff_Programme(0).setTip(description + " (version: " + std::to_string(v.major) + "." + std::to_string(v.minor) +
                                 "." + std::to_string(v.revision) + ")");
}

}  // namespace selvatro::window
