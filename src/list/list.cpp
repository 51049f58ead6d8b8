#include "list/list.h"

#include "desktop/logon_entries.h"
#include "list/list_file.h"
#include "platform/errors.h"
#include "window/form.h"

#include <cstdlib>
#include <exception>

namespace selvatro::list {

const platform::ListPlace& ListFilePlace(window::Form& form) {
    if (form.ListFile.write.empty()) {
        form.ListFile = platform::SettleListPlace(form.Files(), form.App().folder(), form.App().userListFolder(),
                                                  kListFileName, form.App().machineListFolders());
    }
    return form.ListFile;
}

namespace {

using Status = platform::FileText::Status;

// A text file holds no NUL: one that is left after decoding means a damaged file, or one in an encoding not
// recognised, whose rows would load as empty ones.
std::string DamagedReason(const window::Form& form) {
    return form.Francais == 1 ? "Le fichier contient des caractères nuls : ce n'est pas un texte lisible."
                              : "The file holds NUL characters: it is not a readable text.";
}

std::string UnreadableMessage(const window::Form& form, const platform::FileText& file) {
    if (form.Francais == 1) {
        return "La liste n'a pas pu être lue dans\n" + file.source + "\n" + file.reason +
               "\nCe fichier restera tel quel tant que vous ne modifiez aucune ligne.";
    }
    return "The list could not be read from\n" + file.source + "\n" + file.reason +
           "\nThis file will be left as it is unless you change a row.";
}

}  // namespace

void LoadList(window::Form& form) {
    platform::FileText file = form.Files().readText(ListFilePlace(form).read);
    const bool damaged = file.text.find('\0') != std::string::npos;
    if (damaged) {
        file.status = Status::Unreadable;
        file.reason = DamagedReason(form);
    }
    form.ListAtLoad = file;
    const std::string& source = ListFilePlace(form).read;
    if (file.status == Status::Absent) {
        form.Process().record("the run began with no list: " + source);
        return;
    }
    form.Process().record("the run began with the list " + source +
                          (file.status == Status::Unreadable ? ", which could not be read: " + file.reason : ""));
    form.Chargement = 1;
    // Rows that a damaged file would give are not the user's: none are loaded from it.
    FieldReader reader(damaged ? std::string_view() : std::string_view(file.text));
    for (int i = 0; i < window::kRowCount; ++i) {
        const std::optional<std::string> path = reader.Next();
        if (!path) {
            break;
        }
        form.Text1(i).setText(*path);
        const std::optional<std::string> delay = reader.Next();
        if (delay) {
            form.Text2(i).setText(*delay);
            // A record is one line. A text holding a double quote and a comma (a file name may) is saved with no
            // escape and reads back as more than two fields; dropping the rest of its line keeps the damage to
            // its own row instead of moving every later field up into the wrong row.
            reader.SkipRestOfLine();
        }
        if (form.Text1(i).text().empty()) {
            form.Text2(i).setText("");
        }
        if (!delay) {
            break;
        }
    }
    form.Chargement = 0;
    if (file.status == Status::Unreadable) {
        form.Messages().show(UnreadableMessage(form, file), platform::MessageStyle::Exclamation, "Selvatro");
    }
}

void NoteRowChange(window::Form& form) {
    if (form.Chargement == 0) {
        form.RowsChanged = 1;
    }
}

namespace {

std::string SaveFailedMessage(const window::Form& form, const std::string& fileName, const std::string& reason,
                              bool previousKept) {
    if (form.Francais == 1) {
        return "La liste n'a pas pu être enregistrée dans\n" + fileName + "\n" + reason +
               (previousKept ? "\nLe fichier précédent est resté intact." : "");
    }
    return "The list could not be saved to\n" + fileName + "\n" + reason +
           (previousKept ? "\nThe previous file was left intact." : "");
}

std::string EmptyList() {
    std::string empty;
    for (int i = 0; i < window::kRowCount; ++i) {
        empty += Record("", "");
    }
    return empty;
}

// Rows that the user never changed are the file's own as it was at start. Where that file could not be read, they
// are not the list (an empty one, or part of it); where it has changed on disk since (a hand edit while the count
// ran), they are an older list. Either way, writing them would replace the user's list with one the user never
// entered, so the file is left as it is.
bool LeaveListAsItIs(const window::Form& form, const std::string& contents) {
    if (form.ListAtLoad.status == Status::Unreadable) {
        // Rows entered and emptied again are no list either.
        return form.RowsChanged == 0 || contents == EmptyList();
    }
    if (form.RowsChanged != 0) {
        return false;
    }
    const platform::FileText now = form.Files().readText(form.ListFile.read);
    return now.status != form.ListAtLoad.status || now.text != form.ListAtLoad.text;
}

}  // namespace

void Quitter(window::Form& form, int exitStatus) {
    std::string contents;
    for (int i = 0; i < window::kRowCount; ++i) {
        contents += Record(form.Text1(i).text(), form.Text2(i).text());
    }
    const platform::ListPlace& place = ListFilePlace(form);
    platform::Process& process = form.Process();
    try {
        if (LeaveListAsItIs(form, contents)) {
            process.record("the list was left as it is: " + place.read +
                           (form.ListAtLoad.status == Status::Unreadable ? " (it could not be read at start)"
                                                                         : " (it changed since it was read)"));
        } else {
            if (!place.userFolder.empty()) {
                form.Files().makeFolder(place.userFolder);
            }
            // A list first saved to the user's folder keeps the encoding of the one it was loaded from.
            form.Files().replaceText(place.write, contents, place.read);
            process.record("the list was saved: " + place.write);
            if (form.RowsChanged != 0) {
                desktop::GiveBackUnnamed(form);
            }
        }
    } catch (const platform::FileError& error) {
        process.record("the list could not be saved: " + place.write + ": " + error.what());
        // The user is told about the file that was really to be written (the user's own copy where the program's
        // folder is not the user's), and that an old list stands only where there is one.
        const std::string& target = place.write;
        const bool previousKept = form.Files().readText(target).status != Status::Absent;
        // An empty list where there was none loses nothing when it cannot be written: nothing to tell.
        if (previousKept || contents != EmptyList()) {
            // The run is over: no tick may count or start a program behind the message while the user reads it.
            form.Timer1().setEnabled(false);
            form.Messages().show(SaveFailedMessage(form, target, error.what(), previousKept),
                                 platform::MessageStyle::Exclamation, "Selvatro");
            exitStatus = EXIT_FAILURE;
        }
    }
    process.record("the run ended with status " + std::to_string(exitStatus));
    process.end(exitStatus);
    std::terminate();  // end() never returns; should a platform's ever do so, nothing after Quitter may run
}

}  // namespace selvatro::list
