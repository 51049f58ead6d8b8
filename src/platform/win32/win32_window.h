#pragma once

// The window Form1 in plain Win32: one top-level window built from the design table, its edit and static controls
// subclassed for what the driver needs to hear, a tooltip control for the tips, and the logo drawn in a window class
// of its own. It reports its messages' facts to the portable window driver and carries out the driver's requests;
// no exception ever crosses a window procedure. The form lives in win32_window.cpp, the boxes, headings, tips and
// accessible names in win32_controls.cpp, the logo in win32_logo.cpp.

#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_artwork.h"
#include "platform/win32/win32_timer.h"
#include "platform/window_design.h"
#include "platform/window_driver.h"

namespace selvatro::platform::win32 {

/// The control identifiers, clear of IDOK and IDCANCEL, which IsDialogMessageW sends for Enter and Escape, and the
/// one way between a box and its identifier.
namespace control_id {
inline constexpr int kText1 = 100;    // + row
inline constexpr int kText2 = 200;    // + row
inline constexpr int kHeading = 300;  // + index
inline constexpr int kPicture2 = 400;
inline constexpr int kLogo = 401;

inline int OfBox(BoxId box) {
    return (box.isPath ? kText1 : kText2) + box.row;
}
/// The box that `id` names, or nothing for another control.
inline std::optional<BoxId> BoxOf(int id) {
    if (id >= kText1 && id < kText1 + kRowCount) {
        return BoxId{true, id - kText1};
    }
    if (id >= kText2 && id < kText2 + kRowCount) {
        return BoxId{false, id - kText2};
    }
    return std::nullopt;
}
}  // namespace control_id

/// Form1 with its controls, created hidden and minimised with its design-time texts; shown by the driver.
class FormWindow final : public WindowBackend {
public:
    /// Builds the window and attaches it to `driver`. Throws std::runtime_error when no window can be made.
    FormWindow(WindowDriver& driver, const platform::WindowDesign& design);
    ~FormWindow() override;
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    void setCaption(const std::string& caption) override;
    platform::WindowState currentState() const override;
    void showFirst(platform::WindowState state) override;
    void changeState(platform::WindowState state) override;
    void bringToFront() override;
    void setPointer(platform::MousePointer pointer) override;
    std::string text(BoxId box) const override;
    void putText(BoxId box, const std::string& text) override;
    void setTip(BoxId box, const std::string& tip) override;
    void focus(BoxId box) override;
    void selectFromCaret(BoxId box, int length) override;
    void describe(BoxId box, const std::string& name, const std::string& description) override;
    void describeLogo(const std::string& name, const std::string& description) override;
    void setHeadingCaption(int index, const std::string& caption) override;
    void setHeadingTip(int index, const std::string& tip) override;
    void runTimer(bool running) override;
    std::optional<std::string> openDialog(const OpenRequest& request) override;

    /// Handles the keyboard navigation of the window's controls (Tab, Shift+Tab) for a message of the loop; true
    /// when the message was handled.
    bool preTranslate(MSG& message);

    WindowDriver& driver() { return driver_; }
    HWND handle() const { return hwnd_; }
    HWND edit(BoxId box) const { return (box.isPath ? text1_ : text2_).at(static_cast<std::size_t>(box.row)); }
    HWND heading(int index) const { return headings_.at(static_cast<std::size_t>(index)); }
    HWND picture2() const { return picture2_; }
    HWND logo() const { return logo_; }
    /// The window's resolution in dots per inch.
    UINT dpi() const { return dpi_; }
    /// The tip that the tooltip control shows for `tool` now.
    std::wstring tipOf(HWND tool) const;
    /// How late the last tick came after its due instant, in milliseconds.
    double lastLatenessMs() const { return timer_.lastLatenessMs(); }

private:
    static LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK LogoProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                            DWORD_PTR data);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleLogo(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleControl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id);
    /// An edit control's notification (EN_CHANGE, EN_SETFOCUS, EN_KILLFOCUS).
    void onEditNotification(int id, int code, HWND edit);

    void registerClasses();
    void createControls();
    void createBox(BoxId box);
    void createHeading(int index);
    void createLogo();
    void layOut(bool placeWindow);
    void makeFonts();
    void addTool(HWND tool, const std::wstring& tip);
    void updateTip(HWND tool, std::wstring& kept, const std::string& tip);
    /// The control that takes the focus when the window is activated or restored.
    HWND focusOnActivation() const;
    /// Hands the names and descriptions kept for screen readers to the system's annotation service, once one asks.
    void annotatePending();

    WindowDriver& driver_;
    const platform::WindowDesign& design_;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    HWND picture2_ = nullptr;
    HWND logo_ = nullptr;
    std::array<HWND, kRowCount> text1_{};
    std::array<HWND, kRowCount> text2_{};
    std::array<std::wstring, kRowCount> text1Tips_;
    std::array<std::wstring, kRowCount> text2Tips_;
    std::array<HWND, 2> headings_{};
    std::array<std::wstring, 2> headingTips_;
    /// What a screen reader is to be told of a control, kept until one first asks: the annotation service is a COM
    /// server (oleacc) that a logon without a screen reader never needs to load.
    struct Annotation {
        HWND control;
        std::wstring name;
        std::string description;
    };
    std::vector<Annotation> pendingAnnotations_;
    /// Hidden labels before each box, which screen readers take as the box's name.
    std::array<HWND, kRowCount> text1Labels_{};
    std::array<HWND, kRowCount> text2Labels_{};
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
};

/// A length in twips as pixels at `dpi`.
inline int Pixels(int twips, UINT dpi) {
    return MulDiv(twips, static_cast<int>(dpi), platform::kTwipsPerInch);
}

}  // namespace selvatro::platform::win32
