#include "platform/encoding.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace selvatro::platform {

namespace {

constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0u | (code >> 6));
        out += static_cast<char>(0x80u | (code & 0x3Fu));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0u | (code >> 12));
        out += static_cast<char>(0x80u | ((code >> 6) & 0x3Fu));
        out += static_cast<char>(0x80u | (code & 0x3Fu));
    } else {
        out += static_cast<char>(0xF0u | (code >> 18));
        out += static_cast<char>(0x80u | ((code >> 12) & 0x3Fu));
        out += static_cast<char>(0x80u | ((code >> 6) & 0x3Fu));
        out += static_cast<char>(0x80u | (code & 0x3Fu));
    }
}

// The length of the well-formed UTF-8 sequence that starts at `at`, or 0 when none does.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07u;
    } else {
        return 0;  // a continuation byte first, C0/C1 (always overlong), or F5..FF
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (next & 0x3Fu);
    }
    const std::uint32_t smallest = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool StartsWith(std::string_view bytes, std::string_view mark) {
    return bytes.substr(0, mark.size()) == mark;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = SequenceLength(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string RepairUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = SequenceLength(text, i);
        if (length == 0) {
            AppendUtf8(out, kReplacementCharacter);
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string Windows1252ToUtf8(std::string_view text) {
    // 0x80..0x9F; 0 marks the five bytes that keep their own code point.
    static constexpr std::array<std::uint16_t, 32> kHigh = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        std::uint32_t code = byte;
        if (byte >= 0x80 && byte <= 0x9F && kHigh[byte - 0x80u] != 0) {
            code = kHigh[byte - 0x80u];
        }
        AppendUtf8(out, code);
    }
    return out;
}

std::string Utf16ToUtf8(std::string_view bytes, ByteOrder order) {
    const auto unitAt = [&](std::size_t at) {
        const auto first = static_cast<unsigned char>(bytes[at]);
        const auto second = static_cast<unsigned char>(bytes[at + 1]);
        return static_cast<std::uint32_t>(order == ByteOrder::LittleEndian ? (second << 8) | first
                                                                           : (first << 8) | second);
    };
    const auto isHigh = [](std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    const auto isLow = [](std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = unitAt(2 * i);
        if (isHigh(unit) && i + 1 < units && isLow(unitAt(2 * i + 2))) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(2 * i + 2) - 0xDC00));
            ++i;
        } else if (isHigh(unit) || isLow(unit)) {
            AppendUtf8(out, kReplacementCharacter);
        } else {
            AppendUtf8(out, unit);
        }
    }
    if (bytes.size() % 2 != 0) {
        AppendUtf8(out, kReplacementCharacter);
    }
    return out;
}

std::optional<std::string> DecodeMarkedText(std::string_view bytes) {
    using namespace std::string_view_literals;
    if (StartsWith(bytes, "\xEF\xBB\xBF"sv)) {
        return RepairUtf8(bytes.substr(3));
    }
    if (StartsWith(bytes, "\xFF\xFE"sv)) {
        return Utf16ToUtf8(bytes.substr(2), ByteOrder::LittleEndian);
    }
    if (StartsWith(bytes, "\xFE\xFF"sv)) {
        return Utf16ToUtf8(bytes.substr(2), ByteOrder::BigEndian);
    }
    return std::nullopt;
}

std::optional<ByteOrder> UnmarkedUtf16Order(std::string_view bytes) {
    // The first line, or its first 256 characters: a list's first line is a record, mostly ASCII.
    std::size_t pairs = 0;
    std::size_t highNul = 0;  // the second byte of the pair is NUL: little-endian ASCII
    std::size_t lowNul = 0;   // the first byte is NUL: big-endian ASCII
    for (std::size_t at = 0; at + 1 < bytes.size() && pairs < 256; at += 2) {
        const char first = bytes[at];
        const char second = bytes[at + 1];
        if ((first == '\n' && second == '\0') || (first == '\0' && second == '\n')) {
            break;
        }
        ++pairs;
        if (first == '\0' && second == '\0') {
            return std::nullopt;  // U+0000 ends no list: a damaged or binary file
        }
        highNul += second == '\0' ? 1 : 0;
        lowNul += first == '\0' ? 1 : 0;
    }
    if (pairs == 0) {
        return std::nullopt;
    }
    if (highNul * 2 >= pairs && highNul > lowNul) {
        return ByteOrder::LittleEndian;
    }
    if (lowNul * 2 >= pairs && lowNul > highNul) {
        return ByteOrder::BigEndian;
    }
    return std::nullopt;
}

DecodedText DecodeText(std::string_view bytes, std::string (*fromCodePage)(std::string_view)) {
    using namespace std::string_view_literals;
    if (StartsWith(bytes, "\xEF\xBB\xBF"sv)) {
        return {RepairUtf8(bytes.substr(3)), TextEncoding::Utf8WithMark};
    }
    if (std::optional<std::string> marked = DecodeMarkedText(bytes)) {
        return {std::move(*marked), TextEncoding::Utf16};
    }
    if (const std::optional<ByteOrder> order = UnmarkedUtf16Order(bytes)) {
        return {Utf16ToUtf8(bytes, *order), TextEncoding::Utf16};
    }
    const bool beyondAscii =
        std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) > 127; });
    if (beyondAscii && IsValidUtf8(bytes)) {
        return {std::string(bytes), TextEncoding::Utf8};
    }
    return {fromCodePage(bytes), TextEncoding::CodePage};
}

}  // namespace selvatro::platform
