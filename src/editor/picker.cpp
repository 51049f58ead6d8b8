#include "editor/picker.h"

#include <optional>
#include <string>

#include "desktop/logon_entries.h"
#include "platform/errors.h"
#include "platform/text_rules.h"
#include "window/form.h"

namespace selvatro::editor {

namespace {

constexpr const char* kFilter =
    "Executable(*.exe)|*.exe|Batch Files (*.bat)|*.bat|Command(*.cmd)|*.cmd|Command(*.com)|*.com";

// Presets the current drive and folder so that the dialog opens beside the row's program. A drive or folder that
// cannot be made current (a program moved away, a drive gone) stops nothing: the dialog opens wherever the
// current folder already is.
void PrepareFolder(window::Form& form, const std::string& path) {
    platform::Files& files = form.Files();
    const char separator = files.separator();
    const std::string root = form.App().rootFolder();
    try {
        files.setCurrentDrive(path.empty() ? root : platform::FirstCharacters(path, 2));
    } catch (const platform::FileError&) {
    }
    std::string folder;
    if (path.empty()) {
        folder = root;
    } else {
        // The folder is what stands before the last separator, the last character itself never counting: a path
        // ending in a separator names the folder above it. The separator is one byte that never occurs inside a
        // multi-byte character, so searching bytes finds the same position as counting characters.
        const std::size_t last = path.size() - platform::LastCharacters(path, 1).size();
        const std::size_t position = last == 0 ? std::string::npos : path.rfind(separator, last - 1);
        if (position == std::string::npos) {
            return;  // no separator: the current folder stays where it is
        }
        folder = path.substr(0, position);
        // Where the root is the separator alone, "/x" leaves nothing before its separator: the folder is the root.
        if (folder.empty() && root == std::string(1, separator)) {
            folder = root;
        }
    }
    try {
        files.setCurrentFolder(folder);
    } catch (const platform::FileError&) {
    }
}

// The design's own filter, then the desktop's shortcuts to programs.
std::string Filter(window::Form& form) {
    const std::string pattern = form.Programs().shortcutPattern();
    return std::string(kFilter) + "|" + (form.Francais == 1 ? "Raccourcis" : "Shortcuts") + " (" + pattern + ")|" +
           pattern;
}

bool IsThisProgram(const std::string& fileName, const std::string& ownName) {
    std::string end = platform::LastCharacters(fileName, platform::CharacterCount(ownName));
    for (char& c : end) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return end == ownName;
}

}  // namespace

void Text1_Click(window::Form& form, std::int16_t Index) {
    if (Index < 0 || Index > window::kLastRow) {
        return;
    }
    PrepareFolder(form, form.Text1(Index).text());
    // From here on any failure (a cancel included) ends the picker silently; what was done stays done.
    try {
        platform::FileDialog& dialog = form.CommonDialog1();
        dialog.setCancelError(true);
        // Hides the read-only check box, and nothing else: the dialog may leave the current folder where the user
        // browsed.
        dialog.setFlags(platform::kHideReadOnly);
        dialog.setFilter(Filter(form));
        dialog.setFilterIndex(1);
        dialog.setPlaces(form.LogonEntries().places());
        dialog.showOpen();
        const std::string chosen = dialog.fileName();
        const std::string& ownName = form.App().ownFileName();
        const std::optional<std::string> target = form.Programs().shortcutTarget(chosen);
        if (IsThisProgram(chosen, ownName) || (target && IsThisProgram(*target, ownName))) {
            // A list that starts this program would start it again at every logon.
            form.Messages().show(form.Francais == 1 ? "Ah non ...\nCeci causerait une boucle infinie."
                                                    : "Oh no ...\nThis would have cause a never ending loop.",
                                 platform::MessageStyle::Plain, "Selvatro");
            form.Text1(Index).setText("");
        } else {
            form.Text1(Index).setText(chosen);
            desktop::OfferTakeOver(form, chosen);
        }
        form.Text2(Index).setFocus();
    } catch (const platform::RuntimeError&) {
    }
}

}  // namespace selvatro::editor
