#pragma once

// Text at the edge of the Win32 layer: UTF-8 inside, UTF-16 for every wide call, the ANSI code page only for the
// list file's bytes; and the system's own words for an error code.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace selvatro::platform::win32 {

/// UTF-8 as UTF-16; an ill-formed sequence becomes U+FFFD.
std::wstring Widen(std::string_view utf8);

/// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view wide);

/// UTF-8 in the system's ANSI code page (CP_ACP); nothing when a character has no place in it, so that nothing is
/// lost to "?".
std::optional<std::string> ToAnsi(std::string_view utf8);

/// Bytes of the system's ANSI code page as UTF-8.
std::string FromAnsi(std::string_view ansi);

/// The system's text for an error code (GetLastError's), in the user's language, without the closing line break;
/// "error N" where the system has none.
std::string SystemMessage(DWORD error);

/// The same, with `insert` in the place of the inserts that the text names ("%1 is not a valid Win32
/// application.": the program's path), where the one-argument form leaves them as they are.
std::string SystemMessage(DWORD error, const std::string& insert);

}  // namespace selvatro::platform::win32
