// The file operations of the list's save and load failing on every road through the program: the old list stays
// whole and loads again at the next start, the user is told where a message can be shown, nothing more is started
// behind that message, and the process ends or goes on as it should. A failed save on closing a paused window, an
// unreadable or short list, a shortcut that could not be made and a temporary page file that could not be written
// are tested beside the behaviour they belong to, and not again here. Last, a hostile text that the list file
// cannot hold whole.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake/fake_desktop.h"

namespace selvatro {
namespace {

using fake::FakeDesktop;
using platform::WindowState;
using Rows = std::vector<std::pair<std::string, std::string>>;
using Paths = std::vector<std::string>;

// The messages that report a failed save of the list file.
int SaveFailureMessages(const FakeDesktop& d) {
    int n = 0;
    for (const auto& m : d.messages.shown) {
        if (m.style == platform::MessageStyle::Exclamation && m.title == "Selvatro" &&
            m.text.find(d.listFile()) != std::string::npos && m.text.find("Disk quota exceeded") != std::string::npos) {
            ++n;
        }
    }
    return n;
}

// A desktop whose list is `rows`; every path except those beginning "/gone" names an existing program.
void Prepare(FakeDesktop& d, const Rows& rows) {
    d.writeList(rows);
    for (const auto& [path, delay] : rows) {
        if (!path.empty() && !path.starts_with("/gone")) {
            d.files.files[path] = "#!/bin/sh\n";
        }
    }
    d.programs.failing.insert("/broken");
}

TEST(FaultInjection, AFailedSaveOnEveryRoadOutKeepsTheListTellsOnceAndEnds) {
    struct Case {
        const char* road;
        Rows rows;
        std::function<void(FakeDesktop&)> drive;  // every write fails meanwhile
        Paths started;
    };
    const Case cases[] = {
        {"the tick after the last delay",
         {{"/a", "2"}, {"/b", "3"}},
         [](FakeDesktop& d) { d.advance(4000); },
         {"/a", "/b"}},
        {"the first tick after a missing-program stop, the path corrected meanwhile",
         {{"/a", "2"}, {"/gone", "3"}, {"/c", "9"}},
         [](FakeDesktop& d) {
             d.advance(3000);
             d.edit(*d.text1[1], "/a");
             d.minimise();
             d.advance(1000);
         },
         {"/a"}},
        {"the error path of a program that cannot start",
         {{"/a", "2"}, {"/broken", "2"}, {"/c", "3"}},
         [](FakeDesktop& d) { d.advance(2000); },
         {"/a"}},
        {"the error path of a delay outside 16 bits",
         {{"/a", "2"}, {"/b", "40000"}},
         [](FakeDesktop& d) { d.advance(1000); },
         {}},
        {"closing the window in the middle of a count",
         {{"/a", "2"}, {"/b", "3"}, {"/c", "4"}},
         [](FakeDesktop& d) {
             d.advance(2000);
             d.close();
         },
         {"/a"}},
        {"closing the window after a restore and an edit",
         {{"/a", "5"}, {"/b", "6"}},
         [](FakeDesktop& d) {
             d.advance(1000);
             d.restore();
             d.edit(*d.text2[1], "60");
             d.minimise();
             d.close();
         },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.road);
        FakeDesktop d;
        Prepare(d, c.rows);
        const std::string before = d.files.files.at(d.listFile());
        d.start();
        d.files.writeFailure = "Disk quota exceeded";
        // While each message is open, five seconds pass: nothing may be counted or started behind it.
        bool open = false;
        d.messages.whileOpen = [&] {
            if (open) {
                return;  // a message opened behind another one is already a failure, seen below
            }
            open = true;
            const std::size_t startedBefore = d.programs.started.size();
            const std::int16_t countBefore = d.form().Secondes;
            d.advance(5000);
            EXPECT_EQ(d.programs.started.size(), startedBefore) << "a program started behind a message";
            EXPECT_EQ(d.form().Secondes, countBefore) << "a tick counted behind a message";
            open = false;
        };
        c.drive(d);

        EXPECT_TRUE(d.ended());
        EXPECT_EQ(SaveFailureMessages(d), 1);
        EXPECT_EQ(d.programs.startedPaths(), c.started);
        EXPECT_EQ(d.files.files.at(d.listFile()), before);
        EXPECT_EQ(d.files.writes, 0);

        // Nothing lost: the next start loads the old list as it was.
        FakeDesktop next;
        next.files.files = d.files.files;
        next.start();
        FakeDesktop original;
        original.writeList(c.rows);
        original.start();
        EXPECT_EQ(next.rows(), original.rows());
    }
}

TEST(FaultInjection, AListThatCannotBeReadIsNotReplacedByAnEmptyOne) {
    struct Case {
        const char* what;
        std::function<void(FakeDesktop&)> session;
        bool replaced;
    };
    const Case cases[] = {
        {"closed at once", [](FakeDesktop& d) { d.close(); }, false},
        {"a path entered and taken out again",
         [](FakeDesktop& d) {
             d.type(*d.text1[0], "/x");
             d.edit(*d.text1[0], "");
             d.focusElsewhere();
             d.close();
         },
         false},
        {"a delay typed into the empty list, then closed",
         [](FakeDesktop& d) {
             d.type(*d.text2[0], "5");
             d.close();
         },
         true},
        {"a new list entered, then counted to its end",
         [](FakeDesktop& d) {
             d.dialog.answers.emplace_back("/new");
             d.clickPathBox(0);
             d.type(*d.text2[0], "2");
             d.minimise();
             d.advance(3000);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDesktop d;
        d.writeList({{"/bin/a", "5"}, {"/bin/b", "10"}});
        const std::string before = d.files.files.at(d.listFile());
        d.files.files["/new"] = "#!/bin/sh\n";
        d.files.unreadable.insert(d.listFile());
        d.start();
        ASSERT_EQ(d.window.windowState(), WindowState::Normal);
        // The user is told at once which file, and why, and that it stays.
        ASSERT_EQ(d.messages.shown.size(), 1u);
        EXPECT_EQ(d.messages.shown[0].text, "The list could not be read from\n" + d.listFile() +
                                                "\nThe file is in use by another program.\nThis file will be left as "
                                                "it is unless you change a row.");
        EXPECT_EQ(d.messages.shown[0].style, platform::MessageStyle::Exclamation);
        d.files.unreadable.clear();  // the other program lets go of it before the end
        c.session(d);
        EXPECT_TRUE(d.ended());
        EXPECT_EQ(d.messages.shown.size(), 1u);
        EXPECT_EQ(d.files.writes, c.replaced ? 1 : 0);
        if (c.replaced) {
            EXPECT_NE(d.files.files.at(d.listFile()), before);
        } else {
            EXPECT_EQ(d.files.files.at(d.listFile()), before);
        }
    }

    // A list that is missing, or readable and empty, is written as always.
    for (const bool exists : {false, true}) {
        FakeDesktop d;
        if (exists) {
            d.files.files[d.listFile()] = "";
        }
        d.start();
        d.close();
        EXPECT_EQ(d.files.writes, 1) << exists;
        EXPECT_EQ(d.files.files.at(d.listFile()).size(), 35u);
    }
}

// A list edited by hand, or by another copy's end, while this one counts: the rows this run loaded are older than
// the file, so where the user changed none of them the file stays as it is on disk. Rows the user did change are
// saved as always, and so is an unchanged file (its hand-edited spelling tidied).
TEST(FaultInjection, AListChangedOnDiskWhileTheRowsWereUntouchedIsLeftAsItIs) {
    const std::string handEdit = "\"/bin/a\",\"5\"\r\n\"/bin/hand\",\"20\"\r\n";
    struct Case {
        const char* what;
        std::function<void(FakeDesktop&)> meanwhile;  // between the start and the end of the count
        bool saved;
        std::string rowsAtEnd;  // the rows the window saves, or empty where the file must stay
    };
    const Case cases[] = {
        {"the file edited by hand", [&](FakeDesktop& d) { d.files.files[d.listFile()] = handEdit; }, false, ""},
        {"the file removed", [](FakeDesktop& d) { d.files.files.erase(d.listFile()); }, false, ""},
        {"the file locked at the end", [](FakeDesktop& d) { d.files.unreadable.insert(d.listFile()); }, false, ""},
        {"the file edited, and a row changed in the window",
         [&](FakeDesktop& d) {
             d.files.files[d.listFile()] = handEdit;
             d.restore();
             d.edit(*d.text2[1], "12");
             d.minimise();
         },
         true, "/bin/a/5|/bin/b/12|/|/|/"},
        {"nothing changed", [](FakeDesktop&) {}, true, "/bin/a/5|/bin/b/10|/|/|/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDesktop d;
        d.files.files["/bin/a"] = d.files.files["/bin/b"] = "#!/bin/sh\n";
        d.files.files[d.listFile()] = "/bin/a,5\n/bin/b,10\n";  // a hand-made spelling
        d.start();
        d.advance(2000);
        c.meanwhile(d);
        const std::map<std::string, std::string> before = d.files.files;
        d.advance(20000);
        ASSERT_TRUE(d.ended());
        EXPECT_EQ(d.process.exitStatus, 0);
        EXPECT_EQ(d.programs.startedPaths(), (Paths{"/bin/a", "/bin/b"}));
        if (c.saved) {
            FakeDesktop next;
            next.files.files = d.files.files;
            next.start();
            EXPECT_EQ(next.rows(), c.rowsAtEnd);
        } else {
            EXPECT_EQ(d.files.files, before);
        }
    }
}

// A file with NULs left after decoding is no text: its rows would load as empty ones and replace the list at the
// end. It is the unreadable case: the user is told, and it stays as it is. Without its mark, UTF-16 is recognised.
TEST(FaultInjection, AListHoldingNulsIsUnreadableNeverEmpty) {
    FakeDesktop d;
    const std::string damaged = std::string("\"/bin/a\",\"5\"\r\n\0\0\0\0garbage", 20);
    d.files.files[d.listFile()] = damaged;
    d.start();
    EXPECT_EQ(d.rows(), "/|/|/|/|/");
    ASSERT_EQ(d.messages.shown.size(), 1u);
    EXPECT_NE(d.messages.shown[0].text.find("NUL"), std::string::npos);
    d.close();
    EXPECT_EQ(d.files.files.at(d.listFile()), damaged);
    EXPECT_EQ(d.files.writes, 0);
}

TEST(FaultInjection, AListCutShortAnywhereLoadsWhatWasReadAndSavesIt) {
    struct Case {
        const char* what;
        std::string text;  // what the read returned before it stopped
        std::string rows;
        WindowState state;
    };
    const Case cases[] = {
        {"nothing at all", "", "/|/|/|/|/", WindowState::Normal},
        {"inside the first quote", "\"/bin/", "/bin//|/|/|/|/", WindowState::Minimised},
        {"inside a quoted path of the second row", "\"/bin/a\",\"5\"\r\n\"/opt/my ap", "/bin/a/5|/opt/my ap/6|/|/|/",
         WindowState::Minimised},
        {"after a comma", "\"/bin/a\",", "/bin/a/|/|/|/|/", WindowState::Minimised},
        {"between CR and LF", "\"/bin/a\",\"5\"\r", "/bin/a/5|/|/|/|/", WindowState::Minimised},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDesktop d;
        d.files.files[d.listFile()] = c.text;
        d.start();
        EXPECT_EQ(d.rows(), c.rows);
        EXPECT_EQ(d.form().Chargement, 0);
        EXPECT_EQ(d.window.windowState(), c.state);
        const std::string loaded = d.rows();
        d.close();
        ASSERT_TRUE(d.ended());
        // The save holds five whole records of what was loaded, and loads back the same.
        FakeDesktop next;
        next.files.files = d.files.files;
        next.start();
        EXPECT_EQ(next.rows(), loaded);
    }
}

// A file name may hold a double quote followed by a comma. The list is saved with no escape, so that text reads
// back as more than two fields; only its own row may suffer, never the rows after it.
TEST(HostileText, APathHoldingAQuoteAndACommaDamagesOnlyItsOwnRow) {
    FakeDesktop d;
    d.start();
    const auto pick = [&d](int row, const std::string& path, const std::string& delay) {
        d.dialog.answers.emplace_back(path);
        d.clickPathBox(row);
        d.edit(*d.text2[static_cast<std::size_t>(row)], delay);
    };
    pick(0, "/opt/q\",x", "5");
    pick(1, "/bin/c", "10");
    pick(2, "/bin/d", "20");
    d.close();
    ASSERT_TRUE(d.ended());
    EXPECT_EQ(d.files.files.at(d.listFile()).substr(0, 17), "\"/opt/q\",x\",\"5\"\r\n");

    FakeDesktop next;
    next.files.files = d.files.files;
    next.start();
    EXPECT_EQ(next.rows(), "/opt/q/x\"|/bin/c/10|/bin/d/20|/|/");
}

}  // namespace
}  // namespace selvatro
