#include "list/list.h"

#include "list/list_file.h"
#include "platform/errors.h"
#include "window/form.h"

#include <cstdlib>
#include <exception>

namespace selvatro::list {

std::string ListFilePath(const window::Form& form) {
    // The separator is always added: a root folder gives two in a row, which every file system accepts.
    return form.App().folder() + form.Files().separator() + std::string(kListFileName);
}

void LoadList(window::Form& form) {
    if (!form.Files().ordinaryFileExists(ListFilePath(form))) {
        return;
    }
    form.Chargement = 1;
    const std::string text = form.Files().readText(ListFilePath(form)).value_or(std::string());
    FieldReader reader(text);
    for (int i = 0; i < 5; ++i) {
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
    for (int i = 0; i < 5; ++i) {
        empty += Record("", "");
    }
    return empty;
}

// A list file that exists but could not be read loaded as five empty rows. Writing those back would put an empty
// list in the place of one that may well be whole (a file of another owner, a damaged disk), so while the ten
// boxes are still empty the file is left as it is. Once the user has entered anything, the new list is saved.
bool KeepUnreadableList(const window::Form& form, const std::string& fileName, const std::string& contents) {
    return contents == EmptyList() && form.Files().ordinaryFileExists(fileName) && !form.Files().readText(fileName);
}

}  // namespace

void Quitter(window::Form& form, int exitStatus) {
    std::string contents;
    for (int i = 0; i < 5; ++i) {
        contents += Record(form.Text1(i).text(), form.Text2(i).text());
    }
    const std::string fileName = ListFilePath(form);
    try {
        if (!KeepUnreadableList(form, fileName, contents)) {
            form.Files().replaceText(fileName, contents);
        }
    } catch (const platform::FileError& error) {
        // The user is told about the file that was really to be written (the per-user copy where the program's
        // folder is not the user's), and that an old list stands only where there is one.
        const std::string target = form.Files().writeTarget(fileName);
        const bool previousKept = form.Files().ordinaryFileExists(target);
        // An empty list where there was none loses nothing when it cannot be written: nothing to tell.
        if (previousKept || contents != EmptyList()) {
            // The run is over: no tick may count or start a program behind the message while the user reads it.
            form.Timer1().setEnabled(false);
            form.Messages().show(SaveFailedMessage(form, target, error.what(), previousKept),
                                 platform::MessageStyle::Exclamation, "Selvatro");
            exitStatus = EXIT_FAILURE;
        }
    }
    form.Process().end(exitStatus);
    std::terminate();  // end() never returns; should a platform's ever do so, nothing after Quitter may run
}

}  // namespace selvatro::list
