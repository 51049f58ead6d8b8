#pragma once

// The encodings that a list file may come in, decoded to the UTF-8 that every layer uses inside. Each desktop
// reads its files through these, so that a list moved between systems loads the same everywhere.

#include <optional>
#include <string>
#include <string_view>

namespace selvatro::platform {

enum class ByteOrder { LittleEndian, BigEndian };

/// True when `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

/// `text` with each ill-formed UTF-8 sequence replaced by U+FFFD, one for each byte that starts none.
std::string RepairUtf8(std::string_view text);

/// Windows-1252 bytes as UTF-8. The five bytes that code page leaves undefined keep their own code point (U+0081,
/// U+008D, ...), as Windows itself converts them.
std::string Windows1252ToUtf8(std::string_view text);

/// UTF-16 code units, two bytes each in `order`, as UTF-8. A surrogate without its partner, and a last byte
/// without its pair, each become U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, ByteOrder order);

/// A text that begins with a byte-order mark (UTF-8, or UTF-16 in either byte order, as Windows editors write
/// "Unicode") as UTF-8 without its mark, ill-formed parts replaced by U+FFFD; nothing when there is no mark, and
/// the platform reads the bytes in its own code page.
std::optional<std::string> DecodeMarkedText(std::string_view bytes);

}  // namespace selvatro::platform
