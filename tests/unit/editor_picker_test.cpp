// The program picker behind a click on a path box, on a Windows-style desktop (drives, "\" and "selvatro.exe")
// and on a POSIX one ("/" and "selvatro").

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fake/fake_desktop.h"

namespace selvatro {
namespace {

using fake::FakeDesktop;
using fake::Profile;
using platform::MessageStyle;
using Strings = std::vector<std::string>;

const char* const kFilter =
    "Executable(*.exe)|*.exe|Batch Files (*.bat)|*.bat|Command(*.cmd)|*.cmd|Command(*.com)|*.com";
const char* const kEnglishRefusal = "Oh no ...\nThis would have cause a never ending loop.";
const char* const kFrenchRefusal = "Ah non ...\nCeci causerait une boucle infinie.";

Profile Windows() {
    return Profile::Windows();
}

Profile Posix() {
    return Profile();
}

// A desktop whose row `row` holds `path`; the current folder is somewhere else than any folder of the cases.
struct Desk {
    explicit Desk(const Profile& p, const std::string& pathInRow0 = "") : d(p) {
        d.files.currentFolder = p.separator == '\\' ? "C:\\Windows" : "/home/anne";
        d.text1[0]->setText(pathInRow0);  // row 0 has no rule: the text stays there
    }
    void pick(int row, std::optional<std::string> answer) {
        d.dialog.answers.push_back(std::move(answer));
        d.clickPathBox(row);
    }
    FakeDesktop d;
};

TEST(Picker, PresetsDriveAndFolderFromTheRowsPath) {
    struct Case {
        bool windows;
        std::string path;
        Strings drives;
        Strings folders;
        std::string openedIn;
    };
    const Case cases[] = {
        {true, "", {"C:\\"}, {"C:\\"}, "C:\\"},
        {true, "D:\\Outils\\x.exe", {"D:"}, {"D:\\Outils"}, "D:\\Outils"},
        {true, "C:\\x.exe", {"C:"}, {"C:"}, "C:"},
        {true, "C:\\Outils\\", {"C:"}, {"C:"}, "C:"},  // the last character is never looked at
        {true, "x.exe", {"x."}, {}, "C:\\Windows"},
        {true, "C:/Outils/x.exe", {"C:"}, {}, "C:\\Windows"},
        {true, "\\", {"\\"}, {}, "C:\\Windows"},
        {true, "É:\\Übung\\x.exe", {"É:"}, {"É:\\Übung"}, "É:\\Übung"},  // characters, not bytes
        {false, "", {"/"}, {"/"}, "/"},
        {false, "/opt/outils/x", {"/o"}, {"/opt/outils"}, "/opt/outils"},
        {false, "/opt/outils/", {"/o"}, {"/opt"}, "/opt"},
        {false, "/x", {"/x"}, {"/"}, "/"},
        {false, "x", {"x"}, {}, "/home/anne"},
        {false, "C:\\Outils\\x.exe", {"C:"}, {}, "/home/anne"},  // a backslash is no separator here
        {false, "/home/zoé/jeu", {"/h"}, {"/home/zoé"}, "/home/zoé"},
    };
    for (const auto& c : cases) {
        Desk k(c.windows ? Windows() : Posix(), c.path);
        k.pick(0, std::nullopt);
        const std::string name = (c.windows ? "windows " : "posix ") + c.path;
        EXPECT_EQ(k.d.files.driveRequests, c.drives) << name;
        EXPECT_EQ(k.d.files.folderRequests, c.folders) << name;
        EXPECT_EQ(k.d.dialog.openedIn(), c.openedIn) << name;
        EXPECT_EQ(k.d.dialog.timesShown(), 1) << name;
        // Cancel: the row is as it was and the focus stays in the path box; nothing is undone.
        EXPECT_EQ(k.d.row(0), c.path + "/") << name;
        EXPECT_EQ(k.d.focused(), k.d.text1[0].get()) << name;
        EXPECT_EQ(k.d.files.currentFolder, c.openedIn) << name;
    }
}

TEST(Picker, SetsUpTheDialogAtEveryOpening) {
    Desk k(Posix());
    k.d.dialog.setFlags(512);
    k.d.dialog.setFilterIndex(3);
    k.pick(0, std::nullopt);
    EXPECT_TRUE(k.d.dialog.cancelError());
    EXPECT_EQ(k.d.dialog.flags(), 4);
    EXPECT_EQ(k.d.dialog.filter(), std::string(kFilter) + "|Shortcuts (*.desktop)|*.desktop");
    EXPECT_EQ(k.d.dialog.filterIndex(), 1);
    EXPECT_EQ(k.d.dialog.title(), "Choisissez l'application à démarrer");  // start-up's business, not ours
}

TEST(Picker, AcceptsOrRefusesTheChosenFile) {
    struct Case {
        bool windows;
        bool french;
        std::string before;  // path box 0 before the click
        std::string chosen;
        std::string after;                                  // path box 0 after
        std::optional<std::string> message;                 // the refusal shown, if any
        std::optional<std::string> program = std::nullopt;  // what the chosen file starts, when it is a shortcut
    };
    const Case cases[] = {
        {true, false, "", "C:\\Outils\\go.bat", "C:\\Outils\\go.bat", std::nullopt},
        {true, false, "C:\\Jeux\\x.exe", "D:\\y.exe", "D:\\y.exe", std::nullopt},
        {true, false, "C:\\Jeux\\x.exe", "C:\\Outils\\SELVATRO.EXE", "", kEnglishRefusal},
        {true, true, "C:\\Jeux\\x.exe", "C:\\Outils\\myselvatro.exe", "", kFrenchRefusal},
        {true, true, "", "selvatro.exe", "", kFrenchRefusal},
        {true, false, "", "C:\\Outils\\selvatro", "C:\\Outils\\selvatro", std::nullopt},
        {true, false, "", "C:\\Outils\\selvatro.exe.lnk", "C:\\Outils\\selvatro.exe.lnk", std::nullopt},
        {false, false, "/usr/bin/vi", "/usr/local/bin/Selvatro", "", kEnglishRefusal},
        {false, true, "", "/opt/éselvatro", "", kFrenchRefusal},
        {false, false, "", "/opt/selvatro.exe", "/opt/selvatro.exe", std::nullopt},
        {false, false, "", "/opt/selvatro2", "/opt/selvatro2", std::nullopt},
        {false, false, "", "/opt/sélvatro", "/opt/sélvatro", std::nullopt},
        // Shortcuts are judged by the program they start.
        {true, false, "", "C:\\Users\\anne\\Desktop\\Outil.lnk", "", kEnglishRefusal, "C:\\Outils\\Selvatro.exe"},
        {true, false, "", "C:\\Users\\anne\\Desktop\\Jeu.lnk", "C:\\Users\\anne\\Desktop\\Jeu.lnk", std::nullopt,
         "C:\\Jeux\\jeu.exe"},
        {false, true, "", "/home/anne/.config/autostart/selvatro.desktop", "", kFrenchRefusal, "/usr/bin/selvatro"},
        {false, false, "", "/usr/share/applications/vim.desktop", "/usr/share/applications/vim.desktop", std::nullopt,
         "vim"},
    };
    for (const auto& c : cases) {
        Desk k(c.windows ? Windows() : Posix(), c.before);
        k.d.form().Francais = c.french ? 1 : 0;
        if (c.program) {
            k.d.programs.shortcuts[c.chosen] = *c.program;
        }
        k.pick(0, c.chosen);
        const std::string name = (c.windows ? "windows " : "posix ") + c.chosen;
        EXPECT_EQ(k.d.text1[0]->text(), c.after) << name;
        EXPECT_EQ(k.d.focused(), k.d.text2[0].get()) << name;
        if (c.message) {
            ASSERT_EQ(k.d.messages.shown.size(), 1u) << name;
            EXPECT_EQ(k.d.messages.shown[0].text, *c.message) << name;
            EXPECT_EQ(k.d.messages.shown[0].style, MessageStyle::Plain) << name;
            EXPECT_EQ(k.d.messages.shown[0].title, "Selvatro") << name;
        } else {
            EXPECT_TRUE(k.d.messages.shown.empty()) << name;
        }
    }
}

// The chosen path goes through the row rules, and the focus move to the delay box runs the clearing sweep.
TEST(Picker, ChosenPathFollowsTheRowRules) {
    FakeDesktop d;
    d.writeList({{"/bin/a", "5"}});
    d.start();
    d.dialog.answers.push_back("/bin/p");
    d.clickPathBox(3);
    EXPECT_EQ(d.rows(), "/bin/a/5|/bin/p/6|/|/|/");
    EXPECT_EQ(d.focused(), d.text2[3].get());
}

TEST(Picker, ChoosingTheSamePathChangesNothing) {
    FakeDesktop d;
    d.writeList({{"A", "10"}, {"B", "5"}});  // out of order: a change of path box 1 would propose 11
    d.start();
    d.dialog.answers.push_back("B");
    d.clickPathBox(1);
    EXPECT_EQ(d.rows(), "A/10|B/5|/|/|/");
    EXPECT_EQ(d.focused(), d.text2[1].get());
}

TEST(Picker, RefusalEmptiesTheRowAndItsDelay) {
    Desk k(Windows());
    k.d.writeList({{"C:\\a.exe", "5"}, {"C:\\b.exe", "10"}});
    k.d.start();
    k.pick(1, "C:\\Outils\\Selvatro.exe");
    EXPECT_EQ(k.d.rows(), "C:\\a.exe/5|/|/|/|/");
    EXPECT_EQ(k.d.focused(), k.d.text2[1].get());
}

TEST(Picker, EndsSilentlyWhenTheDialogCannotBeShown) {
    Desk k(Posix(), "/bin/a");
    k.d.dialog.failToShow = true;
    k.pick(0, "/bin/b");
    EXPECT_EQ(k.d.dialog.timesShown(), 1);
    EXPECT_EQ(k.d.text1[0]->text(), "/bin/a");
    EXPECT_EQ(k.d.focused(), k.d.text1[0].get());
    EXPECT_TRUE(k.d.messages.shown.empty());
}

// A folder that cannot be made current (a program moved away) leaves the current folder where it was; the
// dialog opens all the same and the choice is taken.
TEST(Picker, OpensEvenWhenTheFolderCannotBeMadeCurrent) {
    for (const bool windows : {true, false}) {
        const std::string gone = windows ? "D:\\Parti" : "/opt/parti";
        const std::string sep = windows ? "\\" : "/";
        Desk k(windows ? Windows() : Posix(), gone + sep + "x");
        k.d.files.missingFolders.insert(gone);
        k.pick(0, gone + "2" + sep + "y");
        EXPECT_EQ(k.d.files.folderRequests, Strings{gone});
        EXPECT_EQ(k.d.dialog.timesShown(), 1);
        EXPECT_EQ(k.d.dialog.openedIn(), windows ? "C:\\Windows" : "/home/anne");
        EXPECT_EQ(k.d.text1[0]->text(), gone + "2" + sep + "y");
        EXPECT_EQ(k.d.focused(), k.d.text2[0].get());
    }
}

}  // namespace
}  // namespace selvatro
