#pragma once

// What Selvatro needs from a desktop: the window and its controls, the modal dialogs, and the process, file and
// desktop services. Each real desktop (Qt with POSIX, Win32) and the test platform implement these. Texts are
// UTF-8 in std::string; a platform converts at its own edge.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_design.h"

namespace selvatro::platform {

enum class WindowState : std::int16_t { Normal = 0, Minimised = 1, Maximised = 2 };

enum class MousePointer : std::int16_t { Default = 0, Custom = 99 };

enum class MessageStyle : std::int16_t { Plain = 0, Exclamation = 48 };

/// The one window of the program.
class Window {
public:
    virtual ~Window() = default;
    /// Shows `caption` as the window's title, also in its task-bar entry while minimised.
    virtual void setCaption(const std::string& caption) = 0;
    /// The window's state as the desktop reports it now.
    virtual WindowState windowState() const = 0;
    /// Changes the window's state; a change runs the resize event to its end before the call returns.
    virtual void setWindowState(WindowState state) = 0;
    /// Chooses the pointer shown over the whole window: the default one, or the window's custom image.
    virtual void setMousePointer(MousePointer pointer) = 0;
};

/// A one-line text box of the window.
class TextBox {
public:
    virtual ~TextBox() = default;
    /// The box's current text.
    virtual std::string text() const = 0;
    /// Replaces the text; a different text raises the box's change event nested inside this call, the same
    /// text raises nothing.
    virtual void setText(const std::string& text) = 0;
    /// Sets the tip shown while the mouse rests on the box.
    virtual void setTip(const std::string& tip) = 0;
    /// Gives the box the keyboard focus; the control that had it gets its lost-focus event first.
    virtual void setFocus() = 0;
    /// Selects `length` characters from the caret, clipped at the end of the text.
    virtual void setSelectionLength(int length) = 0;
};

/// A text label of the window.
class Label {
public:
    virtual ~Label() = default;
    /// Replaces the label's caption.
    virtual void setCaption(const std::string& caption) = 0;
    /// Sets the tip shown while the mouse rests on the label.
    virtual void setTip(const std::string& tip) = 0;
};

/// The window's periodic timer: one tick every 1000 ms while enabled, without cumulative drift.
class Timer {
public:
    virtual ~Timer() = default;
    /// Switches the ticks on or off; enabling an enabled timer or disabling a disabled one changes nothing.
    virtual void setEnabled(bool enabled) = 0;
    /// Whether the timer ticks.
    virtual bool isEnabled() const = 0;
};

/// The file dialog's option that hides its read-only check box.
inline constexpr std::int32_t kHideReadOnly = 4;

/// The window's file-open dialog; its settings and its last file name persist between openings.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    /// Sets the dialog's title.
    virtual void setTitle(const std::string& title) = 0;
    /// When true, a cancel makes showOpen throw DialogCancelled instead of leaving an empty file name.
    virtual void setCancelError(bool cancelError) = 0;
    /// Sets the dialog's option flags (kHideReadOnly and the like).
    virtual void setFlags(std::int32_t flags) = 0;
    /// Sets the filter: labels and patterns, all separated by vertical bars.
    virtual void setFilter(const std::string& filter) = 0;
    /// Selects the filter entry shown first, counted from 1.
    virtual void setFilterIndex(std::int16_t index) = 0;
    /// Folders that the dialog offers as places of their own, beside the desktop's usual ones.
    virtual void setPlaces(const std::vector<std::string>& folders) = 0;
    /// Shows the open dialog modally, starting in the current folder; returns once a file is chosen.
    virtual void showOpen() = 0;
    /// The full path of the file chosen last.
    virtual std::string fileName() const = 0;
};

/// Modal message boxes.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    /// Shows `text` (lines broken by a single line feed) with an OK button and returns when the user closes the box.
    virtual void show(const std::string& text, MessageStyle style, const std::string& title) = 0;
    /// Asks `question` with Yes and No buttons, Yes the default one, in the user's language; true for Yes. Closing
    /// the box without an answer is No.
    virtual bool ask(const std::string& question, const std::string& title) = 0;
};

/// The version record of the executable.
struct Version {
    std::int16_t major = 0;
    std::int16_t minor = 0;
    std::int16_t revision = 0;
};

/// Facts about the running program.
class AppFacts {
public:
    virtual ~AppFacts() = default;
    /// The folder that holds the running executable, without a trailing separator unless it is a root.
    virtual std::string folder() const = 0;
    /// The product name from the version record.
    virtual std::string productName() const = 0;
    /// The file description from the version record.
    virtual std::string fileDescription() const = 0;
    /// The version numbers from the version record.
    virtual Version version() const = 0;
    /// The running executable's file name as it stands on disk, which the user may have renamed
    /// ("selvatro (1).exe"): what the logon shortcut must start.
    virtual std::string executableName() const = 0;
    /// The executable's own file name in lower case, as the desktop names it ("selvatro", "selvatro.exe"): a
    /// list that names it would start the program again at every logon.
    virtual std::string ownFileName() const = 0;
    /// The folder that the file dialog opens in for an empty row: the system drive's root ("C:\\", "/").
    virtual std::string rootFolder() const = 0;
    /// The user's own folder for the list, used where the user may not write beside the executable
    /// ("~/.config/selvatro", "%APPDATA%\\Selvatro"); empty when the system names none.
    virtual std::string userListFolder() const = 0;
    /// The folders of the lists that the machine keeps for every user who has none of their own, most preferred
    /// first ("/etc/xdg/selvatro"); none where the system keeps no such folder apart from the program's.
    virtual std::vector<std::string> machineListFolders() const { return {}; }
};

/// Starting other programs.
class Programs {
public:
    virtual ~Programs() = default;
    /// Starts the program named by `path`, as typed and without a shell, with a normal window that takes the
    /// focus; or, when `path` is one of the desktop's shortcuts (shortcutPattern), starts it as the desktop does:
    /// its program with its arguments, working folder and window state. Returns at once with the process
    /// identifier. Throws ProgramMissing for a shortcut whose program is gone (an entry hidden or uninstalled, a
    /// target removed), StartFailed when it cannot be started (a shortcut that cannot be read included).
    virtual double start(const std::string& path) = 0;
    /// Says that `path` is due at the next tick, so that a desktop that must set a program up before it runs (its
    /// own scope under a service manager) can do it ahead of the instant. A hint only: never throws, never waits;
    /// a start without it, or no start after it (the run paused, the row changed), is no error.
    virtual void prepare(const std::string& path) = 0;
    /// The program that the shortcut `path` starts, as the shortcut names it; nothing when `path` is no shortcut
    /// of this desktop or cannot be read.
    virtual std::optional<std::string> shortcutTarget(const std::string& path) = 0;
    /// The file-name pattern of this desktop's shortcuts to programs ("*.lnk", "*.desktop").
    virtual std::string shortcutPattern() const = 0;
};

/// The most of a file that readText reads: five records of a path and a delay fit in it many times over, and a
/// huge file that is no list is never read whole at the busiest moment of a logon.
inline constexpr std::size_t kTextReadLimit = 64 * 1024;

/// What reading a file found.
struct FileText {
    enum class Status : std::int8_t {
        Absent,      ///< nothing of that name, or no file on a disk (a folder, a device, a pipe)
        Unreadable,  ///< a file that could not be opened or read to its end (locked, no permission, a disk error)
        Read,        ///< read to its end, or to kTextReadLimit
    };
    Status status = Status::Absent;
    std::string text;    ///< the text, converted to UTF-8; what could be read before a failure
    std::string reason;  ///< why the file could not be read, in the system's words; empty otherwise
    std::string source;  ///< the file that was read

    friend bool operator==(const FileText&, const FileText&) = default;
};

/// Files and folders. Texts are converted to and from the platform's code page here.
class Files {
public:
    virtual ~Files() = default;
    /// The separator put between a folder and a name in paths that the program builds.
    virtual char separator() const = 0;
    /// True when `path`, taken literally, names an ordinary file (not a folder, not a hidden file).
    virtual bool ordinaryFileExists(const std::string& path) = 0;
    /// True when something stands under `path`: a file whatever its attributes, or a folder.
    virtual bool exists(const std::string& path) = 0;
    /// Whether a new file can be made in `folder` now, as this user. Only making one tells on some systems (a
    /// folder's access rights are not in its attributes), so the answer is asked for once, at start.
    virtual bool folderWritable(const std::string& folder) = 0;
    /// Makes `folder` and the folders above it that are missing, private to the user where the system has such
    /// rights. One that exists already is no error. Throws FileError.
    virtual void makeFolder(const std::string& folder) = 0;
    /// The text of a file whatever its attributes (hidden, system, read-only), at most kTextReadLimit bytes of it,
    /// in the encoding its bytes show (a byte-order mark, UTF-16 without one, UTF-8) or else the platform's code
    /// page. A later replaceText of the same path writes in that same encoding where the text allows it.
    virtual FileText readText(const std::string& path) = 0;
    /// Replaces the file whole with `text`, so that a failure at any point leaves the old file intact, in the
    /// encoding that readText found `readFrom` in: the file itself, or the one that it becomes a copy of (the list
    /// beside the program, first saved to the user's own folder). Throws FileError.
    virtual void replaceText(const std::string& path, const std::string& text, const std::string& readFrom) = 0;
    /// Replaces the file whole with `text`, in the encoding that readText found it in.
    void replaceText(const std::string& path, const std::string& text) { replaceText(path, text, path); }
    /// Creates a new private file with a unique name ending in `suffix` in the user's temporary folder, writes
    /// `text` to it and returns its name. Throws FileError.
    virtual std::string writeTemporaryText(const std::string& suffix, const std::string& text) = 0;
    /// Deletes the file; one that is already gone is no error.
    virtual void remove(const std::string& path) = 0;
    /// Makes the drive named by the first letter of `path` current; nothing where there are no drives.
    /// Throws FileError.
    virtual void setCurrentDrive(const std::string& path) = 0;
    /// Makes `folder` the process's current folder. Throws FileError.
    virtual void setCurrentFolder(const std::string& folder) = 0;
};

/// The user's language and number format.
class Language {
public:
    virtual ~Language() = default;
    /// Writes the English name of the user's language ("French"), ended by a NUL, into the first `size`
    /// characters of `buffer`; writes nothing when the platform knows no name.
    virtual void englishLanguageName(std::string& buffer, int size) = 0;
    /// The decimal separator of the user's locale, used when a fraction is written as text.
    virtual std::string decimalSeparator() const = 0;
};

/// The shortcut that makes the desktop start a program at logon.
class Shortcuts {
public:
    virtual ~Shortcuts() = default;
    /// Creates or replaces the shortcut `linkName` in the logon folder named `folder`, starting `target` with
    /// `arguments`. Returns a result code that nobody is obliged to read; never throws.
    virtual std::int32_t createShellLink(const std::string& folder, const std::string& linkName,
                                         const std::string& target, const std::string& arguments) = 0;
};

/// The result codes of Browser, numbered as the Windows shell numbers them: a code above kShellFailureCeiling is a
/// success, kShellFailureCeiling or below a failure.
inline constexpr std::int32_t kShellFailureCeiling = 32;
/// The program was found, or started.
inline constexpr std::int32_t kShellSuccess = 42;
/// No program is set to open that kind of file.
inline constexpr std::int32_t kShellNoAssociation = 31;
/// The program could not be found or started.
inline constexpr std::int32_t kShellFileNotFound = 2;
/// The show state that opens a started program's window in its normal size and gives it the focus.
inline constexpr std::int32_t kShowNormal = 1;

/// The desktop's default web browser.
class Browser {
public:
    virtual ~Browser() = default;
    /// Looks up the program that would open `file`, writing its full path, ended by a NUL, into `result`
    /// (whose size it keeps). Returns a code above kShellFailureCeiling on success, one at or below it on failure.
    virtual std::int32_t findExecutable(const std::string& file, const std::string& folder, std::string& result) = 0;
    /// Starts `command` with `parameters` as its one argument, without a shell; when `command` is the program that
    /// findExecutable found, starts it as the desktop starts that program for an address. Returns a code above
    /// kShellFailureCeiling on success, one at or below it on failure.
    virtual std::int32_t shellExecute(const std::string& operation, const std::string& command,
                                      const std::string& parameters, const std::string& folder,
                                      std::int32_t showState) = 0;
};

/// The running process.
class Process {
public:
    virtual ~Process() = default;
    /// Writes one line where the desktop keeps what a program says went wrong (standard error, which the
    /// session's journal keeps; the debugger's output on Windows), for the user who looks there when a program
    /// did not start.
    /// The line is also added to the run's record (see record).
    virtual void report(const std::string& line) = 0;
    /// Adds `line` to the record that users read to see what each logon started and what failed: the session's
    /// journal and a small log file that keeps the last runs (on Windows the debugger's output and the log file).
    /// Called after the event it tells of, never before a start; never throws, and a record that cannot be
    /// written is skipped.
    virtual void record(const std::string& line) = 0;
    /// Seconds on a clock that only moves forward, to tell how late a start was.
    virtual double monotonicSeconds() const = 0;
    /// Ends the process at once with `status` (0 for success): the window closes and no further event of the
    /// window or the timer runs.
    [[noreturn]] virtual void end(int status) = 0;
};

/// The controls of the window, as the platform made them.
struct Controls {
    Window& form;
    std::array<TextBox*, kRowCount> text1;  ///< the path boxes, top row first
    std::array<TextBox*, kRowCount> text2;  ///< the delay boxes, top row first
    std::array<Label*, 2> affProgramme;
    Timer& timer1;
    FileDialog& commonDialog1;
};

/// A program that the desktop starts at logon by itself: an autostart entry, a Startup-folder shortcut, a Run
/// value.
struct LogonEntry {
    enum class State : std::int8_t {
        On,             ///< the desktop starts it
        OffBySelvatro,  ///< switched off by Selvatro, which starts it instead
        Off,            ///< switched off by the user or another tool
    };
    std::string id;    ///< which entry, the same for every file that stands for it ("notes.desktop", "Run\\Tray")
    std::string name;  ///< as the desktop shows it to the user
    State state = State::On;

    friend bool operator==(const LogonEntry&, const LogonEntry&) = default;
};

/// The programs that the desktop starts at logon by itself, which Selvatro can take over: switched off in the
/// desktop's own way (so that the user can see and undo it there), marked as Selvatro's doing, and given back.
/// Entries are never deleted or rewritten beyond that one switch, and the system's are never written.
class LogonEntries {
public:
    virtual ~LogonEntries() = default;
    /// The folders that hold the entries, for the file dialog to offer; an entry that has no file of its own (a Run
    /// value) gets a shortcut in a folder of Selvatro's first. Never throws.
    virtual std::vector<std::string> places() = 0;
    /// The entry that `file` stands for, whatever its state; nothing when it is none or is Selvatro's own. Never
    /// throws.
    virtual std::optional<LogonEntry> entryOf(const std::string& file) = 0;
    /// Switches the entry off and marks the switch as Selvatro's. Throws FileError with the reason; nothing has
    /// changed then.
    virtual void takeOver(const LogonEntry& entry) = 0;
    /// Every entry whose switch is still Selvatro's doing.
    virtual std::vector<LogonEntry> takenOver() = 0;
    /// Switches the entry back on where the switch is still Selvatro's doing; leaves it as it is otherwise (the user
    /// switched it on again, or removed it). Throws FileError with the reason.
    virtual void giveBack(const LogonEntry& entry) = 0;
};

/// The services of the desktop and the process.
struct Services {
    MessageBoxes& messages;
    AppFacts& facts;
    Programs& programs;
    Files& files;
    Language& language;
    Shortcuts& shortcuts;
    Browser& browser;
    Process& process;
    LogonEntries& logonEntries;
};

/// The window's events, as the platform delivers them one at a time on the user-interface thread.
class FormEvents {
public:
    virtual ~FormEvents() = default;
    virtual void Form_Load() = 0;
    virtual void Form_Resize() = 0;
    virtual void Form_Unload(std::int16_t& Cancel) = 0;
    virtual void Form_MouseMove() = 0;
    virtual void Text1_Change(std::int16_t Index) = 0;
    virtual void Text2_Change(std::int16_t Index) = 0;
    virtual void Text1_LostFocus(std::int16_t Index) = 0;
    virtual void Text2_LostFocus(std::int16_t Index) = 0;
    virtual void Text1_Click(std::int16_t Index) = 0;
    virtual void Text1_MouseMove(std::int16_t Index) = 0;
    virtual void Text2_MouseMove(std::int16_t Index) = 0;
    virtual void Aff_Programme_MouseMove(std::int16_t Index) = 0;
    virtual void Image_Tovrel_Click() = 0;
    virtual void Image_Tovrel_MouseMove() = 0;
    virtual void Timer1_Timer() = 0;
};

}  // namespace selvatro::platform
