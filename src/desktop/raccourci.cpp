#include "desktop/raccourci.h"

#include "window/form.h"

namespace selvatro::desktop {

void Raccourci(window::Form& form) {
    const std::string folder = form.App().folder();
    // The running executable's own name ends the target, not the product name: a copy renamed by a browser's second
    // download ("selvatro (1).exe") would otherwise be started by nothing at the next logon. Nothing is trimmed: a
    // folder that already ends in a separator gives two in a row.
    const std::string target = folder + form.Files().separator() + form.App().executableName();
    const char* startupFolder = form.Francais == 1 ? "\\Démarrage" : "\\Startup";
    (void)form.Shortcuts().createShellLink(startupFolder, "Selvatro", target, "");
}

}  // namespace selvatro::desktop
