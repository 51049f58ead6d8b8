#pragma once

// The test platform: every platform interface in memory, keeping the desktop's event rules exactly, recording
// every effect and answering dialogs as a test scripts them. A test drives it like a user would (type, focus,
// click, minimise, restore, close) and advances its clock by hand. The services (facts, programs, files, language,
// shortcuts, browser, process) also stand alone, to serve a real window.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/form1.h"
#include "platform/event_gate.h"
#include "platform/platform.h"
#include "platform/window_driver.h"

namespace selvatro::fake {

/// Thrown by the fake process's end(); the driver catches it where a real event loop would stop.
struct ProcessEnded {};

/// Thrown when change events nest deeper, or come more often in one driver call, than any chain of the rules
/// can: a rule that sets itself off without end fails a test instead of overflowing the stack.
struct RunawayChain {};

class FakeDesktop;

/// A box as the test platform keeps it: its text, tip and selection. Its platform side goes through the window
/// driver, as the core's calls do.
class FakeTextBox final : public platform::TextBox {
public:
    FakeTextBox(FakeDesktop& desktop, platform::BoxId id, std::string tip)
        : desktop_(desktop), id_(id), tip_(std::move(tip)) {}
    std::string text() const override { return text_; }
    void setText(const std::string& text) override;
    void setTip(const std::string& tip) override;
    void setFocus() override;
    void setSelectionLength(int length) override;

    platform::BoxId id() const { return id_; }
    bool isPathBox() const { return id_.isPath; }
    std::int16_t index() const { return static_cast<std::int16_t>(id_.row); }
    const std::string& tip() const { return tip_; }
    int selectionStart() const { return selectionStart_; }
    int selectionLength() const { return selectionLength_; }
    /// Puts the caret at character `position`, as a user's click would.
    void placeCaret(int position) { selectionStart_ = position, selectionLength_ = 0; }

private:
    friend class FakeDesktop;
    platform::TextBox& core() const;
    FakeDesktop& desktop_;
    platform::BoxId id_;
    std::string text_;
    std::string tip_;
    int selectionStart_ = 0;
    int selectionLength_ = 0;
};

class FakeLabel final {
public:
    explicit FakeLabel(std::string caption) : caption_(std::move(caption)) {}
    const std::string& caption() const { return caption_; }
    const std::string& tip() const { return tip_; }

private:
    friend class FakeDesktop;
    std::string caption_;
    std::string tip_;
};

/// The window as the test platform keeps it; its state changes go through the window driver.
class FakeWindow final {
public:
    explicit FakeWindow(FakeDesktop& desktop) : desktop_(desktop) {}
    platform::WindowState windowState() const;
    /// As the core sets it.
    void setWindowState(platform::WindowState state);

    /// The caption shown now.
    const std::string& caption() const { return captions_.back(); }
    /// Every caption set so far, the design-time one first.
    const std::vector<std::string>& captions() const { return captions_; }
    platform::MousePointer pointer() const { return pointer_; }

private:
    friend class FakeDesktop;
    FakeDesktop& desktop_;
    platform::WindowState state_ = platform::WindowState::Minimised;  // the window is created minimised
    std::vector<std::string> captions_{"Selvatro"};
    platform::MousePointer pointer_ = platform::MousePointer::Default;
};

class FakeTimer final {
public:
    explicit FakeTimer(FakeDesktop& desktop) : desktop_(desktop) {}
    /// Whether the core has the timer enabled.
    bool isEnabled() const;
    /// Whether ticks come now: enabled, and the window shown.
    bool isRunning() const { return running_; }
    std::int64_t nextTickAt() const { return nextTickAt_; }

private:
    friend class FakeDesktop;
    FakeDesktop& desktop_;
    bool running_ = false;
    std::int64_t nextTickAt_ = 0;
};

/// The file dialog: answers as a test scripts them, and what the program set up before each opening.
class FakeFileDialog final {
public:
    explicit FakeFileDialog(FakeDesktop& desktop) : desktop_(desktop) {}
    /// As the core sets them.
    void setFlags(std::int32_t flags);
    void setFilterIndex(std::int16_t index);

    /// The answers to the next openings, in order: a full path, or nothing for Cancel.
    std::deque<std::optional<std::string>> answers;
    /// When set, showing the dialog fails with a control error.
    bool failToShow = false;

    // The settings as the program left them.
    const std::string& title() const { return settings().title; }
    bool cancelError() const { return settings().cancelError; }
    std::int32_t flags() const { return settings().flags; }
    /// The filter as the program wrote it, "label|pattern|...".
    std::string filter() const;
    int filterIndex() const { return settings().filterIndex; }
    const std::vector<std::string>& places() const { return settings().places; }
    int timesShown() const { return timesShown_; }
    /// The current folder when the dialog was last shown.
    const std::string& openedIn() const { return openedIn_; }

private:
    friend class FakeDesktop;
    const platform::OpenRequest& settings() const;
    FakeDesktop& desktop_;
    int timesShown_ = 0;
    std::string openedIn_;
};

struct ShownMessage {
    std::string text;
    platform::MessageStyle style;
    std::string title;
};

class FakeMessageBoxes final : public platform::MessageBoxes {
public:
    void show(const std::string& text, platform::MessageStyle style, const std::string& title) override;
    bool ask(const std::string& question, const std::string& title) override;
    std::vector<ShownMessage> shown;
    /// The questions asked, in order.
    std::vector<std::string> asked;
    /// The answers to the next questions, in order; Yes once they run out, as the default button is.
    std::deque<bool> answers;
    /// Runs while a message is open, before the user closes it (a test may advance the clock there).
    std::function<void()> whileOpen;
    /// The gate of the window the boxes belong to, whose modal rule they keep; none for boxes that stand alone.
    platform::EventGate* gate = nullptr;
};

struct Profile {
    std::string folder = "/home/anne/selvatro";
    std::string productName = "selvatro";
    std::string fileDescription = "selvatro";
    platform::Version version{1, 2, 0};
    char separator = '/';
    std::string ownFileName = "selvatro";
    std::string executableName = "selvatro";
    std::string rootFolder = "/";
    std::string userListFolder = "/home/anne/.config/selvatro";
    std::vector<std::string> machineListFolders{"/etc/xdg/selvatro"};
    /// The English name of the user's language; nothing when the platform knows none.
    std::optional<std::string> language = std::string("English");
    std::string decimalSeparator = ".";

    /// A program in C:\\Outils on a Windows desktop.
    static Profile Windows() {
        Profile p;
        p.folder = "C:\\Outils";
        p.productName = "Selvatro.exe";
        p.fileDescription = "selvatro.exe";
        p.separator = '\\';
        p.ownFileName = "selvatro.exe";
        p.executableName = "Selvatro.exe";
        p.rootFolder = "C:\\";
        p.userListFolder = "C:\\Users\\anne\\AppData\\Roaming\\Selvatro";
        p.machineListFolders.clear();
        return p;
    }
};

class FakeAppFacts final : public platform::AppFacts {
public:
    explicit FakeAppFacts(const Profile& profile) : profile_(profile) {}
    std::string folder() const override { return profile_.folder; }
    std::string productName() const override { return profile_.productName; }
    std::string fileDescription() const override { return profile_.fileDescription; }
    platform::Version version() const override { return profile_.version; }
    std::string ownFileName() const override { return profile_.ownFileName; }
    std::string executableName() const override { return profile_.executableName; }
    std::string rootFolder() const override { return profile_.rootFolder; }
    std::string userListFolder() const override { return profile_.userListFolder; }
    std::vector<std::string> machineListFolders() const override { return profile_.machineListFolders; }

private:
    const Profile& profile_;
};

struct StartedProgram {
    std::string path;
    std::int64_t atMs;
};

class FakePrograms final : public platform::Programs {
public:
    /// `clock` gives the instant, in ms, recorded with each start; without one, 0.
    explicit FakePrograms(std::function<std::int64_t()> clock = {}) : clock_(std::move(clock)) {}
    double start(const std::string& path) override;
    void prepare(const std::string& path) override { prepared.push_back({path, clock_ ? clock_() : 0}); }
    std::optional<std::string> shortcutTarget(const std::string& path) override;
    std::string shortcutPattern() const override { return pattern; }
    std::vector<StartedProgram> started;
    /// The starts announced for the next tick, when they were announced.
    std::vector<StartedProgram> prepared;
    /// Paths whose start fails (the file exists but is no program).
    std::set<std::string> failing;
    /// Shortcuts whose program is gone (hidden, uninstalled, its target removed).
    std::set<std::string> withdrawn;
    /// The shortcuts that can be read, with the program each starts.
    std::map<std::string, std::string> shortcuts;
    std::string pattern = "*.desktop";
    std::vector<std::string> startedPaths() const;

private:
    std::function<std::int64_t()> clock_;
};

class FakeFiles final : public platform::Files {
public:
    explicit FakeFiles(const Profile& profile) : profile_(profile) {}
    using Files::replaceText;
    char separator() const override { return profile_.separator; }
    bool ordinaryFileExists(const std::string& path) override;
    bool exists(const std::string& path) override { return files.count(path) != 0 || folders.count(path) != 0; }
    bool folderWritable(const std::string& folder) override;
    void makeFolder(const std::string& folder) override;
    platform::FileText readText(const std::string& path) override;
    void replaceText(const std::string& path, const std::string& text, const std::string& readFrom) override;
    std::string writeTemporaryText(const std::string& suffix, const std::string& text) override;
    void remove(const std::string& path) override;
    void setCurrentDrive(const std::string& path) override;
    void setCurrentFolder(const std::string& folder) override;

    /// The files that exist, by full name, with their contents.
    std::map<std::string, std::string> files;
    /// Names that exist but are folders, not ordinary files.
    std::set<std::string> folders;
    /// Files that exist but cannot be opened for reading (locked by another program, say).
    std::set<std::string> unreadable;
    int reads = 0;
    /// Folders in which the user may not make a file (an installed program's).
    std::set<std::string> readOnlyFolders;
    /// How often a folder's writability was asked for.
    int writabilityChecks = 0;
    /// The folders made, in order.
    std::vector<std::string> madeFolders;
    /// For each file written, the file whose encoding it was to keep.
    std::map<std::string, std::string> encodingSources;
    /// When set, every write fails and leaves the old file as it was.
    std::optional<std::string> writeFailure;
    /// Folders that cannot be made current.
    std::set<std::string> missingFolders;
    /// When set, a folder made current becomes the process's current folder too, where a real file dialog opens.
    bool movesProcess = false;

    int writes = 0;
    std::string currentFolder = "/";
    std::vector<std::string> driveRequests;
    std::vector<std::string> folderRequests;

private:
    const Profile& profile_;
    int temporaries_ = 0;
};

class FakeLanguage final : public platform::Language {
public:
    explicit FakeLanguage(const Profile& profile) : profile_(profile) {}
    void englishLanguageName(std::string& buffer, int size) override;
    std::string decimalSeparator() const override { return profile_.decimalSeparator; }

private:
    const Profile& profile_;
};

struct ShellLink {
    std::string folder;
    std::string linkName;
    std::string target;
    std::string arguments;
};

class FakeShortcuts final : public platform::Shortcuts {
public:
    std::int32_t createShellLink(const std::string& folder, const std::string& linkName, const std::string& target,
                                 const std::string& arguments) override;
    std::vector<ShellLink> made;
    std::int32_t result = 1;
};

struct BrowserStart {
    std::string operation;
    std::string command;
    std::string parameters;
    std::string folder;
    std::int32_t showState;
};

class FakeBrowser final : public platform::Browser {
public:
    explicit FakeBrowser(FakeFiles& files) : files_(files) {}
    std::int32_t findExecutable(const std::string& file, const std::string& folder, std::string& result) override;
    std::int32_t shellExecute(const std::string& operation, const std::string& command, const std::string& parameters,
                              const std::string& folder, std::int32_t showState) override;

    /// The default browser's full path; nothing when none is set.
    std::optional<std::string> browserPath;
    std::int32_t startResult = 42;
    std::vector<BrowserStart> starts;
    /// The files asked about, with whether each existed at the time.
    std::vector<std::pair<std::string, bool>> lookups;

private:
    FakeFiles& files_;
};

/// The desktop's own logon entries, by the file that stands for each (several files may stand for one entry).
class FakeLogonEntries final : public platform::LogonEntries {
public:
    std::vector<std::string> places() override { return folders; }
    std::optional<platform::LogonEntry> entryOf(const std::string& file) override;
    void takeOver(const platform::LogonEntry& entry) override;
    std::vector<platform::LogonEntry> takenOver() override;
    void giveBack(const platform::LogonEntry& entry) override;

    std::vector<std::string> folders;
    /// The entries, by id.
    std::map<std::string, platform::LogonEntry> entries;
    /// For each file that stands for an entry, the entry's id.
    std::map<std::string, std::string> files;
    /// When set, every switch fails with this reason and changes nothing.
    std::optional<std::string> switchFailure;
    /// The switches made, in order: "off <id>", "on <id>".
    std::vector<std::string> switches;
};

class FakeProcess final : public platform::Process {
public:
    /// `clock` gives the instant, in ms, that monotonicSeconds tells; without one, 0.
    explicit FakeProcess(std::function<std::int64_t()> clock = {}) : clock_(std::move(clock)) {}
    void report(const std::string& line) override {
        reported.push_back(line);
        recorded.push_back(line);
    }
    void record(const std::string& line) override { recorded.push_back(line); }
    double monotonicSeconds() const override { return clock_ ? static_cast<double>(clock_()) / 1000.0 : 0.0; }
    [[noreturn]] void end(int status) override;
    bool ended = false;
    int exitStatus = -1;                ///< the status the process ended with
    std::vector<std::string> reported;  ///< the lines written for the session's journal
    std::vector<std::string> recorded;  ///< the run's record, reported lines included

private:
    std::function<std::int64_t()> clock_;
};

/// A whole desktop with one Form1 on it: the window driver and the event gate of the real desktops, over a toolkit
/// in memory.
class FakeDesktop final : private platform::WindowBackend {
public:
    explicit FakeDesktop(Profile profile = Profile());
    ~FakeDesktop();
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    Form1& form() { return *form_; }
    const Profile& profile() const { return profile_; }

    // Driving, as the desktop and the user would. Each call is one event (or a run of them); once the process
    // has ended, every call does nothing.

    /// Creates the window: load event, then the first show (resize event).
    void start();
    /// Lets `ms` milliseconds pass; the timer ticks at each whole second due while it is enabled.
    void advance(std::int64_t ms);
    /// Types `text` into a box one character at a time, each raising the change event.
    void type(FakeTextBox& box, const std::string& text);
    /// Replaces a box's whole text as one edit (select all and paste, or delete).
    void edit(FakeTextBox& box, const std::string& text);
    /// Moves the focus into a box, by mouse or keyboard.
    void focus(FakeTextBox& box);
    /// Moves the focus out of the boxes, to the logo's frame.
    void focusElsewhere();
    /// Clicks into path box `row`: the focus moves there, then the click event runs.
    void clickPathBox(int row);
    void minimise();
    void restore();
    /// Closes the window (close button, log-off, a signal).
    void close();
    void clickLogo();
    void mouseOverBackground();
    void mouseOverLogo();
    void mouseOverText1(int row);
    void mouseOverText2(int row);
    void mouseOverHeading(int index);

    bool ended() const { return process.ended; }
    std::int64_t now() const { return nowMs_; }
    /// The row as "path/delay", for compact scenario tables.
    std::string row(int i) const;
    /// All five rows as "path/delay|path/delay|...".
    std::string rows() const;
    /// The box that has the focus, or nothing.
    const FakeTextBox* focused() const { return focused_; }
    /// The errors that escaped an event from the event loop: each ended the process with status 1.
    const std::vector<std::string>& unhandled() const { return unhandled_; }

    // What the change and lost-focus events did, for tests of the rules' chains.
    int maxChainDepth = 16;       ///< deeper nesting of change events counts as runaway
    int maxChangesPerCall = 200;  ///< more change events in one driver call counts as runaway
    int deepestChain = 0;         ///< the deepest nesting of change events seen
    int busiestCall = 0;          ///< the most change events seen in one driver call
    int sweeps = 0;               ///< lost-focus events raised
    int focusMovesInChanges = 0;  ///< focus moves made inside a change event (no rule may make one)
    /// Runs after each lost-focus event.
    std::function<void()> afterSweep;

private:
    // Declared first: the controls below reach the core through them.
    platform::EventGate gate_;
    platform::WindowDriver driver_;

public:
    // The fakes, for tests to script and read.
    FakeWindow window;
    std::vector<std::unique_ptr<FakeTextBox>> text1;
    std::vector<std::unique_ptr<FakeTextBox>> text2;
    FakeLabel heading0;
    FakeLabel heading1;
    FakeTimer timer;
    FakeFileDialog dialog;
    FakeMessageBoxes messages;
    FakeAppFacts facts;
    FakePrograms programs;
    FakeFiles files;
    FakeLanguage language;
    FakeShortcuts shortcuts;
    FakeBrowser browser;
    FakeProcess process;
    FakeLogonEntries logonEntries;

    /// The full name of the list file under this profile.
    std::string listFile() const;
    /// Writes the list file as five records of path/delay pairs.
    void writeList(const std::vector<std::pair<std::string, std::string>>& rows);

    /// The window driver, which the core's calls and the toolkit's reports go through.
    platform::WindowDriver& driver() { return driver_; }
    platform::EventGate& gate() { return gate_; }
    /// Sends the window's events to `events` instead of Form1 (a test of the event rules records them).
    void connect(platform::FormEvents& events) { gate_.connect(events); }
    /// Another window takes the focus: code that moves the focus meanwhile gets no word back from the toolkit, as
    /// on a real desktop; the window's own focus stays where it was.
    void deactivate() { active_ = false; }
    void activate() { active_ = true; }

private:
    friend class FakeTextBox;
    friend class FakeWindow;
    friend class FakeTimer;
    friend class FakeFileDialog;

    // The toolkit in memory.
    void setCaption(const std::string& caption) override;
    platform::WindowState currentState() const override { return window.state_; }
    void showFirst(platform::WindowState state) override;
    void changeState(platform::WindowState state) override;
    void bringToFront() override {}
    void setPointer(platform::MousePointer pointer) override { window.pointer_ = pointer; }
    std::string text(platform::BoxId box) const override { return boxOf(box).text_; }
    void putText(platform::BoxId box, const std::string& text) override;
    void setTip(platform::BoxId box, const std::string& tip) override { boxOf(box).tip_ = tip; }
    void focus(platform::BoxId box) override { moveFocus(&boxOf(box)); }
    void selectFromCaret(platform::BoxId box, int length) override;
    void describe(platform::BoxId, const std::string&, const std::string&) override {}
    void describeLogo(const std::string&, const std::string&) override {}
    void setHeadingCaption(int index, const std::string& caption) override { headingOf(index).caption_ = caption; }
    void setHeadingTip(int index, const std::string& tip) override { headingOf(index).tip_ = tip; }
    void runTimer(bool running) override;
    std::optional<std::string> openDialog(const platform::OpenRequest& request) override;

    FakeTextBox& boxOf(platform::BoxId box) const;
    FakeLabel& headingOf(int index) { return index == 0 ? heading0 : heading1; }
    /// Puts `text` in the box and reports the change, as the toolkit does for an edit or an assignment.
    void changeText(FakeTextBox& box, const std::string& text);
    void moveFocus(FakeTextBox* box);
    /// Runs one user action or event from the loop; stops once the process has ended.
    void dispatch(const std::function<void()>& event);

    Profile profile_;
    std::unique_ptr<Form1> form_;
    FakeTextBox* focused_ = nullptr;
    std::int64_t nowMs_ = 0;
    int changeDepth_ = 0;
    int changesThisCall_ = 0;
    bool runaway_ = false;
    bool active_ = true;
    std::vector<std::string> unhandled_;
};

}  // namespace selvatro::fake
