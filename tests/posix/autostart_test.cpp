// The logon shortcut as an XDG autostart entry: its content, the validator's verdict, and GIO starting the right
// program from it whatever the folder is called.

#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/posix/posix_services.h"
#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

using test::InChild;
using test::ReadFile;
using test::ReadRecord;
using test::Sandbox;
using test::WriteFile;
using test::WriteRecorder;

constexpr const char* kComments =
    "Comment=Starts your programs one after another after you log on\n"
    "Comment[fr]=Démarre vos programmes l'un après l'autre à l'ouverture de session\n";

TEST(AutostartShortcuts, WritesTheEntryForEitherFolderName) {
    Sandbox box;
    const std::string config = box.path() + "/config";  // not there yet: made on the way
    AutostartShortcuts shortcuts(config);
    const std::string entry = config + "/autostart/Selvatro.desktop";
    const std::string expected = std::string(
                                     "[Desktop Entry]\n"
                                     "Type=Application\n"
                                     "Name=Selvatro\n") +
                                 kComments +
                                 "Exec=\"/usr/local/bin/selvatro\"\n"
                                 "TryExec=/usr/local/bin/selvatro\n"
                                 "Icon=selvatro\n"
                                 "Terminal=false\n"
                                 "X-GNOME-Autostart-enabled=true\n";
    EXPECT_EQ(shortcuts.createShellLink("\\Startup", "Selvatro", "/usr/local/bin/selvatro", ""), 1);
    EXPECT_EQ(ReadFile(entry), expected);

    // Replaced whole when what is there is no desktop entry.
    WriteFile(entry, "NoDisplay=true\nExec=/bin/false\n" + std::string(4000, '#'));
    EXPECT_EQ(shortcuts.createShellLink("\\Démarrage", "Selvatro", "/usr/local/bin/selvatro", ""), 1);
    EXPECT_EQ(ReadFile(entry), expected);
    EXPECT_EQ(test::FolderEntries(config + "/autostart"), std::vector<std::string>{"Selvatro.desktop"});

    EXPECT_EQ(shortcuts.createShellLink("\\Startup", "Selvatro", "/opt/selvatro/selvatro", "--minimised 100%"), 1);
    EXPECT_NE(ReadFile(entry)->find("\nExec=\"/opt/selvatro/selvatro\" --minimised 100%%\n"), std::string::npos);

    // A "%" in the program's own path: the program goes through env, and TryExec names it as it is.
    EXPECT_EQ(shortcuts.createShellLink("\\Startup", "Selvatro", "/opt/100% sel/selvatro", ""), 1);
    EXPECT_NE(ReadFile(entry)->find("\nExec=env \"/opt/100%% sel/selvatro\"\nTryExec=/opt/100% sel/selvatro\n"),
              std::string::npos)
        << *ReadFile(entry);
}

// Each start rewrites the entry's own keys (Type, Name, Comment and its French, Exec, TryExec, Icon) where they
// stand; what the user or the desktop's settings put there stays as it was: a switch turned off, a start delay,
// OnlyShowIn, translations, comments, other groups. Only what is no desktop entry of ours is replaced whole.
TEST(AutostartShortcuts, EverythingButItsOwnKeysStaysAsTheUserLeftIt) {
    Sandbox box;
    AutostartShortcuts shortcuts(box.path());
    const std::string entry = box.make("autostart") + "/Selvatro.desktop";
    const std::string fresh = std::string("[Desktop Entry]\nType=Application\nName=Selvatro\n") + kComments +
                              "Exec=\"/usr/bin/selvatro\"\nTryExec=/usr/bin/selvatro\nIcon=selvatro\nTerminal=false\n"
                              "X-GNOME-Autostart-enabled=true\n";
    std::string off = fresh;
    off.replace(off.find("=true"), 5, "=false");
    struct Case {
        const char* what;
        std::string old;
        std::string written;
        bool valid;  // whether desktop-file-validate passes what is written
    };
    const Case cases[] = {
        {"switched off in Xfce, KDE Plasma or LXQt", "[Desktop Entry]\nName=Old\nExec=/bin/false\nHidden=true\n",
         std::string("[Desktop Entry]\nName=Selvatro\nExec=\"/usr/bin/selvatro\"\nHidden=true\nType=Application\n") +
             kComments + "TryExec=/usr/bin/selvatro\nIcon=selvatro\nTerminal=false\nX-GNOME-Autostart-enabled=true\n",
         true},
        {"switched off in GNOME or Cinnamon", off, off, true},
        {"edited by hand: a start delay, OnlyShowIn, translations, a comment, another group",
         "# mine\n[Desktop Entry]\nName=Old\nName[fr]=Vieux\nExec=/bin/false\nComment[fr]=Ancien\n"
         "Comment[de]=Startet Programme\nOnlyShowIn=GNOME;XFCE;\nX-GNOME-Autostart-Delay=30\n"
         "X-GNOME-Autostart-enabled=false\nTerminal=true\nX-KDE-autostart-enabled = 0\n\n[X-Notes]\nSeen=yes\n",
         "# mine\n[Desktop Entry]\nName=Selvatro\nName[fr]=Vieux\nExec=\"/usr/bin/selvatro\"\n"
         "Comment[fr]=Démarre vos programmes l'un après l'autre à l'ouverture de session\n"
         "Comment[de]=Startet Programme\nOnlyShowIn=GNOME;XFCE;\nX-GNOME-Autostart-Delay=30\n"
         "X-GNOME-Autostart-enabled=false\nTerminal=true\nX-KDE-autostart-enabled = 0\nType=Application\n"
         "Comment=Starts your programs one after another after you log on\nTryExec=/usr/bin/selvatro\n"
         "Icon=selvatro\n\n[X-Notes]\nSeen=yes\n",
         true},
        {"a value no desktop reads is the user's all the same",
         "[Desktop Entry]\nHidden=ture\nX-GNOME-Autostart-enabled=\n",
         std::string("[Desktop Entry]\nHidden=ture\nX-GNOME-Autostart-enabled=\nType=Application\nName=Selvatro\n") +
             kComments + "Exec=\"/usr/bin/selvatro\"\nTryExec=/usr/bin/selvatro\nIcon=selvatro\nTerminal=false\n",
         false},
        {"no group: no desktop entry", "Hidden=true\n", fresh, true},
        {"another group first: no desktop entry", "[X-Notes]\nSeen=yes\n[Desktop Entry]\nHidden=true\n", fresh, true},
        {"not UTF-8", std::string("\xFF\xFE[\0D\0", 6), fresh, true},
        {"larger than any entry", "[Desktop Entry]\nHidden=true\n#" + std::string(70 * 1024, '#') + "\n", fresh, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(entry, c.old);
        ASSERT_EQ(shortcuts.createShellLink("\\Startup", "Selvatro", "/usr/bin/selvatro", ""), 1);
        EXPECT_EQ(ReadFile(entry), c.written);
        const test::Outcome verdict = test::RunCommand(DESKTOP_FILE_VALIDATE " '" + entry + "'");
        EXPECT_EQ(verdict.status == 0 && verdict.output.empty(), c.valid) << verdict.output;
        // The next start finds the entry as it would write it.
        ASSERT_EQ(shortcuts.createShellLink("\\Démarrage", "Selvatro", "/usr/bin/selvatro", ""), 1);
        EXPECT_EQ(ReadFile(entry), c.written);
    }
}

TEST(AutostartShortcuts, FailuresAreReportedNotThrown) {
    Sandbox box;
    WriteFile(box.path() + "/file", "");
    EXPECT_EQ(AutostartShortcuts(box.path() + "/file").createShellLink("\\Startup", "Selvatro", "/bin/true", ""), 0);
    EXPECT_EQ(AutostartShortcuts("").createShellLink("\\Startup", "Selvatro", "/bin/true", ""), 0);
    AutostartShortcuts shortcuts(box.path());
    EXPECT_EQ(shortcuts.createShellLink("\\Startup", "../escape", "/bin/true", ""), 0);
    EXPECT_EQ(shortcuts.createShellLink("\\Startup", "", "/bin/true", ""), 0);
    EXPECT_EQ(shortcuts.createShellLink("\\Startup", "Sel\nvatro", "/bin/true", ""), 0);
    // A desktop entry is UTF-8 throughout: a path in another encoding cannot be written into one.
    EXPECT_EQ(shortcuts.createShellLink("\\Startup", "Selvatro", "/opt/\xE9t\xE9/selvatro", ""), 0);
    EXPECT_FALSE(std::filesystem::exists(box.path() + "/escape.desktop"));
}

// Folder names that break a carelessly written Exec line: blanks, quotes, the characters the Exec rules escape,
// field codes, and escapes of the key file itself.
TEST(AutostartShortcuts, TheEntryIsValidAndStartsTheRightProgramForEveryFolderName) {
    const std::string names[] = {
        "my apps",
        "quote\"d",
        "it's",
        "back\\slash",
        "dollar $HOME",
        "back`tick`",
        "100% sure %u",
        "semi;colon & | pipe",
        "tab\there",
        "é à ü",
        "\\\\server\\share",
        "new\nline",
        "two  blanks ",
        "%%f",
        "100% a=b",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Sandbox box;
        const auto environment = test::XdgSandbox(box);
        const std::string target = box.make(name) + "/selvatro";
        WriteRecorder(target);
        const std::string configHome = environment.at("XDG_CONFIG_HOME");
        ASSERT_EQ(AutostartShortcuts(configHome).createShellLink("\\Startup", "Selvatro", target, ""), 1);
        const std::string entry = configHome + "/autostart/Selvatro.desktop";  // no quote in the sandbox's path

        const test::Outcome verdict = test::RunCommand(DESKTOP_FILE_VALIDATE " '" + entry + "'");
        EXPECT_EQ(verdict.status, 0) << verdict.output << ReadFile(entry).value_or("");
        EXPECT_EQ(verdict.output, "") << ReadFile(entry).value_or("");

        // A path holding both "%" and "=" cannot go through env, and GIO refuses its entry (valid as it is).
        if (name.find('%') != std::string::npos && name.find('=') != std::string::npos) {
            continue;
        }
        const std::string record = box.path() + "/record";
        const std::string launched = InChild([&] {
            test::ApplyEnvironment(environment);
            setenv("SELVATRO_RECORD", record.c_str(), 1);
            GDesktopAppInfo* app = g_desktop_app_info_new_from_filename(entry.c_str());
            if (app == nullptr) {
                return std::string("GIO refused the entry");
            }
            GError* error = nullptr;
            const gboolean ok = g_app_info_launch(reinterpret_cast<GAppInfo*>(app), nullptr, nullptr, &error);
            std::string result = ok ? "launched" : std::string("launch failed: ") + error->message;
            g_clear_error(&error);
            g_object_unref(app);
            return result;
        });
        ASSERT_EQ(launched, "launched") << ReadFile(entry).value_or("");
        const auto seen = ReadRecord(record);
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->name, target);
        EXPECT_TRUE(seen->arguments.empty());
    }
}

TEST(ConfigHome, AnAbsoluteXdgConfigHomeElseTheHomeFolder) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string config = savedConfig != nullptr ? savedConfig : "";
    const std::string home = savedHome != nullptr ? savedHome : "";
    setenv("HOME", "/home/anne", 1);
    setenv("XDG_CONFIG_HOME", "/srv/anne/config", 1);
    EXPECT_EQ(ConfigHome(), "/srv/anne/config");
    setenv("XDG_CONFIG_HOME", "relative/config", 1);  // not absolute: ignored, as the base directory rules say
    EXPECT_EQ(ConfigHome(), "/home/anne/.config");
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(ConfigHome(), "/home/anne/.config");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ConfigHome(), "/home/anne/.config");
    savedConfig != nullptr ? setenv("XDG_CONFIG_HOME", config.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    savedHome != nullptr ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");
}

}  // namespace
}  // namespace selvatro::platform::posix
