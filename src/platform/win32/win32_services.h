#pragma once

// The Windows side of the desktop's services: the application's facts, files, program start, the user's language,
// the Startup shortcut, the default web browser and the process. UTF-8 inside, wide calls at the edge; the ANSI code
// page only for the bytes of the files that the core reads and writes.

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/encoding.h"
#include "platform/platform.h"

namespace selvatro::platform::win32 {

/// The executable's folder and this build's version record ("Selvatro.exe", "selvatro.exe", 1.2.0).
class Win32AppFacts final : public AppFacts {
public:
    /// Reads the module's folder once.
    Win32AppFacts();
    std::string folder() const override;
    std::string productName() const override;
    std::string fileDescription() const override;
    Version version() const override;
    std::string executableName() const override;
    std::string ownFileName() const override;
    /// The system drive's root, "C:\" on nearly every machine.
    std::string rootFolder() const override;
    /// PerUserFolder().
    std::string userListFolder() const override;

private:
    std::string folder_;
    std::string name_;
};

/// Files in the system's ANSI code page, written in binary as the core gives them (CR LF). A text with a character
/// that the code page cannot hold is written in UTF-8 with a byte-order mark instead of losing it to "?"; a file
/// with a byte-order mark (UTF-8, or UTF-16 as Windows editors save "Unicode"), UTF-16 without one, and valid UTF-8
/// beyond ASCII (Notepad's default) are read in that encoding, and a file read in UTF-8 is written back so. Every
/// file is used where its path names it. Only ordinary files are ever read or replaced.
class Win32Files final : public Files {
public:
    using Files::replaceText;
    char separator() const override;
    /// The path, taken literally (no wildcards), names a file that is neither a folder, a device, hidden nor a
    /// system file.
    bool ordinaryFileExists(const std::string& path) override;
    /// The path, taken literally, names a directory entry: a file of any attributes, or a folder.
    bool exists(const std::string& path) override;
    /// Makes and deletes a hidden file there: the only honest test of a folder's access rights, which a read-only
    /// attribute on a folder does not tell.
    bool folderWritable(const std::string& folder) override;
    void makeFolder(const std::string& folder) override;
    /// Any attributes (hidden, system, read-only); a file that another program holds open without sharing, or that
    /// cannot be read to its end, is Unreadable with the system's reason. UTF-8 without a mark is recognised.
    FileText readText(const std::string& path) override;
    /// A temporary file in the same folder, flushed to disk, then moved over the old file in one step.
    void replaceText(const std::string& path, const std::string& text, const std::string& readFrom) override;
    std::string writeTemporaryText(const std::string& suffix, const std::string& text) override;
    void remove(const std::string& path) override;
    void setCurrentDrive(const std::string& path) override;
    void setCurrentFolder(const std::string& folder) override;

private:
    std::map<std::string, TextEncoding> encodings_;  ///< how each file read so far was written, by its path
};

/// Starts programs with CreateProcessW: the path is the program, never parsed out of a command line. A shell link
/// (.lnk) is started as Explorer starts it: its program with its arguments, working folder and window state, or any
/// other file it names through the shell.
class Win32Programs final : public Programs {
public:
    /// Returns the new process's identifier (0 for a link whose file the shell opened in no new process). Throws
    /// StartFailed with the system's reason, ProgramMissing for a link whose target is gone.
    double start(const std::string& path) override;
    void prepare(const std::string& path) override;
    /// The link's target with its environment strings expanded; nothing for a file that is no readable .lnk.
    std::optional<std::string> shortcutTarget(const std::string& path) override;
    /// "*.lnk".
    std::string shortcutPattern() const override;
};

/// The user's language from the locale settings (GetLocaleInfoA, LOCALE_SENGLANGUAGE: "French").
class Win32Language final : public Language {
public:
    void englishLanguageName(std::string& buffer, int size) override;
    std::string decimalSeparator() const override;
};

/// The logon shortcut: a .lnk in the user's Startup folder (FOLDERID_Startup), made through IShellLinkW. The
/// design's two folder names, "\Startup" and "\Démarrage", are the same known folder: its name on disk is StartUp
/// in every language, and a folder of the French name would be run by nothing.
class StartupShortcuts final : public Shortcuts {
public:
    /// Returns 1 when the link is saved, 0 when it could not be made.
    std::int32_t createShellLink(const std::string& folder, const std::string& linkName, const std::string& target,
                                 const std::string& arguments) override;
};

/// The program that opens a file, and starting it, through the shell.
class ShellBrowser final : public Browser {
public:
    /// `guideFolder` is where an address that is a bare relative file name ("README.html", the user guide beside
    /// the executable) lies; empty, such an address is passed on as it is. `carriedGuide` is the page opened instead
    /// when no such file is there (a copy of the program without its guide).
    explicit ShellBrowser(std::string guideFolder = {}, std::string_view carriedGuide = {})
        : guideFolder_(std::move(guideFolder)), carriedGuide_(carriedGuide) {}
    /// The window that owns what the shell shows (its error messages); none until set.
    void setOwner(HWND owner) { owner_ = owner; }
    /// FindExecutableW with a MAX_PATH buffer; the path is copied into `result`, which keeps its size, cut short of
    /// its end and never inside a character. Returns the shell's code.
    std::int32_t findExecutable(const std::string& file, const std::string& folder, std::string& result) override;
    /// ShellExecuteW with the owner window, `command` without its blanks around; a relative file name as
    /// `parameters` becomes the file: address of that file in the guide folder, or, where it is missing, of the
    /// carried guide written out as "selvatro-guide.htm" in the user's temporary folder (rewritten when it differs,
    /// so that one file serves every click). Returns the shell's code: file not found when neither can be opened.
    std::int32_t shellExecute(const std::string& operation, const std::string& command, const std::string& parameters,
                              const std::string& folder, std::int32_t showState) override;

private:
    std::string guideFolder_;
    std::string_view carriedGuide_;
    HWND owner_ = nullptr;
};

/// The user guide that the build put inside this program, the page that README.html is; empty when it has none.
std::string_view CarriedGuide();

/// The process: its reports and its record go to the debugger's output (a GUI program has no standard error) and
/// to the log of the runs in %LOCALAPPDATA%\Selvatro.
class Win32Process final : public Process {
public:
    void report(const std::string& line) override;
    void record(const std::string& line) override;
    double monotonicSeconds() const override;
    [[noreturn]] void end(int status) override;
};

/// The programs that Windows starts at logon by itself: the shortcuts of the user's Startup folder and the values
/// under HKCU\Software\Microsoft\Windows\CurrentVersion\Run. One is switched off as Task Manager's Startup tab
/// does it (its value under ...\Explorer\StartupApproved), and the switch is remembered as Selvatro's, under
/// HKCU\Software\Selvatro\Taken over: a value per entry that holds the bytes written and those they replaced.
/// A Run value has no file for the picker to choose: it gets a shortcut in a folder of Selvatro's.
class Win32LogonEntries final : public LogonEntries {
public:
    /// The user's own: HKEY_CURRENT_USER, the Startup known folder, %APPDATA%\Selvatro\Logon entries.
    Win32LogonEntries();
    /// The same under `user`, a key that stands for HKEY_CURRENT_USER, with these two folders.
    Win32LogonEntries(HKEY user, std::string startupFolder, std::string entriesFolder);
    std::vector<std::string> places() override;
    std::optional<LogonEntry> entryOf(const std::string& file) override;
    void takeOver(const LogonEntry& entry) override;
    std::vector<LogonEntry> takenOver() override;
    void giveBack(const LogonEntry& entry) override;

private:
    std::wstring startupFolder();
    std::wstring entriesFolder();
    std::optional<LogonEntry> entryById(const std::wstring& id);

    HKEY user_;
    std::optional<std::wstring> startup_;  ///< resolved on first use: not every start looks at it
    std::optional<std::wstring> entries_;
};

/// The per-user folder of the list: %APPDATA%\Selvatro. Empty when the system names no such folder.
std::string PerUserFolder();

}  // namespace selvatro::platform::win32
