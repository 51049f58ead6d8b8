#pragma once

namespace selvatro::window {
class Form;
}

namespace selvatro::desktop {

/// Makes (or remakes) the shortcut that starts this program at every logon; its result is not looked at.
void Raccourci(window::Form& form);

}  // namespace selvatro::desktop
