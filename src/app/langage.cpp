#include "app/langage.h"

#include "platform/platform.h"

namespace selvatro::Langage {

std::string Langue_Utilisateur(platform::Language& language) {
    constexpr int kBufferSize = 100;
    std::string buffer(kBufferSize, '\0');
    // One less than the buffer, so that its last character always stays a NUL.
    language.englishLanguageName(buffer, kBufferSize - 1);
    buffer.resize(kBufferSize, '\0');  // a platform may not resize it; guard the length we rely on
    return Coupe_Nul(buffer);
}

std::string Coupe_Nul(std::string text) {
    const std::size_t nul = text.find('\0');
    if (nul == std::string::npos) {
        return std::string();  // a text without NUL is not returned whole
    }
    text.resize(nul);
    return text;
}

}  // namespace selvatro::Langage
