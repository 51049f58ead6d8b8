#pragma once

// The publisher's web page, opened in the desktop's default browser by a click on the logo.

namespace selvatro::window {
class Form;
}

namespace selvatro::desktop {

/// A click on the logo: open the publisher's page.
void Image_Tovrel_Click(window::Form& form);

/// Finds the default browser and starts it with the publisher's address, telling the user when it cannot.
void Ouvre_URL(window::Form& form);

/// Rebuilds Adresse_Web from the scrambled address kept in the program.
void Tovrel_URL(window::Form& form);

}  // namespace selvatro::desktop
