#include "editor/row_rules.h"

#include <optional>
#include <string>

#include "platform/errors.h"
#include "platform/text_rules.h"
#include "window/form.h"

// Every rule below works on the box texts alone and writes only through the boxes, so each write raises the
// box's change event nested inside it. The chains end because a move-up always goes to a lower row, every
// computed delay makes its own rule's test false, and setting a box to the text it already holds raises nothing.

namespace selvatro::editor {

namespace {

// The value of a delay box; nothing when its number lies beyond the range of a double. A rule that meets such a
// box leaves the boxes as they are: no neighbour can be computed from it, and the text stays as the user typed it.
std::optional<double> DelayValue(const platform::TextBox& box) {
    try {
        return platform::Val(box.text());
    } catch (const platform::OverflowError&) {
        return std::nullopt;
    }
}

void WriteDelay(window::Form& form, int row, double value) {
    form.Text2(row).setText(platform::Str(value, form.Language().decimalSeparator()));
}

// The delay proposal and the typed-delay rule share this: raise the delay of `row` to the previous row's plus 1 when it
// is not already above it.
void RaiseAbovePrevious(window::Form& form, int row) {
    const std::optional<double> previous = DelayValue(form.Text2(row - 1));
    const std::optional<double> own = DelayValue(form.Text2(row));
    if (previous && own && *previous >= *own) {
        WriteDelay(form, row, *previous + 1);
    }
}

// The clearing step shared by both sweeps: a row without a path carries no delay.
void ClearWithoutPath(window::Form& form, int row) {
    if (form.Text1(row).text().empty()) {
        form.Text2(row).setText("");
    }
}

}  // namespace

void Text1_Change(window::Form& form, std::int16_t Index) {
    if (Index < 1 || Index > window::kLastRow) {
        return;  // row 0 has nothing above it to fill or to follow
    }
    // Move-up: the text climbs into the empty row above; that assignment runs this procedure for the row above,
    // so it goes on climbing through every empty row. The delay stays behind and is cleared.
    if (form.Text1(Index - 1).text().empty()) {
        form.Text1(Index - 1).setText(form.Text1(Index).text());
        form.Text1(Index).setText("");
        form.Text2(Index).setText("");
    }
    // Delay proposal, also for a row that the move-up has just emptied.
    RaiseAbovePrevious(form, Index);
}

void Text2_Change(window::Form& form, std::int16_t Index) {
    if (form.Chargement == 1) {
        return;  // delays from the list file are taken as they are
    }
    if (Index == 0) {
        // Keep row 0 below row 1; equal delays are left for the ordering sweep.
        if (form.Text1(0).text().empty() || form.Text2(1).text().empty()) {
            return;
        }
        const std::optional<double> next = DelayValue(form.Text2(1));
        const std::optional<double> own = DelayValue(form.Text2(0));
        if (next && own && *next < *own) {
            WriteDelay(form, 0, *next - 1);
        }
        return;
    }
    if (Index > window::kLastRow || form.Text1(Index).text().empty()) {
        return;
    }
    RaiseAbovePrevious(form, Index);
}

void Text1_LostFocus(window::Form& form, std::int16_t /*Index*/) {
    for (form.Ligne = 0; form.Ligne <= window::kLastRow; ++form.Ligne) {
        ClearWithoutPath(form, form.Ligne);
    }
}

void Text2_LostFocus(window::Form& form, std::int16_t /*Index*/) {
    for (form.Ligne = 0; form.Ligne <= window::kLastRow; ++form.Ligne) {
        ClearWithoutPath(form, form.Ligne);
        if (form.Ligne == window::kLastRow) {
            continue;  // the last row has no next row to stay below
        }
        // Lower this row below the next one. The next row is compared before its own clearing turn, so a delay
        // standing in a row without a path still counts here. Lowering raises the row's change event, which puts
        // the delay back up after the previous row's when there is no room between the two.
        const int row = form.Ligne;
        if (form.Text2(row).text().empty() || form.Text2(row + 1).text().empty()) {
            continue;
        }
        const std::optional<double> next = DelayValue(form.Text2(row + 1));
        const std::optional<double> own = DelayValue(form.Text2(row));
        if (next && own && *next <= *own) {
            WriteDelay(form, row, *next - 1);
        }
    }
}

}  // namespace selvatro::editor
