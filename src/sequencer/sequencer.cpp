#include "sequencer/sequencer.h"

#include <cstdlib>
#include <string>

#include "list/list.h"
#include "platform/errors.h"
#include "platform/text_rules.h"
#include "window/form.h"

namespace selvatro::sequencer {

using platform::WindowState;

void Form_Resize(window::Form& form) {
    if (form.Window().windowState() != WindowState::Normal) {
        form.Timer1().setEnabled(true);
        return;
    }
    form.Timer1().setEnabled(false);
    form.Window().setCaption(form.Francais == 1 ? "Selvatro désactivé" : "Selvatro desabled");
}

namespace {

std::string MissingProgramMessage(const window::Form& form, const std::string& path) {
    // Line feeds alone, without carriage returns, as the message box expects them.
    if (form.Francais == 1) {
        return "[" + path + "]\n\nCe fichier est introuvable\nPeut-être avez-vous déplacé ou effacé ce fichier...";
    }
    return "[" + path + "]\n\nCan not find this file\nPerhaps you have moved or erased this file...";
}

// Reports the due row's missing program, restores the window with its path selected, and asks the next tick to
// end the run.
void StopOnMissingProgram(window::Form& form, int row) {
    form.Messages().show(MissingProgramMessage(form, form.Text1(row).text()), platform::MessageStyle::Plain,
                         "Selvatro");
    form.Window().setWindowState(WindowState::Normal);  // runs the gate: timer off, disabled caption
    form.Text1(row).setFocus();
    form.Text1(row).setSelectionLength(static_cast<int>(platform::CharacterCount(form.Text1(row).text())));
    form.Timer1().setEnabled(false);
    form.Arret_Demande = 1;
}

// The line that the tick's error path leaves in the session's journal: which row, its path and delay, and why.
std::string ErrorLine(const window::Form& form, int row, const std::string& reason) {
    if (row < 0 || row > window::kLastRow) {
        return "the run stopped: " + reason;
    }
    const std::string path = form.Text1(row).text();
    // A start failure names the program itself; the line names it once.
    const std::string prefix = path + ": ";
    const std::string why = reason.compare(0, prefix.size(), prefix) == 0 ? reason.substr(prefix.size()) : reason;
    return "row " + std::to_string(row + 1) + " (\"" + path + "\", delay \"" + form.Text2(row).text() +
           "\") stopped the run: " + why;
}

}  // namespace

void Timer1_Timer(window::Form& form) {
    // The error path: any run-time error below saves the rows and ends the program, without a message box, but
    // with a failure status and a line saying which row failed and why. An error inside this handler's own
    // Quitter is deliberately not caught again.
    int row = -1;
    try {
        if (form.Arret_Demande == 1) {
            list::Quitter(form);
        }
        form.Secondes = platform::Increment(form.Secondes);
        form.Window().setCaption(std::to_string(form.Secondes) + " sec.");
        for (row = 0; row < window::kRowCount; ++row) {
            const std::string delay = form.Text2(row).text();
            if (delay.empty()) {
                continue;  // only the empty text is skipped; blanks read as 0
            }
            const double value = platform::Val(delay);
            form.Dernier_Delai = platform::CInt(value);
            if (value != form.Secondes) {  // unrounded: a delay of 2.5 is never due
                continue;
            }
            const std::string path = form.Text1(row).text();
            if (!form.Files().ordinaryFileExists(path)) {
                StopOnMissingProgram(form, row);
                return;
            }
            [[maybe_unused]] const double task = form.Programs().start(path);
        }
        row = -1;
        if (platform::Val(form.Text2(0).text()) < 2) {
            form.Timer1().setEnabled(false);  // halted: only a restore and a minimise give one more tick
            return;
        }
        if (form.Secondes > form.Dernier_Delai) {
            list::Quitter(form);
        }
    } catch (const platform::RuntimeError& error) {
        form.Process().report(ErrorLine(form, row, error.what()));
        list::Quitter(form, EXIT_FAILURE);
    }
}

}  // namespace selvatro::sequencer
