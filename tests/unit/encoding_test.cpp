#include "platform/encoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace selvatro::platform {
namespace {

using namespace std::string_literals;

// "\"é\",\"5\"" and the like as UTF-16 in both byte orders: each case gives the little-endian bytes, the big-endian
// ones are the same pairs swapped.
struct Utf16Case {
    std::string littleEndian;
    std::string text;
};

std::string Swapped(const std::string& bytes) {
    std::string out = bytes;
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
        std::swap(out[i], out[i + 1]);
    }
    return out;
}

TEST(Utf16ToUtf8, DecodesBothByteOrdersAndReplacesWhatIsIllFormed) {
    const Utf16Case cases[] = {
        {"", ""},
        {"\"\0/\0b\0i\0n\0\"\0,\0\"\0005\0\"\0\r\0\n\0"s, "\"/bin\",\"5\"\r\n"},
        {"\xE9\0t\0\xE9\0"s, "été"},
        {"\xAC\x20"s, "€"},                         // above U+07FF: three bytes
        {"\x3D\xD8\x00\xDE"s, "😀"},                 // a surrogate pair: U+1F600
        {"\xFF\xDB\xFF\xDF"s, "\xF4\x8F\xBF\xBF"},  // the last pair: U+10FFFF
        {"\x3D\xD8"s + "a\0"s,
         "\xEF\xBF\xBD"
         "a"},                          // a high surrogate without its low one
        {"\x3D\xD8"s, "\xEF\xBF\xBD"},  // ... at the very end
        {"\x00\xDE"
         "a\0"s,
         "\xEF\xBF\xBD"
         "a"},                                              // a low surrogate alone
        {"\x00\xDE\x3D\xD8"s, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // a pair in the wrong order
        {"a\0b"s, "a\xEF\xBF\xBD"},                         // an odd length: the last byte has no pair
        {"a\0\0\0b\0"s, "a\0b"s},                           // a zero stays a character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16ToUtf8(c.littleEndian, ByteOrder::LittleEndian), c.text) << testing::PrintToString(c.text);
        EXPECT_EQ(Utf16ToUtf8(Swapped(c.littleEndian), ByteOrder::BigEndian), c.text) << testing::PrintToString(c.text);
    }
}

TEST(DecodeMarkedText, OnlyAByteOrderMarkChoosesTheEncodingAndTheMarkIsDropped) {
    struct Case {
        std::string bytes;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"\xFF\xFE\"\0\xE9\0\"\0"s, "\"é\""},                                       // UTF-16, little-endian
        {"\xFE\xFF\0\"\0\xE9\0\""s, "\"é\""},                                       // UTF-16, big-endian
        {"\xFF\xFE"s, ""},                                                          // the mark alone
        {"\xEF\xBB\xBF\"d\xC3\xA9j\xC3\xA0\""s, "\"déjà\""},                        // UTF-8 with its mark
        {"\xEF\xBB\xBF\xE9t\xE9 \xC3"s, "\xEF\xBF\xBDt\xEF\xBF\xBD \xEF\xBF\xBD"},  // marked, yet not UTF-8
        {"\xEF\xBB\xBF\xF0\x9F\x98"s, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},      // a character cut short
        {"\"/bin/true\",\"5\"\r\n", std::nullopt},  // no mark: the platform's code page decides
        {"\xE9t\xE9", std::nullopt},
        {"\xFF", std::nullopt},  // half a mark
        {"\xEF\xBB", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeMarkedText(c.bytes), c.text) << testing::PrintToString(c.bytes);
    }
}

// Bytes as a code page that is not UTF-8 would read them: each byte above 127 in brackets.
std::string Bracketed(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) > 127) {
            out += '[';
            out += std::to_string(static_cast<unsigned char>(c));
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

TEST(DecodeText, RecognisesEveryEncodingAListComesInAndSaysWhichItWas) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
        TextEncoding encoding;
    };
    const std::string record = "\"C:\\Caf\xC3\xA9\\a.exe\",\"5\"\r\n";  // UTF-8
    const std::string utf16 = "\"\0C\0:\0\\\0\xE9\0\"\0,\0\"\0005\0\"\0\r\0\n\0\"\0\"\0"s;
    const Case cases[] = {
        {"ANSI", "\"C:\\Caf\xE9\\a.exe\",\"5\"\r\n", "\"C:\\Caf[233]\\a.exe\",\"5\"\r\n", TextEncoding::CodePage},
        {"ASCII", "\"C:\\a.exe\",\"5\"\r\n", "\"C:\\a.exe\",\"5\"\r\n", TextEncoding::CodePage},
        {"UTF-8 without its mark, as Notepad writes it", record, record, TextEncoding::Utf8},
        {"UTF-8 with its mark", std::string("\xEF\xBB\xBF").append(record), record, TextEncoding::Utf8WithMark},
        {"UTF-16 with its mark", std::string("\xFF\xFE").append(utf16), "\"C:\\\xC3\xA9\",\"5\"\r\n\"\"",
         TextEncoding::Utf16},
        {"UTF-16 without a mark", utf16, "\"C:\\\xC3\xA9\",\"5\"\r\n\"\"", TextEncoding::Utf16},
        {"UTF-16 big-endian without a mark", Swapped(utf16), "\"C:\\\xC3\xA9\",\"5\"\r\n\"\"", TextEncoding::Utf16},
        {"UTF-16 whose first line is mostly Chinese", "\"\0\x2D\x4E\x87\x65\"\0\n\0"s, "\"中文\"\n",
         TextEncoding::Utf16},
        // A NUL or two in a text is damage, not UTF-16: such a text keeps its NULs and is refused as a list.
        {"a stray NUL", "\"C:\\a.exe\",\0\"5\"\r\n"s, "\"C:\\a.exe\",\0\"5\"\r\n"s, TextEncoding::CodePage},
        {"NUL pairs", "\"\0\0\0a\0"s, "\"\0\0\0a\0"s, TextEncoding::CodePage},
        {"nothing", "", "", TextEncoding::CodePage},
    };
    for (const auto& c : cases) {
        const DecodedText decoded = DecodeText(c.bytes, [](std::string_view b) { return Bracketed(b); });
        EXPECT_EQ(decoded.text, c.text) << c.what;
        EXPECT_EQ(decoded.encoding, c.encoding) << c.what;
    }
}

}  // namespace
}  // namespace selvatro::platform
