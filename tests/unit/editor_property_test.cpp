// Random edit sessions on random lists: every chain of change events ends, nothing escapes an event, and every
// lost-focus sweep leaves no delay in a row without a path. The test platform counts the change events nested
// inside each assignment and stops a chain that runs away, so that a rule looping without end fails the test
// instead of overflowing the stack.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fake/fake_desktop.h"
#include "platform/errors.h"
#include "platform/text_rules.h"

namespace selvatro {
namespace {

using fake::FakeTextBox;

// A desktop whose every sweep is checked, with the faults found so far.
struct Session {
    explicit Session(const fake::Profile& profile) : d(profile) {
        d.afterSweep = [this] {
            if (d.form().Ligne != 5) {
                fault("Ligne is " + std::to_string(d.form().Ligne) + " after a sweep");
            }
            for (int i = 0; i < 5; ++i) {
                if (d.text1[static_cast<std::size_t>(i)]->text().empty() &&
                    !d.text2[static_cast<std::size_t>(i)]->text().empty()) {
                    fault("row " + std::to_string(i) + " has a delay but no path after a sweep");
                }
            }
        };
    }
    void fault(const std::string& what) { faults.push_back(what + " [" + d.rows() + "]"); }

    fake::FakeDesktop d;
    std::vector<std::string> faults;
};

// ---- random material ----

const std::vector<std::string> kPaths = {"A",   "notepad",      " ", "/usr/bin/vi", "C:\\Outils\\x.exe",
                                         "zoé", "/opt/selvatro"};
const std::vector<std::string> kDelays = {"",     "0",   "1",     "5",      "10",   "-3",
                                          "2.5",  "x",   "abc",   " 7 ",    "&H10", "&O7",
                                          "1e3",  "1D2", "1e999", "-1e999", "1e15", "1.7976931348623157e308",
                                          "-0.5", "20",  "9",     "4"};
// One key each; "é" is two bytes but one character.
const std::vector<std::string> kDelayKeys = {"0", "1", "2", "5", "9", "-", ".", "e", "E", " ", "x", "&", "H"};
const std::vector<std::string> kPathKeys = {"a", "b", "/", "\\", " ", ".", "é"};

class Dice {
public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(engine_); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T>
    const T& pick(const std::vector<T>& from) {
        return from[static_cast<std::size_t>(below(static_cast<int>(from.size())))];
    }

private:
    std::mt19937 engine_;
};

std::string DropLastCharacter(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && (static_cast<unsigned char>(text[end - 1]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end == 0 ? 0 : end - 1);
}

// The value of a delay text when it is an ordinary number, small enough that adding 1 changes it.
std::optional<double> Ordinary(const std::string& text) {
    try {
        const double v = platform::Val(text);
        return std::fabs(v) < 1e15 ? std::optional<double>(v) : std::nullopt;
    } catch (const platform::OverflowError&) {
        return std::nullopt;
    }
}

// After a user's edit of delay box `row` of a row with a path, its own rule has just run: the delay stands
// above the previous row's (rows 1 to 4), or row 0's is not above row 1's.
void CheckDelayRule(Session& s, std::size_t row) {
    if (s.d.text1[row]->text().empty()) {
        return;
    }
    if (row == 0) {
        if (s.d.text2[1]->text().empty()) {
            return;
        }
        const auto own = Ordinary(s.d.text2[0]->text());
        const auto next = Ordinary(s.d.text2[1]->text());
        if (own && next && *own > *next) {
            s.fault("row 0's delay stays above row 1's");
        }
        return;
    }
    const auto own = Ordinary(s.d.text2[row]->text());
    const auto previous = Ordinary(s.d.text2[row - 1]->text());
    if (own && previous && *own <= *previous) {
        s.fault("row " + std::to_string(row) + "'s delay is not above the previous row's");
    }
}

// Where a session's story goes: the given log, or nowhere when the session is run quietly.
std::ostream& Note(std::ostream* log) {
    static std::ostream nowhere(nullptr);
    return log != nullptr ? *log : nowhere;
}

// One edit by the user. When it changes the text, the box's own rule runs; check what that rule promises.
void UserEdit(Session& s, FakeTextBox& box, const std::string& text) {
    const bool raisesChange = text != box.text();
    s.d.edit(box, text);
    if (!raisesChange) {
        return;
    }
    const auto row = static_cast<std::size_t>(box.index());
    if (!box.isPathBox()) {
        CheckDelayRule(s, row);
    } else if (row > 0 && s.d.text1[row - 1]->text().empty() && !box.text().empty()) {
        s.fault("path " + std::to_string(row) + " did not move up into the empty row above");
    }
}

// Runs one random action; `log`, when given, receives its description.
void RandomAction(Session& s, Dice& dice, std::ostream* log) {
    const int row = dice.below(5);
    const auto at = static_cast<std::size_t>(row);
    const bool pathBox = dice.chance(40);
    FakeTextBox& box = pathBox ? *s.d.text1[at] : *s.d.text2[at];
    const std::string boxName = std::string(pathBox ? "path " : "delay ") + std::to_string(row);
    const int kind = dice.below(6);
    if (kind == 0 || kind == 1) {
        std::vector<std::string> keys(static_cast<std::size_t>(1 + dice.below(3)));
        for (auto& key : keys) {
            key = dice.pick(pathBox ? kPathKeys : kDelayKeys);
        }
        Note(log) << "type " << keys.size() << " keys into " << boxName << ":";
        for (const auto& key : keys) {
            Note(log) << " '" << key << "'";
        }
        Note(log) << "\n";
        for (const auto& key : keys) {
            UserEdit(s, box, box.text() + key);
        }
    } else if (kind == 2) {
        const bool all = dice.chance(50);
        Note(log) << (all ? "delete all of " : "backspace in ") << boxName << "\n";
        UserEdit(s, box, all ? std::string() : DropLastCharacter(box.text()));
    } else if (kind == 3) {
        const std::string pasted = pathBox ? dice.pick(kPaths) : dice.pick(kDelays);
        Note(log) << "paste '" << pasted << "' into " << boxName << "\n";
        UserEdit(s, box, pasted);
    } else if (kind == 4) {
        std::optional<std::string> answer;
        const int choice = dice.below(5);
        if (choice == 1) {
            answer = dice.pick(kPaths);
        } else if (choice == 2) {
            answer = s.d.text1[at]->text();
        } else if (choice == 3) {
            answer = "/usr/local/bin/Selvatro";
        } else if (choice == 4) {
            answer = "/bin/p" + std::to_string(dice.below(100));
        }
        s.d.dialog.failToShow = dice.chance(5);
        Note(log) << "pick '" << answer.value_or("(cancel)") << "' for path " << row << "\n";
        s.d.dialog.answers.assign(1, answer);
        s.d.clickPathBox(row);
    } else {
        const bool out = dice.chance(20);
        Note(log) << "focus " << (out ? std::string("elsewhere") : boxName) << "\n";
        if (out) {
            s.d.focusElsewhere();
        } else {
            s.d.focus(box);
        }
    }
}

fake::Profile RandomProfile(Dice& dice) {
    fake::Profile p = dice.chance(50) ? fake::Profile::Windows() : fake::Profile();
    p.decimalSeparator = dice.chance(30) ? "," : ".";
    return p;
}

struct Outcome {
    std::vector<std::string> faults;
    int deepest = 0;
    int busiest = 0;
    int sweeps = 0;
};

// One seeded session: a random list file loaded as at start (the path rules run, the delay rules wait), then
// random user actions until the first fault.
Outcome RunSession(std::uint32_t seed, std::ostream* log) {
    constexpr int kActionsPerSession = 30;
    Dice dice(seed);
    Session s(RandomProfile(dice));
    std::vector<std::pair<std::string, std::string>> file;
    for (int i = 0; i < 5; ++i) {
        file.emplace_back(dice.chance(35) ? std::string() : dice.pick(kPaths), dice.pick(kDelays));
    }
    s.d.writeList(file);
    Note(log) << "separator " << s.d.profile().separator << ", decimal separator " << s.d.profile().decimalSeparator
              << "\nload";
    for (const auto& [path, delay] : file) {
        Note(log) << " " << path << "/" << delay;
    }
    Note(log) << "\n";
    const auto showRows = [&] {
        if (log != nullptr) {
            *log << "  -> " << s.d.rows() << "\n";
        }
    };
    try {
        s.d.start();  // the list loads as at start: the path rules run, the delay rules wait
        showRows();
        for (int a = 0; a < kActionsPerSession && s.faults.empty(); ++a) {
            RandomAction(s, dice, log);
            showRows();
            if (s.d.focusMovesInChanges > 0) {
                s.fault("the focus moved inside a change event");
            }
        }
    } catch (const fake::RunawayChain&) {
        s.fault("a chain of change events did not end");
    }
    return {s.faults, s.d.deepestChain, s.d.busiestCall, s.d.sweeps};
}

TEST(RowRulesProperty, RandomEditSessionsEndAndSweepsLeaveNoOrphanDelays) {
    constexpr std::uint32_t kFirstSeed = 20240601;
    constexpr int kSessions = 2000;
    int deepest = 0;
    int busiest = 0;
    long sweeps = 0;
    for (int n = 0; n < kSessions; ++n) {
        const std::uint32_t seed = kFirstSeed + static_cast<std::uint32_t>(n);
        const Outcome outcome = RunSession(seed, nullptr);
        if (!outcome.faults.empty()) {
            std::ostringstream story;
            RunSession(seed, &story);  // the same seed again, told step by step
            ADD_FAILURE() << "seed " << seed << ": " << outcome.faults.front() << "\n" << story.str();
            return;
        }
        deepest = std::max(deepest, outcome.deepest);
        busiest = std::max(busiest, outcome.busiest);
        sweeps += outcome.sweeps;
    }
    // The material reaches the long chains: a path climbing from the bottom row nests five path changes.
    EXPECT_GE(deepest, 6);
    EXPECT_GT(sweeps, kSessions);
    RecordProperty("deepest_chain", deepest);
    RecordProperty("most_events_per_action", busiest);
}

}  // namespace
}  // namespace selvatro
