#include "platform/text_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/errors.h"

namespace selvatro::platform {
namespace {

struct ValCase {
    std::string text;
    double expected;
};

TEST(NumberFromText, ReadsTheLongestLeadingNumber) {
    const ValCase cases[] = {
        {"", 0},
        {"abc", 0},
        {"10", 10},
        {"1 0", 10},  // blanks, tabs and line feeds are dropped wherever they stand
        {" \t1\n5 ", 15},
        {"7x", 7},
        {"2.5", 2.5},
        {"2.5.1", 2.5},  // one decimal point only
        {".5", 0.5},
        {"-.5", -0.5},
        {"5.", 5},
        {".", 0},
        {"-", 0},
        {"+12", 12},
        {"- 3", -3},
        {"--3", 0},
        {"1E3", 1000},
        {"1e3", 1000},
        {"1D2", 100},  // D brings in an exponent as E does
        {"2E-1", 0.2},
        {"3E", 3},  // an exponent without digits is not part of the number
        {"3E+", 3},
        {"3Ex", 3},
        {"&H10", 16},
        {"&hff", 255},
        {"&HFFFF", 65535},
        {"&O17", 15},
        {"&o8", 0},  // 8 is no octal digit
        {"&H", 0},
        {"&12", 0},
        {"1,5", 1},  // the comma is never a decimal point here
        {"\r5", 0},  // a carriage return is not dropped
        {"0.000", 0},
        {"1e-400", 0},  // below the smallest double: zero, not an error
        {"000000000000000000000000000042", 42},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(Val(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(NumberFromText, HugeInputsReadOrOverflowButNeverMisbehave) {
    EXPECT_DOUBLE_EQ(Val("1" + std::string(300, '0')), 1e300);
    EXPECT_DOUBLE_EQ(Val("0." + std::string(5000, '0') + "1E5001"), 1.0);
    EXPECT_DOUBLE_EQ(Val("&H" + std::string(40, 'F')), std::pow(16.0, 40) - 1);
    EXPECT_DOUBLE_EQ(Val("1E-99999999999999999999999"), 0.0);
    EXPECT_THROW(Val("1E400"), OverflowError);
    EXPECT_THROW(Val("-1E400"), OverflowError);
    EXPECT_THROW(Val("1E99999999999999999999999"), OverflowError);
    EXPECT_THROW(Val(std::string(400, '9')), OverflowError);
    EXPECT_THROW(Val("&H" + std::string(300, 'F')), OverflowError);
}

TEST(TextFromNumber, WritesTheShortestText) {
    EXPECT_EQ(Str(11, "."), "11");
    EXPECT_EQ(Str(-1, "."), "-1");
    EXPECT_EQ(Str(0, "."), "0");
    EXPECT_EQ(Str(-0.0, "."), "0");
    EXPECT_EQ(Str(1000000, "."), "1000000");
    EXPECT_EQ(Str(2.5, "."), "2.5");
    EXPECT_EQ(Str(2.5, ","), "2,5");  // a fraction follows the user's locale
    EXPECT_EQ(Str(0.1 + 0.2, "."), "0.30000000000000004");
    EXPECT_EQ(Str(1e20, "."), "1E+20");
    for (double v : {3.0, -7.25, 1e-7, 123456.789, 32768.0}) {
        EXPECT_DOUBLE_EQ(Val(Str(v, ".")), v) << v;
    }
}

TEST(Rounding, HalvesGoToTheEvenNeighbourWithinSixteenBits) {
    const std::pair<double, int> cases[] = {{2.5, 2},         {3.5, 4},          {-0.5, 0},      {-1.5, -2},
                                            {0.49, 0},        {2.51, 3},         {32767, 32767}, {32767.4, 32767},
                                            {-32768, -32768}, {-32768.5, -32768}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(CInt(value), expected) << value;
    }
    for (double outside : {32767.5, 40000.0, -32768.6, 1e300, std::nan("")}) {
        EXPECT_THROW(CInt(outside), OverflowError) << outside;
    }
    EXPECT_EQ(Increment(32766), 32767);
    EXPECT_THROW(Increment(32767), OverflowError);
}

TEST(Characters, AreCountedNotBytes) {
    EXPECT_EQ(CharacterCount("Démarrage"), 9u);
    EXPECT_EQ(LastCharacters("/opt/été/selvatro", 12), "été/selvatro");
    EXPECT_EQ(LastCharacters("ab", 12), "ab");
    EXPECT_EQ(FirstCharacters("éx:/", 2), "éx");
    EXPECT_EQ(FirstCharacters("a", 2), "a");
}

}  // namespace
}  // namespace selvatro::platform
