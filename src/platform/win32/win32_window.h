#pragma once

// The window Form1 in plain Win32: one top-level window built from the design table, its edit and static
// controls subclassed for the events that the core needs, a tooltip control for the tips, and every event handed
// to the core through the portable gate, so that no exception ever crosses a window procedure.

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/event_gate.h"
#include "platform/platform.h"
#include "platform/win32/win32_artwork.h"
#include "platform/win32/win32_timer.h"
#include "platform/window_design.h"

namespace selvatro::platform::win32 {

class FormWindow;

/// A path box or a delay box: an EDIT control.
class Win32TextBox final : public platform::TextBox {
public:
    Win32TextBox(FormWindow& form, bool isPathBox, std::int16_t index)
        : form_(form), isPathBox_(isPathBox), index_(index) {}
    std::string text() const override;
    void setText(const std::string& text) override;
    void setTip(const std::string& tip) override;
    void setFocus() override;
    void setSelectionLength(int length) override;

    HWND handle() const { return edit_; }
    bool isPathBox() const { return isPathBox_; }
    std::int16_t index() const { return index_; }

private:
    friend class FormWindow;
    FormWindow& form_;
    bool isPathBox_;
    std::int16_t index_;
    HWND edit_ = nullptr;
    std::wstring tip_;
};

/// A heading: a STATIC control that reports mouse moves.
class Win32Label final : public platform::Label {
public:
    Win32Label(FormWindow& form, std::int16_t index) : form_(form), index_(index) {}
    void setCaption(const std::string& caption) override;
    void setTip(const std::string& tip) override;
    HWND handle() const { return static_; }
    std::int16_t index() const { return index_; }

private:
    friend class FormWindow;
    FormWindow& form_;
    std::int16_t index_;
    HWND static_ = nullptr;
    std::wstring tip_;
};

/// Form1 with its controls, created hidden and minimised with its design-time texts; shown by showInState.
class FormWindow final : public platform::Window {
public:
    FormWindow(EventGate& gate, const platform::WindowDesign& design);
    ~FormWindow() override;
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    void setCaption(const std::string& caption) override;
    platform::WindowState windowState() const override;
    void setWindowState(platform::WindowState state) override;
    void setMousePointer(platform::MousePointer pointer) override;

    /// The controls for Form1; `dialog` is the window's file dialog.
    platform::Controls controls(platform::FileDialog& dialog);

    /// Shows the window in the state that the load event left it in; the first show raises the resize event.
    void showInState();
    /// Closes the window through the unload event, as the close button does; does nothing while an unload runs.
    void requestUnload();
    /// Brings the window back for a later start of the program: restored as the user restores it (the resize
    /// event runs), then brought to the front. Raised as an event from the event loop.
    void showAgain();
    /// Names the boxes and the logo for screen readers, in the language that the load event chose.
    void setAccessibleTexts(const platform::AccessibleTexts& texts);
    /// Handles the keyboard navigation of the window's controls (Tab, Shift+Tab) for a message of the loop; true
    /// when the message was handled.
    bool preTranslate(MSG& message);

    /// The message that a later start of the program posts to this window to have it shown again.
    static UINT ShowAgainMessage();

    HWND handle() const { return hwnd_; }
    Win32TextBox& text1(int row) { return *text1_.at(static_cast<std::size_t>(row)); }
    Win32TextBox& text2(int row) { return *text2_.at(static_cast<std::size_t>(row)); }
    Win32Label& heading(int index) { return *headings_.at(static_cast<std::size_t>(index)); }
    HWND picture2() const { return picture2_; }
    HWND logo() const { return logo_; }
    Win32Timer& timer() { return timer_; }
    EventGate& gate() { return gate_; }
    platform::MousePointer mousePointer() const { return pointer_; }
    /// The window's resolution in dots per inch.
    UINT dpi() const { return dpi_; }
    /// The tip that the tooltip control shows for `tool` now.
    std::wstring tipOf(HWND tool) const;

private:
    friend class Win32TextBox;
    friend class Win32Label;
    static LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK LogoProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                            DWORD_PTR data);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleLogo(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleControl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id);

    void createControls();
    void layOut(bool placeWindow);
    void makeFonts();
    void addTool(HWND tool, const std::wstring& tip);
    void updateTip(HWND tool, std::wstring& kept, const std::string& tip);
    /// Runs the resize event when the window reports a state other than the one last reported.
    void stateReported(platform::WindowState state);
    platform::WindowState reportedState() const;
    void raiseLostFocus(HWND control);
    /// The control that takes the focus when the window is activated or restored.
    HWND focusOnActivation() const;

    EventGate& gate_;
    const platform::WindowDesign& design_;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    HWND picture2_ = nullptr;
    HWND logo_ = nullptr;
    std::array<std::unique_ptr<Win32TextBox>, 5> text1_;
    std::array<std::unique_ptr<Win32TextBox>, 5> text2_;
    std::array<std::unique_ptr<Win32Label>, 2> headings_;
    /// Hidden labels before each box, which screen readers take as the box's name.
    std::vector<HWND> accessibleLabels_;
    Win32Timer timer_;
    Artwork artwork_;
    GdiObject<HFONT> headingFont_;
    GdiObject<HFONT> boxFont_;
    GdiObject<HBRUSH> background_;
    GdiObject<HBRUSH> text1Brush_;
    GdiObject<HBRUSH> text2Brush_;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    platform::MousePointer pointer_ = platform::MousePointer::Default;
    /// Where the focus went when a box lost it, as its WM_KILLFOCUS said; EN_KILLFOCUS follows at once.
    HWND focusGoesTo_ = nullptr;
    /// The control that held the focus when the window was deactivated, given it back on activation.
    HWND lastFocus_ = nullptr;
    /// The first control in the tab order, which has the focus when the window first shows.
    HWND firstTabStop_ = nullptr;
    /// Set when a box's lost-focus event ran during a focus move of ours.
    bool lostFocusRaised_ = false;
    bool shown_ = false;
    /// The state last reported to the core; before the first show, the state the window will be shown in.
    platform::WindowState lastState_ = platform::WindowState::Minimised;
    bool unloading_ = false;
};

/// A length in twips as pixels at `dpi`.
inline int Pixels(int twips, UINT dpi) {
    return MulDiv(twips, static_cast<int>(dpi), platform::kTwipsPerInch);
}

}  // namespace selvatro::platform::win32
