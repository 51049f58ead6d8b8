// Random edit sessions on random lists: every chain of change events ends, nothing escapes an event, and every
// lost-focus sweep leaves no delay in a row without a path. The boxes here count the change events nested inside
// each assignment and stop a chain that runs away, so that a rule looping without end fails the test instead of
// overflowing the stack. The services are those of the test platform.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/form1.h"
#include "fake/fake_desktop.h"
#include "list/list.h"
#include "platform/errors.h"
#include "platform/text_rules.h"

namespace selvatro {
namespace {

// No chain of the rules goes deeper than a path climbing from row 4 to row 0 with its proposals, nor takes more
// than a few dozen events for one user action; these limits leave room and still stop a runaway at once.
constexpr int kMaxDepth = 16;
constexpr int kMaxEventsPerAction = 200;

struct RunawayChain {};

class Session;

class CountingBox final : public platform::TextBox {
public:
    CountingBox(Session& session, bool isPathBox, std::int16_t index)
        : session_(session), isPathBox_(isPathBox), index_(index) {}
    std::string text() const override { return text_; }
    void setText(const std::string& text) override;
    void setTip(const std::string& /*tip*/) override {}
    void setFocus() override;
    void setSelectionLength(int /*length*/) override {}

    bool isPathBox() const { return isPathBox_; }
    std::int16_t index() const { return index_; }

private:
    Session& session_;
    bool isPathBox_;
    std::int16_t index_;
    std::string text_;
};

class Session {
public:
    explicit Session(const fake::Profile& profile) : desktop(profile) {
        for (std::int16_t i = 0; i < 5; ++i) {
            paths[static_cast<std::size_t>(i)] = std::make_unique<CountingBox>(*this, true, i);
            delays[static_cast<std::size_t>(i)] = std::make_unique<CountingBox>(*this, false, i);
        }
        const platform::Controls controls{
            desktop.window,
            {paths[0].get(), paths[1].get(), paths[2].get(), paths[3].get(), paths[4].get()},
            {delays[0].get(), delays[1].get(), delays[2].get(), delays[3].get(), delays[4].get()},
            {&desktop.heading0, &desktop.heading1},
            desktop.timer,
            desktop.dialog};
        const platform::Services services{desktop.messages, desktop.facts,     desktop.programs, desktop.files,
                                          desktop.language, desktop.shortcuts, desktop.browser,  desktop.process};
        form = std::make_unique<Form1>(controls, services);
    }

    // The toolkit's rule: a different text raises the change event nested inside the assignment.
    void changed(const CountingBox& box) {
        if (depth_ >= kMaxDepth || ++eventsThisAction_ > kMaxEventsPerAction) {
            throw RunawayChain{};
        }
        ++depth_;
        maxDepth = std::max(maxDepth, depth_);
        maxEvents = std::max(maxEvents, eventsThisAction_);
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{depth_};
        if (box.isPathBox()) {
            form->Text1_Change(box.index());
        } else {
            form->Text2_Change(box.index());
        }
    }

    // The toolkit's rule: moving the focus raises the lost-focus event of the box that had it.
    void moveFocus(CountingBox* box) {
        if (depth_ > 0) {
            fault("the focus moved inside a change event");
        }
        if (box == focused) {
            return;
        }
        CountingBox* had = focused;
        focused = box;
        if (had == nullptr) {
            return;
        }
        if (had->isPathBox()) {
            form->Text1_LostFocus(had->index());
        } else {
            form->Text2_LostFocus(had->index());
        }
        ++sweeps;
        if (form->Ligne != 5) {
            fault("Ligne is " + std::to_string(form->Ligne) + " after a sweep");
        }
        for (std::size_t i = 0; i < 5; ++i) {
            if (paths[i]->text().empty() && !delays[i]->text().empty()) {
                fault("row " + std::to_string(i) + " has a delay but no path after a sweep");
            }
        }
    }

    // One user action, with the event budget counted afresh.
    template <typename Action>
    void act(Action action) {
        eventsThisAction_ = 0;
        action();
    }

    void fault(const std::string& what) { faults.push_back(what + " [" + rows() + "]"); }

    std::string rows() const {
        std::string all;
        for (std::size_t i = 0; i < 5; ++i) {
            all += (i == 0 ? "" : "|") + paths[i]->text() + "/" + delays[i]->text();
        }
        return all;
    }

    fake::FakeDesktop desktop;  // its own boxes stay unused; its services serve the form below
    std::array<std::unique_ptr<CountingBox>, 5> paths;
    std::array<std::unique_ptr<CountingBox>, 5> delays;
    std::unique_ptr<Form1> form;
    CountingBox* focused = nullptr;
    std::vector<std::string> faults;
    int maxDepth = 0;
    int maxEvents = 0;
    int sweeps = 0;

private:
    int depth_ = 0;
    int eventsThisAction_ = 0;
};

void CountingBox::setText(const std::string& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    session_.changed(*this);
}

void CountingBox::setFocus() {
    session_.moveFocus(this);
}

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
    if (s.paths[row]->text().empty()) {
        return;
    }
    if (row == 0) {
        if (s.delays[1]->text().empty()) {
            return;
        }
        const auto own = Ordinary(s.delays[0]->text());
        const auto next = Ordinary(s.delays[1]->text());
        if (own && next && *own > *next) {
            s.fault("row 0's delay stays above row 1's");
        }
        return;
    }
    const auto own = Ordinary(s.delays[row]->text());
    const auto previous = Ordinary(s.delays[row - 1]->text());
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
void UserEdit(Session& s, CountingBox& box, const std::string& text) {
    const bool raisesChange = text != box.text();
    s.act([&] { box.setText(text); });
    if (!raisesChange) {
        return;
    }
    const auto row = static_cast<std::size_t>(box.index());
    if (!box.isPathBox()) {
        CheckDelayRule(s, row);
    } else if (row > 0 && s.paths[row - 1]->text().empty() && !box.text().empty()) {
        s.fault("path " + std::to_string(row) + " did not move up into the empty row above");
    }
}

// Runs one random action; `log`, when given, receives its description.
void RandomAction(Session& s, Dice& dice, std::ostream* log) {
    const int row = dice.below(5);
    const auto at = static_cast<std::size_t>(row);
    const bool pathBox = dice.chance(40);
    CountingBox& box = pathBox ? *s.paths[at] : *s.delays[at];
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
        s.act([&] { box.setFocus(); });
        for (const auto& key : keys) {
            UserEdit(s, box, box.text() + key);
        }
    } else if (kind == 2) {
        const bool all = dice.chance(50);
        Note(log) << (all ? "delete all of " : "backspace in ") << boxName << "\n";
        s.act([&] { box.setFocus(); });
        UserEdit(s, box, all ? std::string() : DropLastCharacter(box.text()));
    } else if (kind == 3) {
        const std::string pasted = pathBox ? dice.pick(kPaths) : dice.pick(kDelays);
        Note(log) << "paste '" << pasted << "' into " << boxName << "\n";
        s.act([&] { box.setFocus(); });
        UserEdit(s, box, pasted);
    } else if (kind == 4) {
        std::optional<std::string> answer;
        const int choice = dice.below(5);
        if (choice == 1) {
            answer = dice.pick(kPaths);
        } else if (choice == 2) {
            answer = s.paths[at]->text();
        } else if (choice == 3) {
            answer = "/usr/local/bin/Selvatro";
        } else if (choice == 4) {
            answer = "/bin/p" + std::to_string(dice.below(100));
        }
        s.desktop.dialog.failToShow = dice.chance(5);
        Note(log) << "pick '" << answer.value_or("(cancel)") << "' for path " << row << "\n";
        s.desktop.dialog.answers.assign(1, answer);
        s.act([&] { s.paths[at]->setFocus(); });
        s.act([&] { s.form->Text1_Click(static_cast<std::int16_t>(row)); });
    } else {
        const bool out = dice.chance(20);
        Note(log) << "focus " << (out ? std::string("elsewhere") : boxName) << "\n";
        s.act([&] { s.moveFocus(out ? nullptr : &box); });
    }
}

fake::Profile RandomProfile(Dice& dice) {
    fake::Profile p;
    if (dice.chance(50)) {
        p.separator = '\\';
        p.folder = "C:\\Outils";
    }
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
    s.desktop.writeList(file);
    Note(log) << "separator " << s.desktop.profile().separator << ", decimal separator "
              << s.desktop.profile().decimalSeparator << "\nload";
    for (const auto& [path, delay] : file) {
        Note(log) << " " << path << "/" << delay;
    }
    Note(log) << "\n";
    const auto showRows = [&] {
        if (log != nullptr) {
            *log << "  -> " << s.rows() << "\n";
        }
    };
    try {
        s.act([&] { list::Charger_Liste(*s.form); });
        showRows();
        for (int a = 0; a < kActionsPerSession && s.faults.empty(); ++a) {
            RandomAction(s, dice, log);
            showRows();
        }
    } catch (const RunawayChain&) {
        s.fault("a chain of change events did not end");
    }
    return {s.faults, s.maxDepth, s.maxEvents, s.sweeps};
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
