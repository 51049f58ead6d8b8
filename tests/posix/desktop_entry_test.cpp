// Desktop entries in the list: what each entry starts, or why it starts nothing, and one real start.

#include "platform/posix/desktop_entry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/posix/posix_services.h"
#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

using test::InChild;
using test::ReadRecord;
using test::Sandbox;
using test::WriteFile;
using test::WriteRecorder;

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

enum class Outcome { Command, Missing, Failed };

struct Case {
    std::string name;
    std::string body;  // the lines after "[Desktop Entry]"
    Outcome outcome;
    LaunchCommand command;              // for Outcome::Command
    std::string reason;                 // for the others: what the reason says after "<path>: "
    std::optional<std::string> target;  // what shortcutTarget says
};

TEST(DesktopEntry, EachEntryStartsWhatItSaysOrSaysWhyNot) {
    Sandbox box;
    const std::string bin = box.make("bin");
    const std::string apps = box.make("my apps");
    const std::string place = box.make("work place");
    WriteFile(bin + "/tool", "#!/bin/sh\n", 0755);
    WriteFile(bin + "/x-terminal-emulator", "#!/bin/sh\n", 0755);
    WriteFile(bin + "/plain-file", "not a program\n", 0644);
    const std::string tool = bin + "/tool";
    const std::string absolute = apps + "/the tool";
    WriteFile(absolute, "#!/bin/sh\n", 0755);
    // Programs are looked up in this folder alone; %c reads the French name.
    const ScopedVariable path("PATH", bin);
    const ScopedVariable language("LANGUAGE", "fr");
    const std::string app = "Type=Application\nName=Tool\n";

    const std::vector<Case> cases = {
        {"two arguments",
         app + "TryExec=tool\nExec=tool -a b\n",
         Outcome::Command,
         {tool, {"-a", "b"}, ""},
         "",
         "tool"},
        // Quoted arguments: blanks kept, \" \` \$ \\ undone after the key file's own escapes (\\ and \t here).
        {"quoted",
         app + "Exec=\"" + absolute +
             R"(" "two words" "say \"hi\"" "\\$HOME" "back\\\\slash" "\`x\`" "a\tb")"
             "\n",
         Outcome::Command,
         {absolute, {"two words", "say \"hi\"", "$HOME", "back\\slash", "`x`", "a\tb"}, ""},
         "",
         absolute},
        {"dropped field codes",
         app + "Exec=tool %f %F %u %U %d %D %n %N %v %m --file=%f 100%%\n",
         Outcome::Command,
         {tool, {"--file=", "100%"}, ""},
         "",
         "tool"},
        {"expanded field codes",
         app + "Name[fr]=Outil\nIcon=tool-icon\nExec=tool %i %c %k\n",
         Outcome::Command,
         {tool, {"--icon", "tool-icon", "Outil", apps + "/expanded field codes.desktop"}, ""},
         "",
         "tool"},
        {"no icon for %i", app + "Exec=tool %i\n", Outcome::Command, {tool, {}, ""}, "", "tool"},
        {"working folder",
         app + "Path=" + place + "\nExec=" + tool + " x\n",
         Outcome::Command,
         {tool, {"x"}, place},
         "",
         tool},
        {"terminal",
         app + "Terminal=true\nExec=tool x\n",
         Outcome::Command,
         {bin + "/x-terminal-emulator", {"-e", tool, "x"}, ""},
         "",
         "tool"},
        {"hidden", app + "Hidden=true\nExec=tool\n", Outcome::Missing, {}, "the entry is hidden (deleted)", "tool"},
        {"hidden by Selvatro, which starts it instead",
         app + "Hidden=true\nX-Selvatro-Took-Over=true\nExec=tool\n",
         Outcome::Command,
         {tool, {}, ""},
         "",
         "tool"},
        {"TryExec not installed",
         app + "TryExec=gone\nExec=tool\n",
         Outcome::Missing,
         {},
         "gone is not installed",
         "tool"},
        {"TryExec not executable",
         app + "TryExec=" + bin + "/plain-file\nExec=tool\n",
         Outcome::Missing,
         {},
         bin + "/plain-file is not installed",
         "tool"},
        {"program not on PATH", app + "Exec=gone --x\n", Outcome::Missing, {}, "gone is not installed", "gone"},
        {"program path gone",
         app + "Exec=/nowhere/gone\n",
         Outcome::Missing,
         {},
         "/nowhere/gone is not installed",
         "/nowhere/gone"},
        {"link",
         "Type=Link\nName=Site\nURL=https://example.org/\n",
         Outcome::Failed,
         {},
         "not an application but a Link entry",
         std::nullopt},
        {"no type", "Name=Tool\nExec=tool\n", Outcome::Failed, {}, "not an application: the entry has no Type", "tool"},
        {"no Exec", app, Outcome::Failed, {}, "the entry has no Exec line", std::nullopt},
        {"unclosed quote",
         app + "Exec=tool \"a b\n",
         Outcome::Failed,
         {},
         "invalid Exec line: a quote is not closed",
         std::nullopt},
        {"read as the desktops read it",
         app + "Exec=tool ~/x --t=\"a b\"c 'it''s $HOME' \"a\\\\qb\"\n",
         Outcome::Command,
         {tool, {"~/x", "--t=a bc", "its $HOME", "a\\qb"}, ""},
         "",
         "tool"},
        {"unknown field code",
         app + "Exec=tool %x\n",
         Outcome::Failed,
         {},
         "invalid Exec line: unknown field code %x",
         "tool"},
        {"empty Exec", app + "Exec= \n", Outcome::Failed, {}, "invalid Exec line: it names no program", std::nullopt},
        {"not a key file", "this is no entry\n", Outcome::Failed, {}, "not a desktop entry: ", std::nullopt},
    };
    PosixPrograms programs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string entry = apps + "/" + c.name + ".desktop";
        WriteFile(entry, c.name == "not a key file" ? c.body : "[Desktop Entry]\n" + c.body);
        try {
            const LaunchCommand command = CommandFor(entry);
            EXPECT_EQ(c.outcome, Outcome::Command);
            EXPECT_EQ(command.program, c.command.program);
            EXPECT_EQ(command.arguments, c.command.arguments);
            EXPECT_EQ(command.folder, c.command.folder);
        } catch (const ProgramMissing& error) {
            EXPECT_EQ(c.outcome, Outcome::Missing);
            EXPECT_EQ(std::string(error.what()), entry + ": " + c.reason);
        } catch (const StartFailed& error) {
            EXPECT_EQ(c.outcome, Outcome::Failed);
            EXPECT_EQ(std::string(error.what()).substr(0, entry.size() + 2 + c.reason.size()), entry + ": " + c.reason);
        }
        EXPECT_EQ(programs.shortcutTarget(entry), c.target);
    }

    // A path that is no entry by its name is the program itself, and no shortcut.
    EXPECT_EQ(CommandFor(tool), (LaunchCommand{tool, {}, ""}));
    EXPECT_EQ(programs.shortcutTarget(tool), std::nullopt);

    // An entry that this user may not read.
    const std::string locked = apps + "/locked.desktop";
    WriteFile(locked, "[Desktop Entry]\n" + app + "Exec=tool\n", 0600);
    const std::string unreadable = InChild(
        [&] {
            std::string seen = programs.shortcutTarget(locked) ? "a target; " : "no target; ";
            try {
                CommandFor(locked);
                return seen + "a command";
            } catch (const StartFailed& error) {
                return seen + error.what();
            }
        },
        true);
    EXPECT_EQ(unreadable, "no target; " + locked + ": Permission denied");
}

TEST(DesktopEntry, AnEntryStartsItsProgramWithItsArgumentsInItsFolder) {
    Sandbox box;
    const std::string program = box.make("my programs") + "/rec";
    WriteRecorder(program);
    const std::string folder = box.make("work place");
    const std::string entry = box.path() + "/Recorder.desktop";
    WriteFile(entry, "[Desktop Entry]\nType=Application\nName=Recorder\nPath=" + folder + "\nExec=\"" + program +
                         "\" \"first argument\" second %U\n");
    const std::string record = box.path() + "/record";
    // In a child, as every start here: what a first start learns of the session stays with its process.
    const std::string task = InChild([&] {
        setenv("SELVATRO_RECORD", record.c_str(), 1);
        return std::to_string(static_cast<pid_t>(PosixPrograms().start(entry)));
    });
    const auto seen = ReadRecord(record);
    ASSERT_TRUE(seen) << task;
    EXPECT_EQ(std::to_string(seen->pid), task);
    EXPECT_EQ(seen->name, program);
    EXPECT_EQ(seen->arguments, (std::vector<std::string>{"first argument", "second"}));
    EXPECT_EQ(seen->folder, folder);
}

}  // namespace
}  // namespace selvatro::platform::posix
