#include "sequencer/sequencer.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <string>

#include "list/list.h"
#include "platform/errors.h"
#include "platform/text_rules.h"
#include "window/form.h"

namespace selvatro::sequencer {

using platform::WindowState;

namespace {

// Tells the desktop which rows the next tick will start, so that it can set them up ahead of their instant. A
// delay that cannot be read is left to the tick itself, whose error path it belongs to.
void AnnounceNextStarts(window::Form& form) {
    const double next = static_cast<double>(form.Secondes) + 1.0;
    for (int row = 0; row < window::kRowCount; ++row) {
        const std::string delay = form.Text2(row).text();
        if (delay.empty()) {
            continue;
        }
        try {
            if (platform::Val(delay) == next) {
                form.Programs().prepare(form.Text1(row).text());
            }
        } catch (const platform::RuntimeError&) {
        }
    }
}

}  // namespace

void Form_Resize(window::Form& form) {
    if (form.Window().windowState() != WindowState::Normal) {
        if (!form.Timer1().isEnabled() || form.TickDue < 0) {
            // The count (re)starts: its next second is one tick period from now.
            form.TickDue = form.Process().monotonicSeconds() + 1.0;
            AnnounceNextStarts(form);
        }
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

// A message as one line of the record: its line breaks, single or doubled, become one blank.
std::string OneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            line += text[i];
        } else if (i == 0 || text[i - 1] != '\n') {
            line += ' ';
        }
    }
    return line;
}

std::string RowName(int row) {
    return "row " + std::to_string(row + 1);
}

// Reports the due row's missing program, restores the window with its path selected, and asks the next tick to
// end the run.
void StopOnMissingProgram(window::Form& form, int row) {
    const std::string message = MissingProgramMessage(form, form.Text1(row).text());
    // Recorded before the message, which may stay open until the session ends.
    form.Process().record(RowName(row) + " missing: " + OneLine(message));
    form.Messages().show(message, platform::MessageStyle::Plain, "Selvatro");
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
    return RowName(row) + " (\"" + path + "\", delay \"" + form.Text2(row).text() + "\") stopped the run: " + why;
}

// The record's line for a start: written after it, so that it never delays the program.
void RecordStart(const window::Form& form, int row, const std::string& path, double task, double due) {
    std::string line = RowName(row);
    line.append(" started: \"")
        .append(path)
        .append("\", process ")
        .append(std::to_string(static_cast<long long>(task)));
    if (due >= 0) {
        // Always with a point, whatever the user's locale: the record is read by people and tools alike.
        std::array<char, 32> seconds{};
        const double late = form.Process().monotonicSeconds() - due;
        const auto written =
            std::to_chars(seconds.data(), seconds.data() + seconds.size(), late, std::chars_format::fixed, 3);
        line.append(", ").append(seconds.data(), written.ptr).append(" s late");
    }
    form.Process().record(line);
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
        const double due = form.TickDue;
        form.TickDue = due + 1.0;
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
            double task = 0;
            try {
                task = form.Programs().start(path);
            } catch (const platform::ProgramMissing&) {
                // A shortcut whose program is gone is as missing as a path that names nothing.
                StopOnMissingProgram(form, row);
                return;
            }
            RecordStart(form, row, path, task, due);
        }
        row = -1;
        AnnounceNextStarts(form);
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
