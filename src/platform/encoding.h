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

/// The byte order of UTF-16 written without a byte-order mark (a list saved by a program that writes "Unicode"
/// bare): NULs in at least every second byte of the first line, all on the same side of their pairs. Nothing for
/// any other text: the code pages and UTF-8 never hold a NUL.
std::optional<ByteOrder> UnmarkedUtf16Order(std::string_view bytes);

/// How a text file's bytes are written, so that a file is written back the way it was found.
enum class TextEncoding {
    CodePage,      ///< the platform's own code page (plain ASCII is this too)
    Utf8,          ///< UTF-8 without a byte-order mark, holding a character beyond ASCII
    Utf8WithMark,  ///< UTF-8 behind its byte-order mark
    Utf16,         ///< UTF-16 in either byte order, with or without its mark
};

struct DecodedText {
    std::string text;  ///< UTF-8
    TextEncoding encoding;
};

/// A text file's bytes as UTF-8: a byte-order mark chooses the encoding (the mark dropped); else UTF-16 without a
/// mark (UnmarkedUtf16Order); else valid UTF-8 holding a byte above 127 is UTF-8, since a text in a single-byte
/// code page is almost never valid UTF-8; else `fromCodePage` converts the bytes.
DecodedText DecodeText(std::string_view bytes, std::string (*fromCodePage)(std::string_view));

/// A text that begins with a byte-order mark (UTF-8, or UTF-16 in either byte order, as Windows editors write
/// "Unicode") as UTF-8 without its mark, ill-formed parts replaced by U+FFFD; nothing when there is no mark, and
/// the platform reads the bytes in its own code page.
std::optional<std::string> DecodeMarkedText(std::string_view bytes);

}  // namespace selvatro::platform
