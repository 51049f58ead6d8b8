// The row editing rules, driven as a user would drive them: typing, replacing and emptying boxes, and moving the
// focus. Rows are written path/delay, "|" between rows.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fake/fake_desktop.h"

namespace selvatro {
namespace {

using fake::FakeDesktop;
using fake::FakeTextBox;
using fake::Profile;

using Rows = std::vector<std::pair<std::string, std::string>>;

FakeTextBox& Path(FakeDesktop& d, int row) {
    return *d.text1.at(static_cast<std::size_t>(row));
}
FakeTextBox& Delay(FakeDesktop& d, int row) {
    return *d.text2.at(static_cast<std::size_t>(row));
}

// Starts the program on a list file holding `rows`; with no rows, on no file at all.
void StartWith(FakeDesktop& d, const Rows& rows) {
    if (!rows.empty()) {
        d.writeList(rows);
    }
    d.start();
}

struct Step {
    const char* what;
    std::function<void(FakeDesktop&)> act;
    std::string rows;  // the five rows after the step
};

struct Scenario {
    const char* name;
    Rows file;
    std::vector<Step> steps;
};

void RunScenario(const Scenario& s, const Profile& profile = Profile()) {
    FakeDesktop d(profile);
    StartWith(d, s.file);
    for (const Step& step : s.steps) {
        step.act(d);
        EXPECT_EQ(d.rows(), step.rows) << s.name << ": " << step.what;
    }
}

TEST(RowRules, TypingIntoPathBoxes) {
    const Scenario scenarios[] = {
        {"notepad into path box 4 of an empty list",
         {},
         {{"n", [](FakeDesktop& d) { d.type(Path(d, 4), "n"); }, "n/|/1|/2|/3|/4"},
          {"o", [](FakeDesktop& d) { d.type(Path(d, 4), "o"); }, "n/|o/1|/2|/3|/4"},
          {"t", [](FakeDesktop& d) { d.type(Path(d, 4), "t"); }, "n/|o/1|t/2|/3|/4"},
          {"e", [](FakeDesktop& d) { d.type(Path(d, 4), "e"); }, "n/|o/1|t/2|e/3|/4"},
          {"pad", [](FakeDesktop& d) { d.type(Path(d, 4), "pad"); }, "n/|o/1|t/2|e/3|pad/4"},
          {"leave the box", [](FakeDesktop& d) { d.focusElsewhere(); }, "n/|o/1|t/2|e/3|pad/4"}}},
        {"m into path box 1 below A/10",
         {{"A", "10"}},
         {{"m", [](FakeDesktop& d) { d.type(Path(d, 1), "m"); }, "A/10|m/11|/|/|/"},
          {"ore", [](FakeDesktop& d) { d.type(Path(d, 1), "ore"); }, "A/10|more/11|/|/|/"}}},
        {"a then b into path box 2 below A/5",
         {{"A", "5"}},
         {{"a", [](FakeDesktop& d) { d.type(Path(d, 2), "a"); }, "A/5|a/6|/7|/|/"},
          {"b", [](FakeDesktop& d) { d.type(Path(d, 2), "b"); }, "A/5|a/6|b/7|/|/"}}},
        {"a path assigned to path box 3 below A/5",
         {{"A", "5"}},
         {{"assign", [](FakeDesktop& d) { d.focus(Path(d, 3)), Path(d, 3).setText("P"); }, "A/5|P/6|/7|/8|/"},
          {"leave the box", [](FakeDesktop& d) { d.focus(Delay(d, 3)); }, "A/5|P/6|/|/|/"}}},
        {"path box 1 of A/5, B/10, M/15 emptied, then M changed",
         {{"A", "5"}, {"B", "10"}, {"M", "15"}},
         {{"select all, delete", [](FakeDesktop& d) { d.edit(Path(d, 1), ""); }, "A/5|/10|M/15|/|/"},
          {"leave the box", [](FakeDesktop& d) { d.focus(Delay(d, 1)); }, "A/5|/|M/15|/|/"},
          {"leave a delay box", [](FakeDesktop& d) { d.focusElsewhere(); }, "A/5|/|M/15|/|/"},
          {"change M", [](FakeDesktop& d) { d.type(Path(d, 2), "2"); }, "A/5|M2/6|/7|/|/"},
          {"leave the box", [](FakeDesktop& d) { d.focusElsewhere(); }, "A/5|M2/6|/|/|/"}}},
        {"row 0 has no rule of its own",
         {{"A", "10"}, {"B", "5"}},
         {{"type", [](FakeDesktop& d) { d.type(Path(d, 0), "2"); }, "A2/10|B/5|/|/|/"},
          {"empty it", [](FakeDesktop& d) { d.edit(Path(d, 0), ""); }, "/10|B/5|/|/|/"}}},
        {"a blank path counts as filled",
         {{"A", "10"}},
         {{"blank", [](FakeDesktop& d) { d.type(Path(d, 1), " "); }, "A/10| /11|/|/|/"},
          {"sweep", [](FakeDesktop& d) { d.focusElsewhere(); }, "A/10| /11|/|/|/"}}},
    };
    for (const auto& s : scenarios) {
        RunScenario(s);
    }
}

TEST(RowRules, TypingIntoDelayBoxes) {
    const Rows ab = {{"A", "10"}, {"B", "20"}};
    const Scenario scenarios[] = {
        {"delay 20 replaced by 5", ab, {{"5", [](FakeDesktop& d) { d.edit(Delay(d, 1), "5"); }, "A/10|B/11|/|/|/"}}},
        {"delay 20 replaced by x", ab, {{"x", [](FakeDesktop& d) { d.edit(Delay(d, 1), "x"); }, "A/10|B/11|/|/|/"}}},
        {"delay 20 emptied", ab, {{"empty", [](FakeDesktop& d) { d.edit(Delay(d, 1), ""); }, "A/10|B/11|/|/|/"}}},
        {"delay 20 typed anew, digit by digit",
         ab,
         {{"empty", [](FakeDesktop& d) { d.edit(Delay(d, 1), ""); }, "A/10|B/11|/|/|/"},
          {"append 5", [](FakeDesktop& d) { d.type(Delay(d, 1), "5"); }, "A/10|B/115|/|/|/"}}},
        {"delay 10 replaced by 25", ab, {{"25", [](FakeDesktop& d) { d.edit(Delay(d, 0), "25"); }, "A/19|B/20|/|/|/"}}},
        {"delay 10 replaced by 20",
         ab,
         {{"20", [](FakeDesktop& d) { d.edit(Delay(d, 0), "20"); }, "A/20|B/20|/|/|/"},
          {"leave for a path box", [](FakeDesktop& d) { d.focus(Path(d, 1)); }, "A/19|B/20|/|/|/"}}},
        {"row 0 over an empty delay box 1 keeps what is typed",
         {{"A", "10"}},
         {{"5", [](FakeDesktop& d) { d.edit(Delay(d, 0), "5"); }, "A/5|/|/|/|/"},
          {"99", [](FakeDesktop& d) { d.edit(Delay(d, 0), "99"); }, "A/99|/|/|/|/"}}},
        {"3 typed into the delay box of an empty row below A/10",
         {{"A", "10"}},
         {{"3", [](FakeDesktop& d) { d.type(Delay(d, 1), "3"); }, "A/10|/3|/|/|/"},
          {"leave", [](FakeDesktop& d) { d.focusElsewhere(); }, "A/2|/|/|/|/"}}},
        {"a raised delay is lowered only by the ordering sweep",
         {{"A", "10"}, {"B", "35"}, {"M", "30"}},
         {{"path box to path box", [](FakeDesktop& d) { d.focus(Path(d, 0)), d.focus(Path(d, 1)); },
           "A/10|B/35|M/30|/|/"},
          {"leave a delay box", [](FakeDesktop& d) { d.focus(Delay(d, 1)), d.focusElsewhere(); },
           "A/10|B/29|M/30|/|/"}}},
    };
    for (const auto& s : scenarios) {
        RunScenario(s);
    }
}

// Lists loaded as they are, then one ordering sweep (the focus leaving a delay box).
TEST(RowRules, OrderingSweep) {
    struct Case {
        const char* name;
        Rows file;
        std::string after;
    };
    const Case cases[] = {
        {"no room between 5 and 6", {{"A", "5"}, {"B", "6"}, {"M", "6"}}, "A/5|B/6|M/6|/|/"},
        {"last row never lowered", {{"A", "5"}, {"B", "6"}, {"C", "7"}, {"D", "8"}, {"E", "3"}}, "A/5|B/6|C/7|D/8|E/3"},
        {"B/0 below A/5", {{"A", "5"}, {"B", "0"}}, "A/-1|B/0|/|/|/"},
        {"non-numeric delays read as 0", {{"A", "abc"}, {"B", "x"}}, "A/-1|B/x|/|/|/"},
        {"one pass from the top", {{"A", "10"}, {"B", "20"}, {"C", "12"}, {"D", "11"}}, "A/10|B/11|C/12|D/11|/"},
        {"already increasing", {{"A", "1"}, {"B", "2.5"}, {"C", "&H10"}}, "A/1|B/2.5|C/&H10|/|/"},
        {"a delay beyond the range of a double is left alone",
         {{"A", "1e999"}, {"B", "5"}, {"C", "4"}},
         "A/1e999|B/3|C/4|/|/"},
    };
    for (const auto& c : cases) {
        FakeDesktop d;
        StartWith(d, c.file);
        d.focus(Delay(d, 0));
        d.focusElsewhere();
        EXPECT_EQ(d.rows(), c.after) << c.name;
        EXPECT_EQ(d.form().Ligne, 5) << c.name;
    }
}

TEST(RowRules, SweepSkipsAnEmptyDelayInTheMiddle) {
    FakeDesktop d;
    StartWith(d, {{"A", "10"}, {"B", "5"}, {"C", "3"}});
    d.edit(Path(d, 1), "");
    d.edit(Delay(d, 1), "");  // no path: nothing raises the row's delay above the previous row's
    EXPECT_EQ(d.rows(), "A/10|/|C/3|/|/");
    d.focusElsewhere();
    EXPECT_EQ(d.rows(), "A/10|/|C/3|/|/");
}

// The clearing sweep runs for every row, wherever the focus left a path box, and leaves Ligne at 5.
TEST(RowRules, ClearingSweepEmptiesDelaysOfRowsWithoutPath) {
    FakeDesktop d;
    StartWith(d, {{"A", "5"}});
    d.type(Path(d, 4), "P");  // climbs to row 1, leaving proposals in rows 2 to 4
    EXPECT_EQ(d.rows(), "A/5|P/6|/7|/8|/9");
    d.form().Ligne = -3;
    d.focus(Path(d, 0));  // leaving path box 4, now empty itself
    EXPECT_EQ(d.rows(), "A/5|P/6|/|/|/");
    EXPECT_EQ(d.form().Ligne, 5);
}

TEST(RowRules, ComputedDelaysUseTheLocaleSeparator) {
    Profile p;
    p.decimalSeparator = ",";
    FakeDesktop d(p);
    StartWith(d, {{"A", "2.5"}});
    d.type(Path(d, 1), "B");
    EXPECT_EQ(d.rows(), "A/2.5|B/3,5|/|/|/");
    // "3,5" reads back as 3, still above 2.5: the chain ends all the same.
    d.edit(Delay(d, 1), "1");
    EXPECT_EQ(d.rows(), "A/2.5|B/3,5|/|/|/");
}

// A delay whose number lies beyond the range of a double takes no part in any rule: nothing is computed from it
// and nothing overwrites it, and no error leaves the event.
TEST(RowRules, DelaysBeyondTheRangeOfADoubleAreLeftAlone) {
    const Scenario scenarios[] = {
        {"typed below a huge delay",
         {{"A", "1e999"}},
         {{"path", [](FakeDesktop& d) { d.type(Path(d, 1), "B"); }, "A/1e999|B/|/|/|/"},
          {"delay", [](FakeDesktop& d) { d.type(Delay(d, 1), "3"); }, "A/1e999|B/3|/|/|/"}}},
        {"typed as a huge delay",
         {{"A", "10"}, {"B", "20"}},
         {{"row 1", [](FakeDesktop& d) { d.edit(Delay(d, 1), "-1e999"); }, "A/10|B/-1e999|/|/|/"},
          {"row 0", [](FakeDesktop& d) { d.edit(Delay(d, 0), "50"); }, "A/50|B/-1e999|/|/|/"},
          {"sweep", [](FakeDesktop& d) { d.focusElsewhere(); }, "A/50|B/-1e999|/|/|/"}}},
        {"the largest double plus 1 is itself",
         {{"A", "1.7976931348623157e308"}},
         {{"path", [](FakeDesktop& d) { d.type(Path(d, 1), "B"); },
           "A/1.7976931348623157e308|B/1.7976931348623157E+308|/|/|/"},
          {"delay", [](FakeDesktop& d) { d.edit(Delay(d, 1), "7"); },
           "A/1.7976931348623157e308|B/1.7976931348623157E+308|/|/|/"}}},
    };
    for (const auto& s : scenarios) {
        RunScenario(s);
    }
}

// While the loader fills the boxes, the path rules act on each loaded path before its own delay arrives.
TEST(RowRules, WhileLoading) {
    struct Case {
        const char* name;
        Rows file;
        std::string loaded;
    };
    const Case cases[] = {
        {"one empty row closes", {{"A", "5"}, {"", ""}, {"M", "15"}, {"", ""}, {"", ""}}, "A/5|M/6|/|/|/"},
        {"two empty rows leave a proposal behind",
         {{"A", "5"}, {"", ""}, {"", ""}, {"M", "15"}, {"", ""}},
         "A/5|M/6|/7|/|/"},
        {"only row 4 filled", {{"", ""}, {"", ""}, {"", ""}, {"", ""}, {"Z", "40"}}, "Z/|/1|/2|/3|/"},
        {"delays out of order stay", {{"A", "30"}, {"B", "20"}, {"C", "20"}}, "A/30|B/20|C/20|/|/"},
    };
    for (const auto& c : cases) {
        FakeDesktop d;
        StartWith(d, c.file);
        EXPECT_EQ(d.rows(), c.loaded) << c.name;
        EXPECT_EQ(d.form().Chargement, 0) << c.name;
    }
}

}  // namespace
}  // namespace selvatro
