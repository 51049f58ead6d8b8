#include "editor/picker.h"

#include <string>

#include "platform/errors.h"
#include "platform/text_rules.h"
#include "window/form.h"

namespace selvatro::editor {

namespace {

constexpr const char* kFiltre =
    "Executable(*.exe)|*.exe|Batch Files (*.bat)|*.bat|Command(*.cmd)|*.cmd|Command(*.com)|*.com";

// Hides the read-only check box, and nothing else: the dialog may leave the current folder where the user browsed.
constexpr std::int32_t kOptions = 4;

// Where the dialog opens for an empty row: the root of the system drive where there are drives, else the root.
std::string Racine(char separateur) {
    return separateur == '\\' ? std::string("C:\\") : std::string(1, separateur);
}

// This program's own file name, as the desktop names its executable.
std::string Nom_Propre(char separateur) {
    return separateur == '\\' ? "selvatro.exe" : "selvatro";
}

// Presets the current drive and folder so that the dialog opens beside the row's program. A drive or folder that
// cannot be made current (a program moved away, a drive gone) stops nothing: the dialog opens wherever the
// current folder already is.
void Preparer_Dossier(window::Form& form, const std::string& chemin) {
    platform::Files& fichiers = form.Files();
    const char separateur = fichiers.separator();
    try {
        fichiers.setCurrentDrive(chemin.empty() ? Racine(separateur) : platform::FirstCharacters(chemin, 2));
    } catch (const platform::FileError&) {
    }
    std::string dossier;
    if (chemin.empty()) {
        dossier = Racine(separateur);
    } else {
        // The folder is what stands before the last separator, the last character itself never counting: a path
        // ending in a separator names the folder above it. The separator is one byte that never occurs inside a
        // multi-byte character, so searching bytes finds the same position as counting characters.
        const std::size_t dernier = chemin.size() - platform::LastCharacters(chemin, 1).size();
        const std::size_t position = dernier == 0 ? std::string::npos : chemin.rfind(separateur, dernier - 1);
        if (position == std::string::npos) {
            return;  // no separator: the current folder stays where it is
        }
        dossier = chemin.substr(0, position);
        // On POSIX "/x" leaves nothing before its separator: the folder it names is the root.
        if (dossier.empty() && separateur == '/') {
            dossier = Racine(separateur);
        }
    }
    try {
        fichiers.setCurrentFolder(dossier);
    } catch (const platform::FileError&) {
    }
}

bool Est_Soi_Meme(const std::string& nomFichier, const std::string& nomPropre) {
    std::string fin = platform::LastCharacters(nomFichier, platform::CharacterCount(nomPropre));
    for (char& c : fin) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return fin == nomPropre;
}

}  // namespace

void Text1_Click(window::Form& form, std::int16_t Index) {
    if (Index < 0 || Index > 4) {
        return;
    }
    Preparer_Dossier(form, form.Text1(Index).text());
    // From here on any failure (a cancel included) ends the picker silently; what was done stays done.
    try {
        platform::FileDialog& dialogue = form.CommonDialog1();
        dialogue.setCancelError(true);
        dialogue.setFlags(kOptions);
        dialogue.setFilter(kFiltre);
        dialogue.setFilterIndex(1);
        dialogue.showOpen();
        const std::string choisi = dialogue.fileName();
        if (Est_Soi_Meme(choisi, Nom_Propre(form.Files().separator()))) {
            // A list that starts this program would start it again at every logon.
            form.Messages().show(form.Francais == 1 ? "Ah non ...\nCeci causerait une boucle infinie."
                                                    : "Oh no ...\nThis would have cause a never ending loop.",
                                 platform::MessageStyle::Plain, "Selvatro");
            form.Text1(Index).setText("");
        } else {
            form.Text1(Index).setText(choisi);
        }
        form.Text2(Index).setFocus();
    } catch (const platform::RuntimeError&) {
    }
}

}  // namespace selvatro::editor
