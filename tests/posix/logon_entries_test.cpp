// Autostart entries taken over and given back on real files: the exact lines written and taken out, the system's
// entries never written, and what systemd's own autostart generator then makes of them.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/posix/posix_services.h"
#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

using State = LogonEntry::State;
using test::FolderEntries;
using test::ReadFile;
using test::RunCommand;
using test::Sandbox;
using test::WriteFile;

// The user's entry keeps its comment, its other groups, a localised name and keys the user added.
const std::string kNotes =
    "# made by hand\n"
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Name=Notes\n"
    "Name[fr]=Notes à moi\n"
    "Exec=cat --tray %U\n"
    "OnlyShowIn=GNOME;XFCE;\n"
    "X-GNOME-Autostart-Delay=5\n"
    "\n"
    "[Desktop Action New]\n"
    "Hidden=true\n"
    "Exec=notes --new\n";
const std::string kTray =
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Name=Tray\n"
    "Exec=/bin/true\n";

std::string Off(const std::string& text) {
    const std::string header = "[Desktop Entry]\n";
    std::string off = text;
    off.insert(off.find(header) + header.size(), "Hidden=true\nX-Selvatro-Took-Over=true\n");
    return off;
}

struct Homes {
    Homes()
        : config(box.make("config")),
          system(box.make("xdg")),
          user(box.make("config/autostart")),
          systemAutostart(box.make("xdg/autostart")),
          entries(config, {system}) {
        WriteFile(user + "/notes.desktop", kNotes);
        WriteFile(systemAutostart + "/tray.desktop", kTray);
        WriteFile(user + "/selvatro.desktop", "[Desktop Entry]\nType=Application\nName=Selvatro\nExec=selvatro\n");
    }
    Sandbox box;
    std::string config;
    std::string system;
    std::string user;
    std::string systemAutostart;
    AutostartEntries entries;
};

TEST(AutostartEntries, TakeOverAndGiveBackWriteOnlyTheSwitch) {
    Homes h;
    EXPECT_EQ(h.entries.places(), (std::vector<std::string>{h.user, h.systemAutostart}));
    const auto notes = h.entries.entryOf(h.user + "/notes.desktop");
    const auto tray = h.entries.entryOf(h.systemAutostart + "/tray.desktop");
    ASSERT_TRUE(notes && tray);
    EXPECT_EQ(*notes, (LogonEntry{"notes.desktop", "Notes", State::On}));
    EXPECT_EQ(*tray, (LogonEntry{"tray.desktop", "Tray", State::On}));
    EXPECT_FALSE(h.entries.entryOf(h.user + "/selvatro.desktop"));  // Selvatro's own
    WriteFile(h.box.path() + "/elsewhere.desktop", kTray);
    EXPECT_FALSE(h.entries.entryOf(h.box.path() + "/elsewhere.desktop"));  // not where the desktop looks

    h.entries.takeOver(*notes);
    h.entries.takeOver(*tray);
    EXPECT_EQ(ReadFile(h.user + "/notes.desktop"), Off(kNotes));
    EXPECT_EQ(ReadFile(h.user + "/tray.desktop"), Off(kTray));  // a copy of the system's entry, switched off
    EXPECT_EQ(ReadFile(h.systemAutostart + "/tray.desktop"), kTray);
    // Either file of the system's entry now stands for the switched-off entry.
    EXPECT_EQ(h.entries.entryOf(h.systemAutostart + "/tray.desktop")->state, State::OffBySelvatro);
    const std::vector<LogonEntry> taken = h.entries.takenOver();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].id, "notes.desktop");
    EXPECT_EQ(taken[1].id, "tray.desktop");

    // systemd's autostart generator, which starts the session's entries (whose programs exist), now leaves both out.
    const std::string generated = h.box.make("generated");
    const std::string generator = "/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator";
    if (access(generator.c_str(), X_OK) == 0) {
        const auto run = [&] {
            return RunCommand("XDG_CONFIG_HOME='" + h.config + "' XDG_CONFIG_DIRS='" + h.system + "' " + generator +
                              " '" + generated + "' '" + generated + "' '" + generated + "'");
        };
        EXPECT_EQ(run().status, 0);
        EXPECT_EQ(FolderEntries(generated), std::vector<std::string>{});
        h.entries.giveBack(taken[0]);
        h.entries.giveBack(taken[1]);
        EXPECT_EQ(run().status, 0);
        EXPECT_EQ(FolderEntries(generated),
                  (std::vector<std::string>{"app-notes@autostart.service", "app-tray@autostart.service",
                                            "xdg-desktop-autostart.target.wants"}));
    } else {
        h.entries.giveBack(taken[0]);
        h.entries.giveBack(taken[1]);
    }
    EXPECT_EQ(ReadFile(h.user + "/notes.desktop"), kNotes);
    EXPECT_FALSE(ReadFile(h.user + "/tray.desktop"));  // the copy was Selvatro's only
    EXPECT_TRUE(h.entries.takenOver().empty());
}

TEST(AutostartEntries, WhatIsNoLongerSelvatrosIsLeftAlone) {
    Homes h;
    const LogonEntry notes = *h.entries.entryOf(h.user + "/notes.desktop");
    const LogonEntry tray = *h.entries.entryOf(h.systemAutostart + "/tray.desktop");
    h.entries.takeOver(notes);
    h.entries.takeOver(tray);
    // The user switched Notes on again in the desktop's settings, and edited the copy of Tray.
    std::string on = Off(kNotes);
    on.replace(on.find("Hidden=true"), 11, "Hidden=false");
    WriteFile(h.user + "/notes.desktop", on);
    const std::string edited = Off(kTray) + "X-GNOME-Autostart-Delay=9\n";
    WriteFile(h.user + "/tray.desktop", edited);
    h.entries.giveBack(notes);
    h.entries.giveBack(tray);
    EXPECT_EQ(ReadFile(h.user + "/notes.desktop"), on);
    EXPECT_EQ(ReadFile(h.user + "/tray.desktop"), kTray + "X-GNOME-Autostart-Delay=9\n");  // the edit stays
    unlink((h.user + "/tray.desktop").c_str());
    EXPECT_NO_THROW(h.entries.giveBack(tray));  // removed by the user: nothing to give back
    EXPECT_FALSE(ReadFile(h.user + "/tray.desktop"));

    // An entry switched off by the user is not Selvatro's to take or give.
    WriteFile(h.user + "/off.desktop", "[Desktop Entry]\nType=Application\nName=Off\nExec=off\nHidden=true\n");
    EXPECT_EQ(h.entries.entryOf(h.user + "/off.desktop")->state, State::Off);
}

TEST(AutostartEntries, ASwitchThatCannotBeWrittenChangesNothing) {
    Homes h;
    const LogonEntry tray = *h.entries.entryOf(h.systemAutostart + "/tray.desktop");
    // The user's autostart folder cannot be made: a file stands in its way.
    Sandbox other;
    WriteFile(other.path() + "/config", "not a folder");
    AutostartEntries blocked(other.path() + "/config", {h.system});
    EXPECT_THROW(blocked.takeOver(tray), FileError);
    EXPECT_EQ(ReadFile(h.systemAutostart + "/tray.desktop"), kTray);
    EXPECT_EQ(ReadFile(other.path() + "/config"), "not a folder");
}

}  // namespace
}  // namespace selvatro::platform::posix
