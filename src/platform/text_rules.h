#pragma once

// The text rules that every layer shares: how a delay text reads as a number, how a computed delay is written
// back, and how a number becomes a 16-bit integer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace selvatro::platform {

/// Number from text. Blanks, tabs and line feeds are dropped wherever they stand; then the longest leading part
/// that forms a number is read: a sign, digits with one "." (whatever the locale) and an exponent brought in by
/// E or D, or an integer written &H (hexadecimal) or &O (octal). Text without such a part reads as 0.
/// Throws OverflowError when the number lies beyond the range of a double.
double Val(std::string_view text);

/// Text from number: the shortest decimal text that reads back as `value` ("11", "-1", "2.5"), the fraction
/// written with `decimalSeparator`.
std::string Str(double value, std::string_view decimalSeparator);

/// Rounds to the nearest integer, halves to the even neighbour (2.5 gives 2, 3.5 gives 4). Throws OverflowError
/// outside -32768..32767.
std::int16_t CInt(double value);

/// `value + 1` as a 16-bit integer. Throws OverflowError past 32767.
std::int16_t Increment(std::int16_t value);

/// The number of characters (not bytes) of a UTF-8 text.
std::size_t CharacterCount(std::string_view utf8);

/// The last `count` characters of a UTF-8 text, or all of it when it is shorter.
std::string LastCharacters(std::string_view utf8, std::size_t count);

/// The first `count` characters of a UTF-8 text, or all of it when it is shorter.
std::string FirstCharacters(std::string_view utf8, std::size_t count);

}  // namespace selvatro::platform
