#include "platform/text_rules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "platform/errors.h"

namespace selvatro::platform {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int DigitValue(char c, int base) {
    int d = -1;
    if (IsDigit(c)) {
        d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
    }
    return d < base ? d : -1;
}

[[noreturn]] void ThrowOverflow() {
    throw OverflowError("number beyond the range of a double");
}

double ReadRadixInteger(std::string_view digits, int base) {
    double value = 0;
    for (char c : digits) {
        const int d = DigitValue(c, base);
        if (d < 0) {
            break;
        }
        value = value * base + d;
    }
    if (!std::isfinite(value)) {
        ThrowOverflow();
    }
    return value;
}

// A decimal number split into its parts, as read from the front of the text.
struct DecimalParts {
    bool negative = false;
    std::string_view integer;
    std::string_view fraction;
    bool exponentNegative = false;
    std::string_view exponent;  // digits only; empty when there is no complete exponent
};

DecimalParts SplitDecimal(std::string_view s) {
    DecimalParts p;
    std::size_t i = 0;
    auto digitsFrom = [&](std::size_t start) {
        std::size_t end = start;
        while (end < s.size() && IsDigit(s[end])) {
            ++end;
        }
        return end;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        p.negative = s[i] == '-';
        ++i;
    }
    std::size_t end = digitsFrom(i);
    p.integer = s.substr(i, end - i);
    i = end;
    if (i < s.size() && s[i] == '.') {
        end = digitsFrom(i + 1);
        p.fraction = s.substr(i + 1, end - i - 1);
        i = end;
    }
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        std::size_t j = i + 1;
        bool negative = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            negative = s[j] == '-';
            ++j;
        }
        end = digitsFrom(j);
        if (end > j) {  // an E without digits is not part of the number
            p.exponentNegative = negative;
            p.exponent = s.substr(j, end - j);
        }
    }
    return p;
}

// The decimal exponent of the leading significant digit, saturated far beyond what a double can hold, so that a
// result out of range can be told apart as overflow or underflow.
long long OrderOfMagnitude(const DecimalParts& p) {
    constexpr long long kSaturated = 1'000'000'000;
    long long exponent = 0;
    for (char c : p.exponent) {
        exponent = std::min(kSaturated, exponent * 10 + (c - '0'));
    }
    if (p.exponentNegative) {
        exponent = -exponent;
    }
    const auto firstSignificant = p.integer.find_first_not_of('0');
    if (firstSignificant != std::string_view::npos) {
        return exponent + static_cast<long long>(p.integer.size() - firstSignificant) - 1;
    }
    const auto inFraction = p.fraction.find_first_not_of('0');
    return exponent - static_cast<long long>(inFraction) - 1;
}

double ReadDecimal(std::string_view s) {
    const DecimalParts p = SplitDecimal(s);
    if (p.integer.empty() && p.fraction.empty()) {
        return 0;
    }
    if (p.integer.find_first_not_of('0') == std::string_view::npos &&
        p.fraction.find_first_not_of('0') == std::string_view::npos) {
        return p.negative ? -0.0 : 0.0;
    }
    std::string normal;
    normal.reserve(s.size() + 2);
    if (p.negative) {
        normal += '-';
    }
    normal += p.integer.empty() ? std::string_view("0") : p.integer;
    if (!p.fraction.empty()) {
        normal += '.';
        normal += p.fraction;
    }
    if (!p.exponent.empty()) {
        normal += p.exponentNegative ? "e-" : "e";
        normal += p.exponent;
    }
    double value = 0;
    const auto [ptr, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (OrderOfMagnitude(p) > 0) {
            ThrowOverflow();
        }
        return p.negative ? -0.0 : 0.0;
    }
    if (ec != std::errc() || !std::isfinite(value)) {
        ThrowOverflow();
    }
    return value;
}

}  // namespace

double Val(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') {
            s += c;
        }
    }
    if (!s.empty() && s[0] == '&') {
        if (s.size() >= 2 && (s[1] == 'H' || s[1] == 'h')) {
            return ReadRadixInteger(std::string_view(s).substr(2), 16);
        }
        if (s.size() >= 2 && (s[1] == 'O' || s[1] == 'o')) {
            return ReadRadixInteger(std::string_view(s).substr(2), 8);
        }
        return 0;
    }
    return ReadDecimal(s);
}

std::string Str(double value, std::string_view decimalSeparator) {
    if (value == 0) {
        return "0";  // also for -0, which nobody wants to read
    }
    char buffer[64];
    std::to_chars_result result{};
    if (std::trunc(value) == value && std::fabs(value) < 1e15) {
        // Whole numbers as plain digits: the shortest form would write a million as 1e+06.
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    } else {
        result = std::to_chars(buffer, buffer + sizeof buffer, value);
    }
    std::string text;
    for (const char* c = buffer; c != result.ptr; ++c) {
        if (*c == '.') {
            text += decimalSeparator;
        } else if (*c == 'e') {
            text += 'E';
        } else {
            text += *c;
        }
    }
    return text;
}

std::int16_t CInt(double value) {
    const double rounded = std::nearbyint(value);  // the default rounding mode sends halves to the even neighbour
    if (!(rounded >= std::numeric_limits<std::int16_t>::min() && rounded <= std::numeric_limits<std::int16_t>::max())) {
        throw OverflowError("number outside -32768..32767");
    }
    return static_cast<std::int16_t>(rounded);
}

std::int16_t Increment(std::int16_t value) {
    if (value == std::numeric_limits<std::int16_t>::max()) {
        throw OverflowError("count past 32767");
    }
    return static_cast<std::int16_t>(value + 1);
}

namespace {
bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Byte offset of the character `index` (counted from 0), or the size when the text is shorter.
std::size_t OffsetOfCharacter(std::string_view utf8, std::size_t index) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (!IsContinuationByte(utf8[i])) {
            if (seen == index) {
                return i;
            }
            ++seen;
        }
    }
    return utf8.size();
}
}  // namespace

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (char c : utf8) {
        if (!IsContinuationByte(c)) {
            ++count;
        }
    }
    return count;
}

std::string LastCharacters(std::string_view utf8, std::size_t count) {
    const std::size_t total = CharacterCount(utf8);
    if (count >= total) {
        return std::string(utf8);
    }
    return std::string(utf8.substr(OffsetOfCharacter(utf8, total - count)));
}

std::string FirstCharacters(std::string_view utf8, std::size_t count) {
    return std::string(utf8.substr(0, OffsetOfCharacter(utf8, count)));
}

}  // namespace selvatro::platform
