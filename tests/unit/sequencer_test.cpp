// The run gate and the tick, driven on the test platform with a clock that only the test advances.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fake/fake_desktop.h"
#include "platform/errors.h"

namespace selvatro {
namespace {

using fake::FakeDesktop;
using platform::WindowState;
using Rows = std::vector<std::pair<std::string, std::string>>;
using Paths = std::vector<std::string>;

// The list file as the program saves `rows`, padded to five records.
std::string Saved(Rows rows) {
    rows.resize(5);
    std::string file;
    for (const auto& [path, delay] : rows) {
        file += "\"" + path + "\",\"" + delay + "\"\r\n";
    }
    return file;
}

// A desktop whose list is `rows`, every named program existing, started and minimised.
struct Logon {
    explicit Logon(const Rows& rows, fake::Profile profile = fake::Profile()) : d(std::move(profile)) {
        d.writeList(rows);
        for (const auto& [path, delay] : rows) {
            if (!path.empty()) {
                d.files.files[path] = "#!/bin/sh\n";
            }
        }
        d.start();
    }
    // The count at which each program was started, in order.
    std::vector<std::pair<std::string, long>> starts() const {
        std::vector<std::pair<std::string, long>> s;
        for (const auto& p : d.programs.started) {
            s.emplace_back(p.path, static_cast<long>(p.atMs / 1000));
        }
        return s;
    }
    // Advances second by second until the process ends, at most `limit` seconds; the count it ended at.
    long runToEnd(long limit = 100) {
        for (long s = 0; s < limit && !d.ended(); ++s) {
            d.advance(1000);
        }
        return d.form().Secondes;
    }
    FakeDesktop d;
};

TEST(Sequencer, TypicalLogonStartsEachProgramAtItsSecondThenSavesAndEnds) {
    Logon l(Rows{{"/bin/a", "5"}, {"/bin/b", "10"}, {"/bin/c", "20"}, {"", ""}, {"", ""}});
    const std::string before = l.d.files.files.at(l.d.listFile());
    EXPECT_EQ(l.runToEnd(), 21);
    EXPECT_TRUE(l.d.ended());
    EXPECT_EQ(l.starts(), (std::vector<std::pair<std::string, long>>{{"/bin/a", 5}, {"/bin/b", 10}, {"/bin/c", 20}}));
    const auto& captions = l.d.window.captions();
    ASSERT_GE(captions.size(), 21u);
    for (std::size_t k = 1; k <= 21; ++k) {
        EXPECT_EQ(captions[captions.size() - 22 + k], std::to_string(k) + " sec.");
    }
    EXPECT_EQ(l.d.files.files.at(l.d.listFile()), before);
    EXPECT_TRUE(l.d.messages.shown.empty());
    EXPECT_EQ(l.d.process.exitStatus, 0);
    EXPECT_TRUE(l.d.process.reported.empty());
}

struct EndCase {
    const char* what;
    Rows rows;
    std::vector<std::pair<std::string, long>> starts;
    long endsAt;  // 0: the run halts instead of ending
};

TEST(Sequencer, StartsRowsWhenTheCountEqualsTheirDelay) {
    const EndCase cases[] = {
        {"equal delays start in row order", {{"/a", "3"}, {"/b", "3"}}, {{"/a", 3}, {"/b", 3}}, 4},
        {"delays that do not increase: the last row decides the end", {{"/a", "10"}, {"/b", "5"}}, {{"/b", 5}}, 6},
        {"an empty delay is skipped and does not count as last",
         {{"/a", "2"}, {"/b", "4"}, {"/c", ""}},
         {{"/a", 2}, {"/b", 4}},
         5},
        {"zero and negative delays never start",
         {{"/a", "3"}, {"/b", "0"}, {"/c", "-4"}, {"/d", "3"}},
         {{"/a", 3}, {"/d", 3}},
         4},
        {"a delay with trailing letters reads its number", {{"/a", "2"}, {"/b", "7x"}}, {{"/a", 2}, {"/b", 7}}, 8},
        {"letters alone read as 0", {{"/a", "2"}, {"/b", "abc"}, {"/c", "3"}}, {{"/a", 2}, {"/c", 3}}, 4},
        {"2.5 never starts and, last, ends at 3", {{"/a", "2"}, {"/b", "2.5"}}, {{"/a", 2}}, 3},
        {"3.5 rounds to 4 for the end", {{"/a", "2"}, {"/b", "3.5"}}, {{"/a", 2}}, 5},
        {"blanks inside a delay are dropped", {{"/a", "1 2"}}, {{"/a", 12}}, 13},
        {"row 0's delay below 2 halts after the first tick", {{"/a", "1"}, {"/b", "3"}}, {{"/a", 1}}, 0},
        {"row 0's delay 1.5 halts", {{"/a", "1.5"}, {"/b", "3"}}, {}, 0},
        {"row 0's delay empty halts", {{"/a", ""}, {"/b", "1"}}, {{"/b", 1}}, 0},
        {"row 0's delay 0 halts", {{"/a", "0"}}, {}, 0},
        {"row 0's delay not a number halts", {{"/a", "soon"}}, {}, 0},
    };
    for (const auto& c : cases) {
        Logon l(c.rows);
        const long endedAt = l.runToEnd(60);
        EXPECT_EQ(l.starts(), c.starts) << c.what;
        if (c.endsAt == 0) {
            EXPECT_FALSE(l.d.ended()) << c.what;
            EXPECT_EQ(endedAt, 1) << c.what;
            EXPECT_FALSE(l.d.timer.isEnabled()) << c.what;
            EXPECT_EQ(l.d.window.caption(), "1 sec.") << c.what;
            EXPECT_EQ(l.d.window.windowState(), WindowState::Minimised) << c.what;
        } else {
            EXPECT_TRUE(l.d.ended()) << c.what;
            EXPECT_EQ(endedAt, c.endsAt) << c.what;
        }
    }
}

TEST(Sequencer, AHaltedRunGivesOneTickForEachRestoreAndMinimise) {
    Logon l(Rows{{"/a", "1"}, {"/b", "2"}, {"/c", "3"}});
    l.d.advance(5000);
    EXPECT_EQ(l.d.form().Secondes, 1);
    for (long count = 2; count <= 3; ++count) {
        l.d.restore();
        EXPECT_EQ(l.d.window.caption(), "Selvatro desabled");
        l.d.minimise();
        l.d.advance(10'000);
        EXPECT_EQ(l.d.form().Secondes, count);
    }
    EXPECT_EQ(l.starts(), (std::vector<std::pair<std::string, long>>{{"/a", 1}, {"/b", 6}, {"/c", 16}}));
    EXPECT_FALSE(l.d.ended());
}

TEST(Sequencer, PausingStopsTheCountAndResumingGoesOnFromIt) {
    Logon l(Rows{{"/a", "5"}, {"/b", "8"}, {"/c", "30"}, {"/d", "40"}});
    l.d.advance(7000);
    EXPECT_EQ(l.d.window.caption(), "7 sec.");
    l.d.restore();
    EXPECT_EQ(l.d.window.caption(), "Selvatro desabled");
    EXPECT_FALSE(l.d.timer.isEnabled());
    l.d.edit(*l.d.text2[2], "9");  // a delay changed while paused takes effect at once
    l.d.advance(60'000);
    EXPECT_EQ(l.d.form().Secondes, 7);
    l.d.minimise();
    l.d.advance(999);
    EXPECT_EQ(l.d.window.caption(), "Selvatro desabled");
    l.d.advance(1);
    EXPECT_EQ(l.d.window.caption(), "8 sec.");
    EXPECT_EQ(l.d.programs.started.back().path, "/b");
    EXPECT_EQ(l.d.programs.started.back().atMs, 68'000);
    l.d.advance(1000);
    EXPECT_EQ(l.d.programs.started.back().path, "/c");
}

TEST(Sequencer, FrenchDisabledCaption) {
    fake::Profile french;
    french.language = "French";
    FakeDesktop d(french);
    d.start();
    EXPECT_EQ(d.window.caption(), "Selvatro désactivé");
}

TEST(MissingProgram, StopsTheRunWithTheExactMessageAndEndsAtTheNextTick) {
    for (const bool french : {false, true}) {
        fake::Profile p;
        p.language = french ? "French" : "English";
        Logon l(Rows{{"/a", "2"}, {"/b", "3"}, {"/c", "3"}, {"/d", "3"}}, p);
        l.d.files.files.erase("/c");
        l.d.text1[2]->placeCaret(0);
        l.d.advance(3000);
        EXPECT_EQ(l.starts(), (std::vector<std::pair<std::string, long>>{{"/a", 2}, {"/b", 3}}));
        ASSERT_EQ(l.d.messages.shown.size(), 1u);
        const auto& m = l.d.messages.shown[0];
        EXPECT_EQ(m.text, french ? "[/c]\n\nCe fichier est introuvable\nPeut-être avez-vous déplacé ou effacé ce "
                                   "fichier..."
                                 : "[/c]\n\nCan not find this file\nPerhaps you have moved or erased this file...");
        EXPECT_EQ(m.title, "Selvatro");
        EXPECT_EQ(m.style, platform::MessageStyle::Plain);
        EXPECT_EQ(l.d.window.windowState(), WindowState::Normal);
        EXPECT_EQ(l.d.window.caption(), french ? "Selvatro désactivé" : "Selvatro desabled");
        EXPECT_FALSE(l.d.timer.isEnabled());
        EXPECT_EQ(l.d.focused(), l.d.text1[2].get());
        EXPECT_EQ(l.d.text1[2]->selectionLength(), 2);
        EXPECT_EQ(l.d.form().Arret_Demande, 1);

        // The user corrects the path and minimises: the next tick saves the corrected list, starts nothing.
        l.d.text1[2]->setText("/b");
        l.d.minimise();
        l.d.advance(1000);
        EXPECT_TRUE(l.d.ended());
        EXPECT_EQ(l.d.form().Secondes, 3);
        EXPECT_EQ(l.d.programs.started.size(), 2u);
        // The new path raised its row's delay above the row before it, as editing does.
        EXPECT_EQ(l.d.files.files.at(l.d.listFile()), Saved({{"/a", "2"}, {"/b", "3"}, {"/b", "4"}, {"/d", "3"}}));
    }
}

TEST(MissingProgram, CoversPathsWithArgumentsFoldersAndEmptyPaths) {
    fake::Profile windows;
    windows.separator = '\\';
    windows.folder = "C:\\Outils";
    Logon withArguments(Rows{{"C:\\x.exe", "2"}, {"C:\\x.exe -q", "3"}}, windows);
    withArguments.d.files.files.erase("C:\\x.exe -q");
    withArguments.d.advance(3000);
    EXPECT_EQ(withArguments.d.messages.shown.at(0).text,
              "[C:\\x.exe -q]\n\nCan not find this file\nPerhaps you have moved or erased this file...");

    Logon folder(Rows{{"/a", "2"}, {"/opt", "2"}});
    folder.d.files.folders.insert("/opt");
    folder.d.advance(2000);
    EXPECT_EQ(folder.d.messages.shown.size(), 1u);

    // A delay typed into a row without a path, and the window minimised before any sweep cleared it.
    Logon empty(Rows{{"/a", "5"}});
    empty.d.restore();
    empty.d.text2[1]->setText("2");
    empty.d.minimise();
    empty.d.advance(2000);
    ASSERT_EQ(empty.d.messages.shown.size(), 1u);
    EXPECT_EQ(empty.d.messages.shown[0].text.substr(0, 4), "[]\n\n");
}

TEST(MissingProgram, TicksDueWhileTheMessageIsOpenAreDropped) {
    Logon l(Rows{{"/a", "2"}, {"/b", "3"}, {"/c", "4"}});
    l.d.files.files.erase("/a");
    l.d.messages.whileOpen = [&] { l.d.advance(5000); };
    l.d.advance(2000);
    EXPECT_EQ(l.d.form().Secondes, 2);
    EXPECT_TRUE(l.d.programs.started.empty());
    EXPECT_FALSE(l.d.ended());
    EXPECT_FALSE(l.d.timer.isEnabled());
    // Minimised and restored again before the next tick: still stopped.
    l.d.messages.whileOpen = nullptr;
    l.d.minimise();
    l.d.restore();
    l.d.advance(5000);
    EXPECT_FALSE(l.d.ended());
}

TEST(ErrorPath, SavesAndEndsWithoutAMessageButWithAFailureAndItsReason) {
    struct Case {
        const char* what;
        Rows rows;
        Paths started;
        long endsAt;
        const char* line;  // what the session's journal gets
    };
    const Case cases[] = {
        {"a delay outside 16 bits",
         {{"/a", "1"}, {"/b", "40000"}, {"/c", "1"}},
         {"/a"},
         1,
         "row 2 (\"/b\", delay \"40000\") stopped the run: number outside -32768..32767"},
        {"a delay below 16 bits", {{"/a", "3"}, {"/b", "-32769"}}, {}, 1, "row 2 (\"/b\", delay \"-32769\")"},
        {"a delay beyond a double", {{"/a", "3"}, {"/b", "1E999"}}, {}, 1, "row 2 (\"/b\", delay \"1E999\")"},
        {"a program that cannot start",
         {{"/a", "2"}, {"/broken", "2"}, {"/c", "2"}},
         {"/a"},
         2,
         "row 2 (\"/broken\", delay \"2\") stopped the run: "},
    };
    for (const auto& c : cases) {
        Logon l(c.rows);
        l.d.programs.failing.insert("/broken");
        EXPECT_EQ(l.runToEnd(), c.endsAt) << c.what;
        EXPECT_TRUE(l.d.ended()) << c.what;
        EXPECT_EQ(l.d.programs.startedPaths(), c.started) << c.what;
        EXPECT_TRUE(l.d.messages.shown.empty()) << c.what;
        EXPECT_EQ(l.d.files.files.at(l.d.listFile()), Saved(c.rows)) << c.what;
        EXPECT_EQ(l.d.process.exitStatus, 1) << c.what;
        ASSERT_EQ(l.d.process.reported.size(), 1u) << c.what;
        EXPECT_EQ(l.d.process.reported[0].rfind(c.line, 0), 0u) << c.what << ": " << l.d.process.reported[0];
    }
}

TEST(ErrorPath, TheCountEndsAt32767) {
    Logon l(Rows{{"/a", "2"}, {"/b", "32767"}});
    l.d.advance(32'766'000);
    EXPECT_EQ(l.d.programs.started.size(), 1u);
    EXPECT_FALSE(l.d.ended());
    l.d.advance(1000);
    EXPECT_EQ(l.d.programs.startedPaths(), (Paths{"/a", "/b"}));
    EXPECT_FALSE(l.d.ended());
    l.d.advance(1000);  // the count would pass 32767: the error path saves and ends
    EXPECT_TRUE(l.d.ended());
    EXPECT_EQ(l.d.form().Secondes, 32767);
    EXPECT_EQ(l.d.window.caption(), "32767 sec.");
    EXPECT_EQ(l.d.process.exitStatus, 1);
    EXPECT_EQ(l.d.process.reported, (std::vector<std::string>{"the run stopped: count past 32767"}));
}

TEST(ErrorPath, AnErrorInsideItsOwnQuitterIsNotCaughtAgain) {
    Logon l(Rows{{"/a", "2"}, {"/b", "3"}});
    l.d.files.writeFailure = "read-only file system";
    int shown = 0;
    l.d.messages.whileOpen = [&] {
        ++shown;
        throw platform::ControlError("the message box failed");
    };
    // The tick at 4 ends through Quitter; its failure takes the error path once, whose own failure escapes the
    // tick: unhandled, it ends the process with status 1.
    l.d.advance(3000);
    l.d.advance(1000);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(l.d.unhandled(), (std::vector<std::string>{"the message box failed"}));
    EXPECT_TRUE(l.d.ended());
    EXPECT_EQ(l.d.process.exitStatus, 1);
}

// Each start is announced one tick ahead, and again when the count resumes after a pause, so that the desktop can
// set the program up before its instant.
TEST(Sequencer, AnnouncesEachStartOneTickAhead) {
    Logon l(Rows{{"/a", "2"}, {"/b", "3"}, {"/c", "5"}});
    l.d.advance(2500);
    l.d.restore();
    l.d.advance(2500);
    l.d.minimise();
    l.runToEnd();
    std::vector<std::pair<std::string, std::int64_t>> announced;
    for (const auto& p : l.d.programs.prepared) {
        announced.emplace_back(p.path, p.atMs);
    }
    EXPECT_EQ(announced, (std::vector<std::pair<std::string, std::int64_t>>{
                             {"/a", 1000}, {"/b", 2000}, {"/b", 5000}, {"/c", 7000}}));
    EXPECT_EQ(l.d.programs.startedPaths(), (Paths{"/a", "/b", "/c"}));
}

// The record that users read after a logon: one line per event, each start with how late it was.
TEST(Record, TellsEachStartItsLatenessAMissingProgramAFailureAndTheEnd) {
    struct Case {
        const char* what;
        Rows rows;
        Paths lines;  // after the first, which names the list
    };
    const std::string list = "/home/anne/selvatro/selvatro.cfg";
    const Case cases[] = {
        {"a logon, paused for 7.5 s after the second second",
         {{"/a", "2"}, {"/b", "4"}},
         {"row 1 started: \"/a\", process 1, 0.000 s late", "row 2 started: \"/b\", process 2, 0.000 s late",
          "the list was saved: " + list, "the run ended with status 0"}},
        {"a shortcut whose program was uninstalled",
         {{"/a", "2"}, {"/gone.desktop", "3"}},
         {"row 1 started: \"/a\", process 1, 0.000 s late",
          "row 2 missing: [/gone.desktop] Can not find this file Perhaps you have moved or erased this file...",
          "the list was saved: " + list, "the run ended with status 0"}},
        {"a program that cannot start",
         {{"/broken", "2"}},
         {"row 1 (\"/broken\", delay \"2\") stopped the run: cannot start /broken", "the list was saved: " + list,
          "the run ended with status 1"}},
    };
    for (const auto& c : cases) {
        Logon l(c.rows);
        l.d.programs.withdrawn.insert("/gone.desktop");
        l.d.programs.failing.insert("/broken");
        l.d.advance(2500);
        l.d.restore();
        l.d.advance(7500);  // the count pauses: the next start is no later for it
        l.d.minimise();
        l.runToEnd(20);
        if (!l.d.ended()) {
            l.d.minimise();  // after the missing-program message, the user minimises again
            l.runToEnd();
        }
        ASSERT_FALSE(l.d.process.recorded.empty()) << c.what;
        EXPECT_EQ(l.d.process.recorded[0], "the run began with the list " + list) << c.what;
        EXPECT_EQ(Paths(l.d.process.recorded.begin() + 1, l.d.process.recorded.end()), c.lines) << c.what;
    }
}

TEST(Record, SaysWhenTheListCouldNotBeSavedOrWasLeftAsItIs) {
    Logon saved(Rows{{"/a", "3"}});
    saved.d.files.writeFailure = "disk full";
    saved.d.edit(*saved.d.text2[0], "2");
    saved.runToEnd();
    EXPECT_EQ(saved.d.process.recorded.at(saved.d.process.recorded.size() - 2),
              "the list could not be saved: /home/anne/selvatro/selvatro.cfg: disk full");

    Logon edited(Rows{{"/a", "3"}});
    edited.d.writeList({{"/b", "3"}});  // a hand edit while the count runs
    edited.runToEnd();
    EXPECT_EQ(edited.d.process.recorded.at(edited.d.process.recorded.size() - 2),
              "the list was left as it is: /home/anne/selvatro/selvatro.cfg (it changed since it was read)");
}

}  // namespace
}  // namespace selvatro
