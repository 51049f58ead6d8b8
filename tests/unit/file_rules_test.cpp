// The file rules that both desktops share: the list's place, the name of its claim, the stale temporaries.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "fake/fake_desktop.h"
#include "platform/file_rules.h"

namespace selvatro::platform {
namespace {

using namespace std::chrono_literals;

TEST(SettleListPlace, BesideTheProgramWhenItsFolderCanBeWrittenElseTheUsersOwn) {
    struct Case {
        const char* what;
        char separator;
        std::string program;
        std::string user;
        bool programWritable;
        bool ownExists;
        ListPlace place;
    };
    const Case cases[] = {
        {"a copy in a folder of the user's",
         '/',
         "/home/anne/bin",
         "/home/anne/.config/selvatro",
         true,
         true,
         {"/home/anne/bin/selvatro.cfg", "/home/anne/bin/selvatro.cfg", ""}},
        {"installed, first run: the shipped list is read, the user's written",
         '/',
         "/usr/bin",
         "/home/anne/.config/selvatro",
         false,
         false,
         {"/usr/bin/selvatro.cfg", "/home/anne/.config/selvatro/selvatro.cfg", "/home/anne/.config/selvatro"}},
        {"installed, later runs: the user's list",
         '/',
         "/usr/bin",
         "/home/anne/.config/selvatro",
         false,
         true,
         {"/home/anne/.config/selvatro/selvatro.cfg", "/home/anne/.config/selvatro/selvatro.cfg",
          "/home/anne/.config/selvatro"}},
        {"no folder of the user's: beside the program, come what may",
         '/',
         "/usr/bin",
         "",
         false,
         false,
         {"/usr/bin/selvatro.cfg", "/usr/bin/selvatro.cfg", ""}},
        {"a root folder gives two separators in a row",
         '/',
         "/",
         "/home/anne/.config/selvatro",
         true,
         false,
         {"//selvatro.cfg", "//selvatro.cfg", ""}},
        {"Windows, a drive's root",
         '\\',
         "C:\\",
         "C:\\Users\\anne\\AppData\\Roaming\\Selvatro",
         true,
         false,
         {"C:\\\\selvatro.cfg", "C:\\\\selvatro.cfg", ""}},
        {"Windows, Program Files",
         '\\',
         "C:\\Program Files\\Selvatro",
         "C:\\Users\\anne\\AppData\\Roaming\\Selvatro",
         false,
         true,
         {"C:\\Users\\anne\\AppData\\Roaming\\Selvatro\\selvatro.cfg",
          "C:\\Users\\anne\\AppData\\Roaming\\Selvatro\\selvatro.cfg", "C:\\Users\\anne\\AppData\\Roaming\\Selvatro"}},
    };
    for (const Case& c : cases) {
        fake::Profile profile;
        profile.separator = c.separator;
        fake::FakeFiles files(profile);
        if (!c.programWritable) {
            files.readOnlyFolders.insert(c.program);
        }
        if (c.ownExists) {
            files.files[c.user + c.separator + "selvatro.cfg"] = "";
        }
        EXPECT_EQ(SettleListPlace(files, c.program, c.user, "selvatro.cfg"), c.place) << c.what;
        // The program's folder is tested once (on Windows, a file made and deleted there), and nothing is written.
        EXPECT_EQ(files.writabilityChecks, c.user.empty() ? 0 : 1) << c.what;
        EXPECT_EQ(files.writes, 0) << c.what;
    }
}

// An installed program on a desktop that keeps the machine's lists apart from the programs (Linux: each folder of
// XDG_CONFIG_DIRS): the first of them holding a list stands for the user's until the user has one; the folder of
// the program is never read, whatever lies there.
TEST(SettleListPlace, TheMachinesListServesAUserWhoHasNone) {
    const std::string own = "/home/anne/.config/selvatro/selvatro.cfg";
    const std::string user = "/home/anne/.config/selvatro";
    struct Case {
        const char* what;
        std::vector<std::string> machine;  // the machine's list folders, most preferred first
        std::vector<std::string> present;  // the files that stand there (a trailing "/" for a folder)
        std::string read;
    };
    const Case cases[] = {
        {"the first folder that holds a list",
         {"/etc/site/selvatro", "/etc/xdg/selvatro"},
         {"/etc/xdg/selvatro/selvatro.cfg", "/usr/bin/selvatro.cfg"},
         "/etc/xdg/selvatro/selvatro.cfg"},
        {"the more preferred of two",
         {"/etc/site/selvatro", "/etc/xdg/selvatro"},
         {"/etc/site/selvatro/selvatro.cfg", "/etc/xdg/selvatro/selvatro.cfg"},
         "/etc/site/selvatro/selvatro.cfg"},
        {"a folder by the list's name is no list: the next folder's is read",
         {"/etc/site/selvatro", "/etc/xdg/selvatro"},
         {"/etc/site/selvatro/selvatro.cfg/", "/etc/xdg/selvatro/selvatro.cfg"},
         "/etc/xdg/selvatro/selvatro.cfg"},
        {"the user's own list comes first", {"/etc/xdg/selvatro"}, {"/etc/xdg/selvatro/selvatro.cfg", own}, own},
        {"no list anywhere but beside the program: the user's place, empty",
         {"/etc/xdg/selvatro"},
         {"/usr/bin/selvatro.cfg"},
         own},
        {"no machine folder named: the list beside the program serves",
         {},
         {"/etc/xdg/selvatro/selvatro.cfg", "/usr/bin/selvatro.cfg"},
         "/usr/bin/selvatro.cfg"},
    };
    for (const Case& c : cases) {
        fake::Profile profile;
        fake::FakeFiles files(profile);
        files.readOnlyFolders.insert("/usr/bin");
        for (const std::string& path : c.present) {
            if (path.ends_with('/')) {
                files.folders.insert(path.substr(0, path.size() - 1));
            } else {
                files.files[path] = "";
            }
        }
        EXPECT_EQ(SettleListPlace(files, "/usr/bin", user, "selvatro.cfg", c.machine), (ListPlace{c.read, own, user}))
            << c.what;
        EXPECT_EQ(files.writes, 0) << c.what;
    }

    // A copy in a folder of the user's keeps its list beside it, as everywhere.
    fake::Profile profile;
    fake::FakeFiles files(profile);
    files.files["/etc/xdg/selvatro/selvatro.cfg"] = "";
    EXPECT_EQ(SettleListPlace(files, "/home/anne/bin", user, "selvatro.cfg", {"/etc/xdg/selvatro"}).read,
              "/home/anne/bin/selvatro.cfg");
}

TEST(SettleListPlace, AFolderByTheNameOfTheUsersListIsNoListToRead) {
    fake::Profile profile;
    fake::FakeFiles files(profile);
    files.readOnlyFolders.insert("/usr/bin");
    files.folders.insert("/home/anne/.config/selvatro/selvatro.cfg");
    // It stands there all the same, so the user's place is read: as nothing, which the loader treats as no list.
    EXPECT_EQ(SettleListPlace(files, "/usr/bin", "/home/anne/.config/selvatro", "selvatro.cfg").read,
              "/home/anne/.config/selvatro/selvatro.cfg");
}

TEST(ListIdentity, OneNamePerFolderWhateverSeparatorsEndIt) {
    const std::string tools = ListIdentity("C:\\TOOLS\\SELVATRO", "\\/");
    EXPECT_EQ(tools.size(), 16u);
    EXPECT_EQ(tools.find_first_not_of("0123456789abcdef"), std::string::npos);
    struct Case {
        std::string_view folder;
        std::string_view separators;
        std::string_view sameAs;
    };
    const Case same[] = {
        {"C:\\TOOLS\\SELVATRO\\", "\\/", "C:\\TOOLS\\SELVATRO"},
        {"C:\\TOOLS\\SELVATRO\\/\\", "\\/", "C:\\TOOLS\\SELVATRO"},
        {"/usr/bin/", "/", "/usr/bin"},
        {"/usr/bin///", "/", "/usr/bin"},
        {"C:\\", "\\/", "C:\\"},
        {"/", "/", "/"},
    };
    for (const Case& c : same) {
        EXPECT_EQ(ListIdentity(c.folder, c.separators), ListIdentity(c.sameAs, c.separators)) << c.folder;
    }
    // A root keeps its separator; a backslash is part of a POSIX name; case counts (the desktop folds it first).
    const std::set<std::string> distinct = {
        ListIdentity("C:\\", "\\/"),
        ListIdentity("C:", "\\/"),
        ListIdentity("/", "/"),
        ListIdentity("", "/"),
        ListIdentity("/opt/a\\", "/"),
        ListIdentity("/opt/a", "/"),
        ListIdentity("C:\\TOOLS\\SELVATRO", "\\/"),
        ListIdentity("C:\\Tools\\Selvatro", "\\/"),
        ListIdentity("C:\\TOOLS\\OTHER", "\\/"),
    };
    EXPECT_EQ(distinct.size(), 9u);
    // FNV-1a of the bytes: the claim's name stays the same from one build to the next.
    EXPECT_EQ(ListIdentity("", "/"), "cbf29ce484222325");
    EXPECT_EQ(ListIdentity("a", "/"), "af63dc4c8601ec8c");
}

TEST(Temporaries, OnlyOursOfThatFileAndOnlyOnceNoSaveCanStillWriteThem) {
    constexpr TemporaryShape kPosix{6, ""};
    constexpr TemporaryShape kWindows{8, ".tmp"};
    EXPECT_EQ(TemporaryPrefix("selvatro.cfg"), ".selvatro.cfg.");
    struct Case {
        std::string_view entry;
        TemporaryShape shape;
        bool ours;
    };
    const Case cases[] = {
        {".selvatro.cfg.a1B2c3", kPosix, true},
        {".selvatro.cfg.XyZ789", kPosix, true},
        {".selvatro.cfg.abc", kPosix, false},      // too short
        {".selvatro.cfg.a1B2c3d", kPosix, false},  // too long
        {".selvatro.cfg.ab-d.f", kPosix, false},   // not letters and digits
        {".other.cfg.a1B2c3", kPosix, false},      // another file's
        {"selvatro.cfg.a1B2c3", kPosix, false},    // no dot in front
        {".selvatro.cfg.0badf00d.tmp", kWindows, true},
        {".selvatro.cfg.notours.tmp", kWindows, false},  // seven
        {".selvatro.cfg.0badf00d.txt", kWindows, false},
        {".selvatro.cfg.0badf00dtmp", kWindows, false},
        {".selvatro.cfg.0badf00d.tmp", kPosix, false},
        {".selvatro.cfg.a1B2c3", kWindows, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsTemporaryName(c.entry, "selvatro.cfg", c.shape), c.ours) << c.entry;
    }
    EXPECT_FALSE(IsStaleTemporary(0s));
    EXPECT_FALSE(IsStaleTemporary(10min));
    EXPECT_TRUE(IsStaleTemporary(10min + 1us));
    EXPECT_TRUE(IsStaleTemporary(std::chrono::hours(24 * 365 * 30)));
    EXPECT_FALSE(IsStaleTemporary(-1h));  // dated in the future: a clock put right, not a killed save
}

}  // namespace
}  // namespace selvatro::platform
