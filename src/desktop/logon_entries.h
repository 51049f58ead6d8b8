#pragma once

// Programs that the desktop already starts at logon by itself: a row may take one over, so that it starts once,
// at its delay, and gives it back when the row lets it go.

#include <string>
#include <vector>

namespace selvatro::platform {
class LogonEntries;
}

namespace selvatro::window {
class Form;
}

namespace selvatro::desktop {

/// After the picker put `file` in a row: when it is a logon entry that the desktop still starts by itself, asks
/// the user once whether Selvatro should start it instead, and switches the desktop's own start off on Yes.
void OfferTakeOver(window::Form& form, const std::string& file);

/// After the list was saved with rows the user changed: gives back every entry taken over that no row names any
/// more.
void GiveBackUnnamed(window::Form& form);

/// Gives back every entry taken over, for the program's removal. Returns one line for each entry that could not
/// be given back; nothing when all went well.
std::vector<std::string> GiveBackAll(platform::LogonEntries& entries);

}  // namespace selvatro::desktop
