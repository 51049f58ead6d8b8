// Start-up, the language choice, the logon shortcut, the list file's load and save, and the end.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/langage.h"
#include "fake/fake_desktop.h"

namespace selvatro {
namespace {

using fake::FakeDesktop;
using fake::Profile;
using platform::WindowState;

Profile French() {
    Profile p;
    p.language = "French";
    return p;
}

const std::string kFiveEmptyRows =
    std::string("\"\",\"\"\r\n") + "\"\",\"\"\r\n" + "\"\",\"\"\r\n" + "\"\",\"\"\r\n" + "\"\",\"\"\r\n";

TEST(CoupeNul, KeepsWhatStandsBeforeTheFirstNul) {
    using namespace std::string_literals;
    EXPECT_EQ(Langage::Coupe_Nul("French\0xyz\0"s), "French");
    EXPECT_EQ(Langage::Coupe_Nul("\0French"s), "");
    EXPECT_EQ(Langage::Coupe_Nul("French"), "");  // a text without NUL is not returned whole
    EXPECT_EQ(Langage::Coupe_Nul(""), "");
}

TEST(Language, OnlyExactlyFrenchSelectsFrench) {
    struct Case {
        std::optional<std::string> reported;
        bool french;
    };
    const Case cases[] = {
        {"French", true},      {"french", false},
        {"French ", false},    {"FRENCH", false},
        {"", false},           {"English", false},
        {std::nullopt, false}, {std::string(200, 'x'), false}};  // longer than the buffer: cut, never overrun
    for (const auto& c : cases) {
        Profile p;
        p.language = c.reported;
        FakeDesktop d(p);
        d.start();
        EXPECT_EQ(d.form().Francais, c.french ? 1 : 0) << c.reported.value_or("(none)");
        const bool french = c.french;
        EXPECT_EQ(d.heading0.caption(), french ? "Programmes qui seront exécutés" : "Programs to be  started");
        EXPECT_EQ(d.heading1.caption(), french ? "Délais(sec.)" : "Delay(sec.)");
        EXPECT_EQ(d.dialog.title(),
                  french ? "Choisissez l'application à démarrer" : "Choose the application to be started");
        EXPECT_EQ(d.window.caption(), french ? "Selvatro désactivé" : "Selvatro desabled");
    }
}

TEST(StartUp, WithoutListFileShowsAnEmptyListPaused) {
    FakeDesktop d;
    d.start();
    EXPECT_EQ(d.rows(), "/|/|/|/|/");
    EXPECT_EQ(d.window.windowState(), WindowState::Normal);
    EXPECT_FALSE(d.timer.isEnabled());
    EXPECT_EQ(d.form().Chargement, 0);
    d.advance(10'000);
    EXPECT_TRUE(d.programs.started.empty());
    EXPECT_EQ(d.form().Secondes, 0);
}

TEST(StartUp, WithRowZeroFilledStaysMinimisedAndCounts) {
    FakeDesktop d;
    d.writeList({{"/bin/a", "5"}, {"/bin/b", "10"}, {"", ""}, {"", ""}, {"", ""}});
    d.start();
    EXPECT_EQ(d.rows(), "/bin/a/5|/bin/b/10|/|/|/");
    EXPECT_EQ(d.window.windowState(), WindowState::Minimised);
    EXPECT_TRUE(d.timer.isEnabled());
    EXPECT_EQ(d.window.caption(), "Selvatro");  // until the first tick
    EXPECT_EQ(d.form().Chargement, 0);
    d.advance(1000);
    EXPECT_EQ(d.window.caption(), "1 sec.");
}

TEST(StartUp, MakesTheShortcutFirstInTheUsersLanguage) {
    for (const bool french : {false, true}) {
        Profile p = french ? French() : Profile();
        p.folder = "/opt/selvatro/";  // a folder ending in a separator gives two in a row, as built
        FakeDesktop d(p);
        d.files.files["/opt/selvatro//selvatro.cfg"] = "\"/bin/a\",\"5\"\r\n";
        d.start();
        ASSERT_EQ(d.shortcuts.made.size(), 1u);
        const auto& link = d.shortcuts.made[0];
        EXPECT_EQ(link.folder, french ? "\\Démarrage" : "\\Startup");
        EXPECT_EQ(link.linkName, "Selvatro");
        EXPECT_EQ(link.target, "/opt/selvatro//selvatro");
        EXPECT_EQ(link.arguments, "");
        EXPECT_EQ(d.row(0), "/bin/a/5");
    }
    Profile windows = Profile::Windows();
    windows.executableName = "selvatro (1).exe";  // a second download, renamed by the browser
    FakeDesktop d(windows);
    d.shortcuts.result = 0;  // a shortcut that could not be made passes silently
    d.start();
    EXPECT_EQ(d.shortcuts.made.at(0).target, "C:\\Outils\\selvatro (1).exe");
    EXPECT_EQ(d.shortcuts.made.at(0).linkName, "Selvatro");
    EXPECT_TRUE(d.messages.shown.empty());
    EXPECT_EQ(d.window.windowState(), WindowState::Normal);
}

TEST(Quitter, WritesFiveRecordsByteForByte) {
    FakeDesktop empty;
    empty.start();
    empty.close();
    EXPECT_TRUE(empty.ended());
    EXPECT_EQ(empty.files.files.at(empty.listFile()), kFiveEmptyRows);
    EXPECT_EQ(kFiveEmptyRows.size(), 35u);

    Profile windows;
    windows.folder = "C:\\Outils";
    windows.separator = '\\';
    FakeDesktop d(windows);
    d.writeList({{"C:\\Outils\\agenda.exe", "10"}, {"C:\\Program Files\\Mail\\mail.exe", "25"}});
    d.start();
    d.close();
    const std::string& saved = d.files.files.at("C:\\Outils\\selvatro.cfg");
    EXPECT_EQ(saved.size(), 89u);
    EXPECT_EQ(saved, "\"C:\\Outils\\agenda.exe\",\"10\"\r\n\"C:\\Program Files\\Mail\\mail.exe\",\"25\"\r\n" +
                         kFiveEmptyRows.substr(0, 21));
}

TEST(Quitter, RoundTripsTextsWithBlanksAndCommasButCutsAtAQuote) {
    FakeDesktop first;
    first.writeList({{"/opt/my apps/a, b", "1 0"}, {"/bin/x", "abc"}, {"/bin/say \"hi\"", "20"}});
    first.start();
    EXPECT_EQ(first.row(0), "/opt/my apps/a, b/1 0");
    EXPECT_EQ(first.row(1), "/bin/x/abc");    // a delay that is no number is kept as it stands
    EXPECT_EQ(first.row(2), "/bin/say /20");  // the quote ends the field; the rest of it is lost
    first.close();

    FakeDesktop second;
    second.files.files = first.files.files;
    second.start();
    EXPECT_EQ(second.rows(), first.rows());
    second.close();
    EXPECT_EQ(second.files.files.at(second.listFile()), first.files.files.at(first.listFile()));
}

TEST(Loader, KeepsTheRowsReadWhenTheFileEndsEarlyOrCannotBeRead) {
    FakeDesktop shortFile;
    shortFile.files.files[shortFile.listFile()] = "\"/bin/a\",\"5\"\r\n\"/bin/b\"";  // ends after its third field
    shortFile.start();
    EXPECT_EQ(shortFile.row(0), "/bin/a/5");
    EXPECT_EQ(shortFile.text1[1]->text(), "/bin/b");
    EXPECT_EQ(shortFile.rows().substr(shortFile.rows().find("|/|")), "|/|/|/");
    EXPECT_EQ(shortFile.form().Chargement, 0);
    EXPECT_EQ(shortFile.window.windowState(), WindowState::Minimised);

    FakeDesktop unreadable;
    unreadable.writeList({{"/bin/a", "5"}});
    unreadable.files.unreadable.insert(unreadable.listFile());
    unreadable.start();
    EXPECT_EQ(unreadable.rows(), "/|/|/|/|/");
    EXPECT_EQ(unreadable.form().Chargement, 0);
    EXPECT_EQ(unreadable.window.windowState(), WindowState::Normal);

    FakeDesktop folder;  // a folder by the list's name is no list
    folder.files.files[folder.listFile()] = "\"/bin/a\",\"5\"\r\n";
    folder.files.folders.insert(folder.listFile());
    folder.start();
    EXPECT_EQ(folder.rows(), "/|/|/|/|/");
}

TEST(Loader, EmptiesTheDelayOfARowWithoutPath) {
    FakeDesktop d;
    d.writeList({{"/bin/a", "5"}, {"", "30"}});
    d.start();
    EXPECT_EQ(d.rows(), "/bin/a/5|/|/|/|/");
}

TEST(Quitter, AFailedSaveKeepsTheOldFileTellsTheUserAndStillEnds) {
    for (const bool french : {false, true}) {
        FakeDesktop d(french ? French() : Profile());
        d.writeList({{"/bin/a", "5"}});
        const std::string before = d.files.files.at(d.listFile());
        d.start();
        d.files.writeFailure = "No space left on device";
        d.close();
        EXPECT_TRUE(d.ended());
        EXPECT_EQ(d.process.exitStatus, 1);
        EXPECT_EQ(d.files.files.at(d.listFile()), before);
        ASSERT_EQ(d.messages.shown.size(), 1u);
        const auto& message = d.messages.shown[0];
        EXPECT_EQ(message.title, "Selvatro");
        EXPECT_EQ(message.style, platform::MessageStyle::Exclamation);
        EXPECT_NE(message.text.find(d.listFile()), std::string::npos);
        EXPECT_NE(message.text.find("No space left on device"), std::string::npos);
        EXPECT_NE(message.text.find(french ? "enregistrée" : "could not be saved"), std::string::npos);
        EXPECT_NE(message.text.find(french ? "resté intact" : "left intact"), std::string::npos);
    }
}

TEST(Quitter, AFailedSaveNamesTheFileReallyWrittenAndClaimsOnlyWhatIsTrue) {
    // The program's folder is not the user's: the list is written to a per-user copy, which may or may not exist.
    struct Case {
        const char* what;
        bool previousList;
        std::vector<std::pair<std::string, std::string>> typed;
        bool told;
    };
    const Case cases[] = {
        {"a list to save, none before", false, {{"/bin/a", "5"}}, true},
        {"a list to save over an old one", true, {{"/bin/a", "5"}}, true},
        {"an untouched empty window, no list before: nothing is lost", false, {}, false},
        {"an emptied list over an old one", true, {}, true},
    };
    for (const auto& c : cases) {
        FakeDesktop d;
        const std::string perUser = "/home/anne/.config/selvatro/selvatro.cfg";
        d.files.readOnlyFolders.insert(d.profile().folder);
        if (c.previousList) {
            d.files.files[perUser] = "\"/bin/old\",\"3\"\r\n";
        }
        d.start();
        for (std::size_t i = 0; i < c.typed.size(); ++i) {
            d.files.files[c.typed[i].first] = "";
            d.text1[i]->setText(c.typed[i].first);
            d.text2[i]->setText(c.typed[i].second);
        }
        d.files.writeFailure = "Permission denied";
        d.close();
        EXPECT_TRUE(d.ended()) << c.what;
        EXPECT_EQ(d.process.exitStatus, c.told ? 1 : 0) << c.what;
        ASSERT_EQ(d.messages.shown.size(), c.told ? 1u : 0u) << c.what;
        if (c.told) {
            const std::string& text = d.messages.shown[0].text;
            EXPECT_NE(text.find("saved to\n" + perUser + "\n"), std::string::npos) << c.what << ": " << text;
            EXPECT_EQ(text.find("left intact") != std::string::npos, c.previousList) << c.what << ": " << text;
        }
    }
}

// An installed program: its folder is not the user's. Run after run, as the user sees it: the list that the machine
// keeps for every user (on Linux in /etc/xdg; on Windows beside a per-machine install) until the user has one.
TEST(ListPlace, AnInstalledProgramKeepsEachUsersListInTheUsersFolder) {
    struct Desktop {
        Profile installed;
        std::string shipped;  ///< the machine's list
        std::string ignored;  ///< a list that is never read; empty for none
        std::string own;
    };
    Profile onLinux;
    onLinux.folder = "/usr/bin";
    Profile onWindows = Profile::Windows();
    onWindows.folder = "C:\\Program Files\\Selvatro";
    const Desktop desktops[] = {
        {onLinux, "/etc/xdg/selvatro/selvatro.cfg", "/usr/bin/selvatro.cfg",
         "/home/anne/.config/selvatro/selvatro.cfg"},
        {onWindows, "C:\\Program Files\\Selvatro\\selvatro.cfg", "",
         "C:\\Users\\anne\\AppData\\Roaming\\Selvatro\\selvatro.cfg"},
    };
    for (const Desktop& desktop : desktops) {
        SCOPED_TRACE(desktop.shipped);
        const std::string& shipped = desktop.shipped;
        const std::string& own = desktop.own;
        std::map<std::string, std::string> disk{{shipped, "\"/bin/shipped\",\"5\"\r\n"}};
        if (!desktop.ignored.empty()) {
            disk[desktop.ignored] = "\"/bin/ignored\",\"4\"\r\n";
        }
        struct Run {
            const char* what;
            std::string typed;  ///< the path typed into the second row; empty for none
            std::string loaded;
            std::string readFrom;
        };
        const Run runs[] = {
            {"first run: the machine's list is shown, and saved as the user's own", "", "/bin/shipped/5|/", shipped},
            {"a change goes to the user's list", "/bin/mine", "/bin/shipped/5|/", own},
            {"from then on the user's list is the list", "", "/bin/shipped/5|/bin/mine/6", own},
        };
        for (const Run& run : runs) {
            FakeDesktop d(desktop.installed);
            d.files.files = disk;
            d.files.readOnlyFolders.insert(desktop.installed.folder);
            d.start();
            EXPECT_EQ(d.row(0) + "|" + d.row(1), run.loaded) << run.what;
            if (!run.typed.empty()) {
                d.text1[1]->setText(run.typed);
            }
            d.close();
            EXPECT_EQ(d.process.exitStatus, 0) << run.what;
            EXPECT_EQ(d.files.writabilityChecks, 1) << run.what << ": the folder is tested once a run";
            EXPECT_EQ(d.files.files.at(shipped), disk.at(shipped))
                << run.what << ": the machine's list is never written";
            EXPECT_EQ(d.files.writes, 1) << run.what;
            EXPECT_EQ(d.files.madeFolders, std::vector<std::string>{desktop.installed.userListFolder}) << run.what;
            EXPECT_EQ(d.files.encodingSources.at(own), run.readFrom) << run.what;
            EXPECT_EQ(d.files.files.at(own).substr(0, 20), "\"/bin/shipped\",\"5\"\r\n") << run.what;
            disk = d.files.files;
        }
        ASSERT_EQ(disk.count(own), 1u);

        // Once the user's list is there, it is what is loaded, even when the machine's one differs.
        disk[own] = "\"/bin/own\",\"7\"\r\n";
        FakeDesktop later(desktop.installed);
        later.files.files = disk;
        later.files.readOnlyFolders.insert(desktop.installed.folder);
        later.start();
        EXPECT_EQ(later.row(0), "/bin/own/7");
    }
}

// A list that cannot be read names the file that was read: the user's own where that is the list.
TEST(ListPlace, TheUnreadableListMessageNamesTheFileRead) {
    Profile installed;
    installed.folder = "/usr/bin";
    FakeDesktop d(installed);
    const std::string own = "/home/anne/.config/selvatro/selvatro.cfg";
    d.files.readOnlyFolders.insert("/usr/bin");
    d.files.files[own] = "\"/bin/a\",\"5\"\r\n";
    d.files.unreadable.insert(own);
    d.start();
    ASSERT_EQ(d.messages.shown.size(), 1u);
    EXPECT_NE(d.messages.shown[0].text.find("read from\n" + own + "\n"), std::string::npos) << d.messages.shown[0].text;
}

TEST(Close, InTheMiddleOfACountSavesAndStartsNothingMore) {
    FakeDesktop d;
    d.writeList({{"/bin/a", "2"}, {"/bin/b", "5"}});
    d.files.files["/bin/a"] = "";
    d.files.files["/bin/b"] = "";
    d.start();
    d.advance(3000);
    d.close();
    EXPECT_TRUE(d.ended());
    d.advance(10'000);
    EXPECT_EQ(d.programs.startedPaths(), std::vector<std::string>{"/bin/a"});
    EXPECT_EQ(d.files.files.at(d.listFile()).substr(0, 26), "\"/bin/a\",\"2\"\r\n\"/bin/b\",\"5\"");
}

TEST(Hover, SetsThePointerAndTheTips) {
    FakeDesktop english;
    english.start();
    english.mouseOverLogo();
    EXPECT_EQ(english.window.pointer(), platform::MousePointer::Custom);
    english.mouseOverText2(3);
    EXPECT_EQ(english.window.pointer(), platform::MousePointer::Default);
    EXPECT_EQ(english.text2[3]->tip(), "Enter here the time delay (in seconds), after Windows as started");
    EXPECT_EQ(english.text2[0]->tip(), "Entrez ici le délais (en secondes) après l'ouverture de Windows");
    english.mouseOverText1(1);
    EXPECT_EQ(english.text1[1]->tip(), "Enter here the full path of the program to start after Windows");
    english.mouseOverLogo();
    english.mouseOverBackground();
    EXPECT_EQ(english.window.pointer(), platform::MousePointer::Default);
    english.mouseOverHeading(1);
    EXPECT_EQ(english.heading0.tip(), "SELVATRO (version: 1.2.0)");
    EXPECT_EQ(english.heading1.tip(), "");

    FakeDesktop french(French());
    french.start();
    french.mouseOverText1(0);
    french.mouseOverText2(0);
    french.mouseOverHeading(0);
    EXPECT_EQ(french.text1[0]->tip(), "Entrez ici le chemin d'accès au programme à démarrer");
    EXPECT_EQ(french.text2[0]->tip(), "Entrez ici le délais (en secondes) après l'ouverture de Windows");
    EXPECT_EQ(french.heading0.tip(), "SELVATRO (version: 1.2.0)");
}

}  // namespace
}  // namespace selvatro
