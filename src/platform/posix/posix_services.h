#pragma once

// The POSIX side of the Linux desktop: files, program start, application facts, the XDG autostart entry and the
// default web browser. The window, the dialogs, the language and the end of the process live in the Qt layer.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace selvatro::platform::posix {

/// The running executable's folder and this build's version record ("selvatro", 1.2.0).
class PosixAppFacts final : public AppFacts {
public:
    /// Reads the executable's folder from /proc/self/exe once.
    PosixAppFacts();
    std::string folder() const override;
    std::string productName() const override;
    std::string fileDescription() const override;
    Version version() const override;
    std::string executableName() const override;
    std::string ownFileName() const override;
    std::string rootFolder() const override;
    /// $XDG_CONFIG_HOME/selvatro.
    std::string userListFolder() const override;
    /// selvatro in each folder of ConfigDirs, in its order ("/etc/xdg/selvatro").
    std::vector<std::string> machineListFolders() const override;

private:
    std::string folder_;
    std::string name_;
};

/// Files in the locale's character set (UTF-8), read as Windows-1252 when they are not valid UTF-8, and as UTF-16 or
/// UTF-8 when they begin with that encoding's byte-order mark; always written in UTF-8. Every file is used where
/// its path names it.
class PosixFiles final : public Files {
public:
    using Files::replaceText;
    char separator() const override;
    bool ordinaryFileExists(const std::string& path) override;
    bool exists(const std::string& path) override;
    /// What the system's access check says for this user.
    bool folderWritable(const std::string& folder) override;
    /// New folders get mode 0700.
    void makeFolder(const std::string& folder) override;
    FileText readText(const std::string& path) override;
    void replaceText(const std::string& path, const std::string& text, const std::string& readFrom) override;
    std::string writeTemporaryText(const std::string& suffix, const std::string& text) override;
    void remove(const std::string& path) override;
    void setCurrentDrive(const std::string& path) override;
    void setCurrentFolder(const std::string& folder) override;
};

/// Starts programs without a shell, each in a session of its own with standard input and output on /dev/null, and
/// asks the user's systemd manager, where the session bus has one, for a scope of its own for each: at the
/// announcement of a start (prepare), the program's process is made and held before its exec while it is moved
/// into its scope, and the start lets it exec.
class PosixPrograms final : public Programs {
public:
    /// `holder` is the program that holds a process made ahead (FindHolder); without one, every program is made at
    /// its start and its scope asked for afterwards.
    explicit PosixPrograms(std::string holder = {});
    double start(const std::string& path) override;
    void prepare(const std::string& path) override;
    std::optional<std::string> shortcutTarget(const std::string& path) override;
    /// "*.desktop".
    std::string shortcutPattern() const override;

private:
    std::string holder_;
    std::shared_ptr<void> prepared_;  ///< the programs made ahead of their start, held before their exec, by path
};

/// selvatro-hold beside the executable in `executableFolder` (a build folder), else where an installation puts it
/// (libexec/selvatro beside bin/); empty when neither is there or can be run.
std::string FindHolder(const std::string& executableFolder);

/// The logon shortcut as an XDG autostart entry in `$XDG_CONFIG_HOME/autostart`.
class AutostartShortcuts final : public Shortcuts {
public:
    /// `configHome` is $XDG_CONFIG_HOME (default ~/.config).
    explicit AutostartShortcuts(std::string configHome);
    /// Writes `<configHome>/autostart/<linkName>.desktop` whichever logon folder name is given ("\Startup" or
    /// "\Démarrage"); `arguments`, when not empty, follow the quoted target as they are, split at blanks
    /// and never read as field codes. Only the keys that are ours are written anew (Type, Name, Exec,
    /// TryExec, Icon, Comment and its French Comment[fr]); every other key, translation, comment and group of the
    /// entry already there stays as it was (the desktops' switches such as Hidden or X-GNOME-Autostart-enabled, a
    /// user's OnlyShowIn or start delay). A new entry also gets Terminal=false and X-GNOME-Autostart-enabled=true.
    /// Returns 1 when the entry is in place, 0 when it could not be written.
    std::int32_t createShellLink(const std::string& folder, const std::string& linkName, const std::string& target,
                                 const std::string& arguments) override;

private:
    std::string configHome_;
};

/// The XDG autostart entries that the desktop starts at logon: the user's (`$XDG_CONFIG_HOME/autostart`) and the
/// system's (`$XDG_CONFIG_DIRS/*/autostart`) that the user has not replaced. One is switched off as the desktops'
/// start-up settings do it, with `Hidden=true` in the user's own entry (a copy made for a system entry), marked by
/// `X-Selvatro-Took-Over=true`.
class AutostartEntries final : public LogonEntries {
public:
    /// `configHome` is $XDG_CONFIG_HOME (default ~/.config); `configDirs` the folders of $XDG_CONFIG_DIRS, most
    /// important first (default /etc/xdg).
    AutostartEntries(std::string configHome, std::vector<std::string> configDirs);
    std::vector<std::string> places() override;
    std::optional<LogonEntry> entryOf(const std::string& file) override;
    void takeOver(const LogonEntry& entry) override;
    std::vector<LogonEntry> takenOver() override;
    void giveBack(const LogonEntry& entry) override;

private:
    std::string configHome_;
    std::vector<std::string> configDirs_;
};

/// The desktop's default web browser, from GIO's MIME database.
class GioBrowser final : public Browser {
public:
    /// The program of the default handler of https addresses, else of http ones, whatever `file` is (the handler
    /// of HTML files is often a text editor). Returns kShellSuccess when found, kShellNoAssociation when none is
    /// set. The handler is kept for shellExecute. `folder` is not used.
    std::int32_t findExecutable(const std::string& file, const std::string& folder, std::string& result) override;
    /// When `command`, its blanks around dropped, is the program that the last lookup wrote, the handler is started
    /// with `parameters` as its address as its desktop entry says, wrappers (env, flatpak run) and all: its Exec
    /// line, started detached like PosixPrograms, or GIO's launch for an entry to be run in a terminal or over the
    /// session bus. Any other command is the program, started detached with `parameters` as its one argument (none
    /// when empty). Returns kShellSuccess when the program runs, kShellFileNotFound when it could not be started.
    /// `operation`, `folder` and `showState` are not used.
    std::int32_t shellExecute(const std::string& operation, const std::string& command, const std::string& parameters,
                              const std::string& folder, std::int32_t showState) override;

private:
    std::shared_ptr<void> handler_;  ///< the GAppInfo of the last lookup's handler; empty when none was found
    std::string handlerProgram_;     ///< what the last lookup wrote for it into the caller's buffer
};

/// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
std::string ConfigHome();

/// The absolute folders of $XDG_CONFIG_DIRS, most preferred first, without trailing slashes (the root as ""); /etc/xdg
/// when it is unset or names none.
std::vector<std::string> ConfigDirs();

}  // namespace selvatro::platform::posix
