#pragma once

// The user's language, asked of the platform the way the old system query answers: a NUL-ended name in a buffer.

#include <string>

namespace selvatro::platform {
class Language;
}

namespace selvatro::Langage {

/// The English name of the user's language ("French"), or the empty text when the platform gives none.
std::string Langue_Utilisateur(platform::Language& language);

/// The part of `text` before its first NUL; the empty text when it holds no NUL at all.
std::string Coupe_Nul(std::string text);

}  // namespace selvatro::Langage
