#include "desktop/logon_entries.h"

#include <set>
#include <string>

#include "platform/errors.h"
#include "platform/platform.h"
#include "window/form.h"

namespace selvatro::desktop {

namespace {

using platform::LogonEntry;

std::string TakeOverQuestion(const window::Form& form, const std::string& name) {
    if (form.Francais == 1) {
        return name + " démarre aussi tout seul à l'ouverture de session. Laisser Selvatro le démarrer à la place ?";
    }
    return name + " also starts at logon on its own. Let Selvatro start it instead?";
}

std::string TakeOverFailed(const window::Form& form, const std::string& name, const std::string& reason) {
    if (form.Francais == 1) {
        return name + " n'a pas pu être désactivé à l'ouverture de session :\n" + reason +
               "\nIl démarre toujours tout seul.";
    }
    return name + " could not be switched off at logon:\n" + reason + "\nIt still starts on its own.";
}

std::string GiveBackFailed(const window::Form& form, const std::string& name, const std::string& reason) {
    if (form.Francais == 1) {
        return name + " n'a pas pu être réactivé à l'ouverture de session :\n" + reason;
    }
    return name + " could not be switched on again at logon:\n" + reason;
}

}  // namespace

void OfferTakeOver(window::Form& form, const std::string& file) {
    platform::LogonEntries& entries = form.LogonEntries();
    const std::optional<LogonEntry> entry = entries.entryOf(file);
    if (!entry || entry->state != LogonEntry::State::On) {
        return;  // none, or the desktop already leaves it alone
    }
    if (!form.Messages().ask(TakeOverQuestion(form, entry->name), "Selvatro")) {
        return;
    }
    try {
        entries.takeOver(*entry);
        form.Process().record("the logon entry " + entry->name + " was taken over: " + file);
    } catch (const platform::FileError& error) {
        // The row keeps the file the user chose: it may start twice, which the message says.
        form.Messages().show(TakeOverFailed(form, entry->name, error.what()), platform::MessageStyle::Exclamation,
                             "Selvatro");
    }
}

void GiveBackUnnamed(window::Form& form) {
    platform::LogonEntries& entries = form.LogonEntries();
    const std::vector<LogonEntry> taken = entries.takenOver();
    if (taken.empty()) {
        return;
    }
    std::set<std::string> named;
    for (int row = 0; row < window::kRowCount; ++row) {
        const std::string path = form.Text1(row).text();
        if (path.empty()) {
            continue;
        }
        if (const std::optional<LogonEntry> entry = entries.entryOf(path)) {
            named.insert(entry->id);
        }
    }
    for (const LogonEntry& entry : taken) {
        if (named.count(entry.id) != 0) {
            continue;
        }
        try {
            entries.giveBack(entry);
            form.Process().record("the logon entry " + entry.name + " was given back");
        } catch (const platform::FileError& error) {
            form.Process().record("the logon entry " + entry.name + " could not be given back: " + error.what());
            form.Messages().show(GiveBackFailed(form, entry.name, error.what()), platform::MessageStyle::Exclamation,
                                 "Selvatro");
        }
    }
}

std::vector<std::string> GiveBackAll(platform::LogonEntries& entries) {
    std::vector<std::string> failures;
    for (const LogonEntry& entry : entries.takenOver()) {
        try {
            entries.giveBack(entry);
        } catch (const platform::FileError& error) {
            failures.push_back(entry.name + ": " + error.what());
        }
    }
    return failures;
}

}  // namespace selvatro::desktop
