#pragma once

namespace selvatro {
class Form1;
}

namespace selvatro::desktop {

/// Makes (or remakes) the shortcut that starts this program at every logon; its result is not looked at.
void Raccourci(Form1& form);

}  // namespace selvatro::desktop
