#pragma once

// What every window of Selvatro does the same way, whatever draws it: the first show, the window state as the core
// sees it (a repeated state raises nothing), the unload guard, when the timer runs, the boxes' text rules, the focus
// rule, the accessible names and the file dialog's settings. A desktop makes the controls and carries out the
// driver's requests (WindowBackend); it reports the raw facts of its toolkit back (a state changed, a text changed,
// a focus lost, a mouse moved, a tick due), and the driver decides which event of the form each one is, through the
// event gate. The test platform is a desktop like the others, so that one suite of the event rules checks all three.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/event_gate.h"
#include "platform/platform.h"
#include "platform/window_design.h"

namespace selvatro::platform {

/// A box of the window: the path box (Text1) or the delay box (Text2) of a row.
struct BoxId {
    bool isPath;
    int row;
    friend bool operator==(BoxId, BoxId) = default;
};

/// What the mouse can be over, or click, with an event of its own.
enum class Pointed : std::int8_t { Background, Text1, Text2, Heading, Logo };

/// One entry of the file dialog's filter: "Executable(*.exe)" and "*.exe".
struct FilterEntry {
    std::string label;
    std::string pattern;
    friend bool operator==(const FilterEntry&, const FilterEntry&) = default;
};

/// "label|pattern|label|pattern..." as its entries; a label without its pattern is dropped.
std::vector<FilterEntry> SplitFilter(const std::string& filter);

/// `text` with its "{row}" standing for the row counted from 1, as the user counts them.
std::string ForRow(std::string_view text, int row);

/// The file dialog as the program set it up before showing it.
struct OpenRequest {
    std::string title;
    std::int32_t flags = 0;
    std::vector<FilterEntry> filter;
    int filterIndex = 0;              ///< the entry shown first, counted from 1; 0 where none was chosen
    bool cancelError = false;         ///< a cancel fails the opening (the driver throws DialogCancelled)
    std::vector<std::string> places;  ///< folders offered as places of their own
};

/// The toolkit's side of the window: each call does what it says and decides nothing. What the toolkit raises
/// inside a call (a text change, a focus loss, a state change) is reported to the driver before the call returns.
class WindowBackend {
public:
    virtual ~WindowBackend() = default;

    /// Shows `caption` as the window's title.
    virtual void setCaption(const std::string& caption) = 0;
    /// The window's state as the toolkit knows it now; asked only once the window has been shown.
    virtual WindowState currentState() const = 0;
    /// Shows the window for the first time, in `state`, without reporting that state as a change.
    virtual void showFirst(WindowState state) = 0;
    /// Puts the window in `state` (normal also brings it to the front); the change is reported inside the call.
    virtual void changeState(WindowState state) = 0;
    /// Brings the window in front of the others and gives it the keyboard.
    virtual void bringToFront() = 0;
    /// Shows the pointer over the whole window.
    virtual void setPointer(MousePointer pointer) = 0;

    /// The box's text.
    virtual std::string text(BoxId box) const = 0;
    /// Puts another text in the box, the caret kept where it was (clipped); the change is reported inside the call.
    virtual void putText(BoxId box, const std::string& text) = 0;
    virtual void setTip(BoxId box, const std::string& tip) = 0;
    /// Moves the keyboard focus into the box; a loss of another control of the window is reported inside the call.
    virtual void focus(BoxId box) = 0;
    /// Selects `length` characters from the caret, clipped at the end of the text.
    virtual void selectFromCaret(BoxId box, int length) = 0;
    /// What a screen reader says of the box.
    virtual void describe(BoxId box, const std::string& name, const std::string& description) = 0;
    /// What a screen reader says of the logo and its frame.
    virtual void describeLogo(const std::string& name, const std::string& description) = 0;

    virtual void setHeadingCaption(int index, const std::string& caption) = 0;
    virtual void setHeadingTip(int index, const std::string& tip) = 0;

    /// Starts or stops the ticks: one every interval of the design, on due instants that do not drift; each due
    /// tick is reported with WindowDriver::tickDue.
    virtual void runTimer(bool running) = 0;

    /// Shows the open dialog modally, starting in the process's current folder; the chosen file's full path, or
    /// nothing when the user cancelled. Throws ControlError when the dialog cannot be shown.
    virtual std::optional<std::string> openDialog(const OpenRequest& request) = 0;
};

/// Form1's window, the same on every desktop.
class WindowDriver final : public Window {
public:
    WindowDriver(EventGate& gate, const WindowDesign& design);
    ~WindowDriver() override;
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    /// The desktop that carries the requests out; set once, before anything else is asked.
    void attach(WindowBackend& backend) { backend_ = &backend; }
    /// The controls for Form1: the driver's own boxes, headings, timer and file dialog.
    Controls controls();

    // The window, as the core sees it.
    void setCaption(const std::string& caption) override;
    WindowState windowState() const override;
    void setWindowState(WindowState state) override;
    void setMousePointer(MousePointer pointer) override;

    // What the program asks of the window.
    /// Shows the window in the state that the load event left it in; this first show raises the resize event.
    void showInState();
    /// Closes the window through the unload event, as its close button does; nothing while an unload runs.
    void requestUnload();
    /// Brings the window back for a later start of the program: restored as the user restores it (the resize
    /// event runs), then in front. Raised as an event of the event loop.
    void showAgain();
    /// Gives the boxes and the logo what a screen reader says of them, in the language the load event chose.
    void setAccessibleTexts(const AccessibleTexts& texts);

    // What the desktop reports.
    /// The toolkit says the window's state may have changed; a state the core has seen last raises nothing.
    void stateChanged();
    /// A box's text changed, by the user or inside putText.
    void textChanged(BoxId box);
    /// A box got the keyboard focus (nothing for the logo's frame).
    void focusGained(std::optional<BoxId> box);
    /// A box lost the focus to another control of the window; a loss to another program or to a dialog of ours
    /// is not reported.
    void focusLost(BoxId box);
    /// A click on a path box (over it when released) or on the logo.
    void clicked(Pointed what, int index = 0);
    /// The mouse moved over a control, or over the window's background.
    void mouseMoved(Pointed what, int index = 0);
    /// The timer's next tick is due.
    void tickDue();

    /// The file dialog's settings as the program left them.
    const OpenRequest& dialogSettings() const;
    EventGate& gate() { return gate_; }

private:
    class Box;
    class Heading;
    class DriverTimer;
    class Dialog;

    void raiseLostFocus(BoxId box);

    EventGate& gate_;
    WindowBackend* backend_ = nullptr;
    std::array<std::unique_ptr<Box>, kRowCount> text1_;
    std::array<std::unique_ptr<Box>, kRowCount> text2_;
    std::array<std::unique_ptr<Heading>, 2> headings_;
    std::unique_ptr<DriverTimer> timer_;
    std::unique_ptr<Dialog> dialog_;
    MousePointer pointer_ = MousePointer::Default;
    bool shown_ = false;
    /// The state last reported to the core; before the first show, the state the window will be shown in.
    WindowState lastState_ = WindowState::Minimised;  // the window is created minimised
    bool unloading_ = false;
    /// The box that holds the window's focus, as far as the desktop has said.
    std::optional<BoxId> focused_;
    /// Set when the desktop reported a loss during a focus move of ours.
    bool lossReported_ = false;
};

}  // namespace selvatro::platform
