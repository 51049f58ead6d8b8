// Taking over what the desktop already starts at logon: what is offered, what is asked, and when an entry is given
// back, on the test platform.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "desktop/logon_entries.h"
#include "fake/fake_desktop.h"

namespace selvatro {
namespace {

using fake::FakeDesktop;
using platform::LogonEntry;
using State = LogonEntry::State;
using Strings = std::vector<std::string>;

const std::string kNotes = "/home/anne/.config/autostart/notes.desktop";
const std::string kTray = "/etc/xdg/autostart/tray.desktop";
const std::string kTrayCopy = "/home/anne/.config/autostart/tray.desktop";

// A desktop with two entries the desktop starts by itself: the user's "Notes" and the system's "Tray", which the
// user's copy of the same name also stands for.
struct Desk {
    explicit Desk(const std::string& language = "English") : d(Profile(language)) {
        auto& e = d.logonEntries;
        e.folders = {"/home/anne/.config/autostart", "/etc/xdg/autostart"};
        e.entries["notes.desktop"] = {"notes.desktop", "Notes", State::On};
        e.entries["tray.desktop"] = {"tray.desktop", "Tray", State::On};
        e.files = {{kNotes, "notes.desktop"}, {kTray, "tray.desktop"}, {kTrayCopy, "tray.desktop"}};
        for (const std::string& file : Strings{kNotes, kTray, "/usr/bin/vi"}) {
            d.files.files[file] = "";
        }
    }
    static fake::Profile Profile(const std::string& language) {
        fake::Profile p;
        p.language = language;
        return p;
    }
    void pick(int row, const std::string& file) {
        d.dialog.answers.emplace_back(file);
        d.clickPathBox(row);
    }
    State state(const std::string& id) { return d.logonEntries.entries.at(id).state; }
    FakeDesktop d;
};

TEST(TakeOver, ThePickerOffersTheEntriesAndAsksOnceForOneTheDesktopStillStarts) {
    struct Case {
        const char* what;
        std::string language;
        std::string chosen;
        std::optional<State> before;  // the entry's state before the choice; nothing: not an entry
        std::optional<bool> answer;   // nothing: not asked
        Strings switches;
    };
    const Case cases[] = {
        {"yes", "English", kNotes, State::On, true, {"off notes.desktop"}},
        {"no", "English", kNotes, State::On, false, {}},
        {"a system entry", "French", kTray, State::On, true, {"off tray.desktop"}},
        {"already Selvatro's", "English", kNotes, State::OffBySelvatro, std::nullopt, {}},
        {"switched off by the user", "English", kNotes, State::Off, std::nullopt, {}},
        {"no entry", "English", "/usr/bin/vi", std::nullopt, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        Desk k(c.language);
        k.d.start();
        if (c.before) {
            k.d.logonEntries.entries.at(k.d.logonEntries.files.at(c.chosen)).state = *c.before;
        }
        if (c.answer) {
            k.d.messages.answers.push_back(*c.answer);
        }
        k.pick(0, c.chosen);
        EXPECT_EQ(k.d.dialog.places(), k.d.logonEntries.folders) << c.what;
        EXPECT_EQ(k.d.text1[0]->text(), c.chosen) << c.what;  // the row names the entry whatever the answer
        EXPECT_EQ(k.d.logonEntries.switches, c.switches) << c.what;
        if (!c.answer) {
            EXPECT_TRUE(k.d.messages.asked.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(k.d.messages.asked.size(), 1u) << c.what;
        const std::string name = c.chosen == kTray ? "Tray" : "Notes";
        EXPECT_EQ(k.d.messages.asked[0],
                  c.language == "French"
                      ? name +
                            " démarre aussi tout seul à l'ouverture de session. Laisser Selvatro le démarrer à "
                            "la place ?"
                      : name + " also starts at logon on its own. Let Selvatro start it instead?")
            << c.what;
    }
}

TEST(TakeOver, ASwitchThatFailsIsToldAndChangesNothing) {
    Desk k;
    k.d.start();
    k.d.logonEntries.switchFailure = "Permission denied";
    k.pick(0, kNotes);
    EXPECT_EQ(k.d.text1[0]->text(), kNotes);
    EXPECT_EQ(k.state("notes.desktop"), State::On);
    ASSERT_EQ(k.d.messages.shown.size(), 1u);
    EXPECT_EQ(k.d.messages.shown[0].text,
              "Notes could not be switched off at logon:\nPermission denied\nIt still starts on its own.");
    EXPECT_EQ(k.d.messages.shown[0].style, platform::MessageStyle::Exclamation);
}

// An entry is given back when a saved list no longer names it, by any file that stands for it; never when the rows
// were not changed (a logon's end), never where the switch is no longer Selvatro's.
TEST(GiveBack, FollowsTheRowsThatNameTheEntries) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> list;
        int editedRow;  // the row emptied before the close; -1: none, and delay 3 of row 4 changed instead
        Strings switches;
    };
    const Case cases[] = {
        {"the row emptied", {{kNotes, "3"}, {kTray, "6"}}, 0, {"on notes.desktop"}},
        {"another row changed", {{kNotes, "3"}, {kTray, "6"}}, -1, {}},
        {"the system entry named by the user's copy", {{kTrayCopy, "3"}, {kNotes, "6"}}, 1, {"on notes.desktop"}},
    };
    for (const auto& c : cases) {
        Desk k;
        k.d.files.files[kTrayCopy] = "";
        k.d.logonEntries.entries.at("notes.desktop").state = State::OffBySelvatro;
        k.d.logonEntries.entries.at("tray.desktop").state = State::OffBySelvatro;
        k.d.writeList(c.list);
        k.d.start();
        k.d.restore();
        if (c.editedRow >= 0) {
            k.d.edit(*k.d.text1.at(static_cast<std::size_t>(c.editedRow)), "");
        } else {
            k.d.edit(*k.d.text2[3], "9");
        }
        k.d.close();
        EXPECT_EQ(k.d.logonEntries.switches, c.switches) << c.what;
    }

    Desk untouched;  // no row names "Tray", but the user changed nothing
    untouched.d.logonEntries.entries.at("tray.desktop").state = State::OffBySelvatro;
    untouched.d.writeList({{kNotes, "3"}});
    untouched.d.start();
    untouched.d.close();
    EXPECT_TRUE(untouched.d.logonEntries.switches.empty());
}

TEST(GiveBack, AFailureIsToldAtTheEndAndEveryOtherEntryStillGoesBack) {
    Desk k;
    k.d.logonEntries.entries.at("notes.desktop").state = State::OffBySelvatro;
    k.d.writeList({{kNotes, "3"}});
    k.d.start();
    k.d.restore();
    k.d.logonEntries.switchFailure = "Read-only file system";
    k.d.edit(*k.d.text1[0], "");
    k.d.close();
    ASSERT_EQ(k.d.messages.shown.size(), 1u);
    EXPECT_EQ(k.d.messages.shown[0].text, "Notes could not be switched on again at logon:\nRead-only file system");

    fake::FakeLogonEntries removal;
    removal.entries["a.desktop"] = {"a.desktop", "A", State::OffBySelvatro};
    removal.entries["b.desktop"] = {"b.desktop", "B", State::Off};
    EXPECT_TRUE(desktop::GiveBackAll(removal).empty());
    EXPECT_EQ(removal.switches, Strings{"on a.desktop"});
    removal.entries.at("a.desktop").state = State::OffBySelvatro;
    removal.switchFailure = "locked";
    EXPECT_EQ(desktop::GiveBackAll(removal), Strings{"A: locked"});
}

}  // namespace
}  // namespace selvatro
