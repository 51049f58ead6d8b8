#include "desktop/publisher.h"

#include <cstddef>
#include <string>

#include "desktop/publisher_address.h"
#include "platform/errors.h"
#include "platform/text_rules.h"
#include "window/form.h"

namespace selvatro::desktop {

namespace {

// The lookup's result buffer is a fixed-length text of 255 characters.
constexpr std::size_t kBrowserPathLength = 255;

// The one record written to the temporary file: the HTML text in double quotes, then CR LF. Only the file's
// ending matters to the lookup; the content is what it always was.
constexpr const char* kTemporaryContent = "\"<HTML> <\\HTML>\"\r\n";

// A text put into the fixed-length buffer: padded with blanks on the right, or cut to its first 255 characters.
std::string FixedLength(const std::string& text) {
    const std::size_t count = platform::CharacterCount(text);
    if (count >= kBrowserPathLength) {
        return platform::FirstCharacters(text, kBrowserPathLength);
    }
    return text + std::string(kBrowserPathLength - count, ' ');
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Deletes the temporary file however the click ends: after either message, on success, and should anything
// between throw. A delete that fails leaves a small private file in the temporary folder; nothing is told.
class TemporaryFile {
public:
    TemporaryFile(platform::Files& files, const std::string& name) : files_(files), name_(name) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        try {
            files_.remove(name_);
        } catch (...) {
        }
    }

private:
    platform::Files& files_;
    std::string name_;
};

}  // namespace

void Image_Tovrel_Click(window::Form& form) {
    Ouvre_URL(form);
}

void Tovrel_URL(window::Form& form) {
    form.Adresse_Web.clear();
    for (const unsigned char code : kScrambledAddress) {
        form.Adresse_Web += static_cast<char>(code ^ kAddressKey);
    }
}

void Ouvre_URL(window::Form& form) {
    Tovrel_URL(form);
    form.Chemin_Navigateur = std::string(kBrowserPathLength, ' ');

    // A private file with a unique name in the user's temporary folder, written and closed in one call: a fixed
    // name in a shared folder could be planted by someone else, or not be writable at all. No other file is open
    // during a click, so the file number it would have had is the first one.
    form.Numero_Fichier = 1;
    try {
        form.Fichier_Temp = form.Files().writeTemporaryText(".htm", kTemporaryContent);
    } catch (const platform::FileError&) {
        // Nothing was created (the platform removes a part-written file). Without the file there is no lookup,
        // so the page is not opened, and the user gets the message of a failed start.
        form.Fichier_Temp.clear();
        form.Messages().show("Web Page not Opened", platform::MessageStyle::Exclamation, "URL Failed");
        return;
    }
    const TemporaryFile temporary(form.Files(), form.Fichier_Temp);

    std::string buffer = form.Chemin_Navigateur + '\0';
    form.Code_Retour = form.Browser().findExecutable(form.Fichier_Temp, form.Dossier_Vide, buffer);
    form.Chemin_Navigateur = FixedLength(buffer);
    form.Chemin_Navigateur = FixedLength(Trim(form.Chemin_Navigateur));

    // The path ends at the first zero; a buffer with none is taken whole.
    const std::size_t nul = form.Chemin_Navigateur.find('\0');
    const std::string command =
        (nul == std::string::npos ? form.Chemin_Navigateur : form.Chemin_Navigateur.substr(0, nul)) + " ";

    // Only the lookup's result code decides, not the path found.
    if (form.Code_Retour <= platform::kShellFailureCeiling) {
        form.Messages().show("Could not find your default Browser", platform::MessageStyle::Exclamation,
                             "Browser Not Found");
        return;
    }
    form.Code_Retour =
        form.Browser().shellExecute("open", command, form.Adresse_Web, form.Dossier_Vide, platform::kShowNormal);
    if (form.Code_Retour <= platform::kShellFailureCeiling) {
        form.Messages().show("Web Page not Opened", platform::MessageStyle::Exclamation, "URL Failed");
    }
}

}  // namespace selvatro::desktop
