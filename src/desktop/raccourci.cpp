#include "desktop/raccourci.h"

#include "window/form.h"

namespace selvatro::desktop {

void Raccourci(window::Form& form) {
    const std::string folder = form.App().folder();
    const std::string product = form.App().productName();
    // The product name, not the executable's own file name, ends the target, and nothing is trimmed: a folder
    // that already ends in a separator gives two in a row.
    const std::string target = folder + form.Files().separator() + product;
    const char* startupFolder = form.Francais == 1 ? "\\Démarrage" : "\\Startup";
    (void)form.Shortcuts().createShellLink(startupFolder, "Selvatro", target, "");
}

}  // namespace selvatro::desktop
