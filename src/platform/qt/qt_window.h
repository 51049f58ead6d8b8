#pragma once

// The window Form1 on Qt: the widgets built from the window's design table, each wired to its events as the
// toolkit rules require, behind the platform interfaces that the core uses.

#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "platform/event_gate.h"
#include "platform/platform.h"
#include "platform/window_design.h"

namespace selvatro::platform::qt {

class FormWindow;

/// The line edit behind a text box: reports lost focus, clicks and mouse moves.
class BoxEdit final : public QLineEdit {
public:
    explicit BoxEdit(QWidget* parent) : QLineEdit(parent) {}
    std::function<void()> onLostFocus;
    std::function<void()> onClick;
    std::function<void()> onMouseMove;

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

/// A path box or a delay box.
class QtTextBox final : public platform::TextBox {
public:
    QtTextBox(EventGate& gate, QWidget* parent, bool isPathBox, std::int16_t index);
    std::string text() const override;
    void setText(const std::string& text) override;
    void setTip(const std::string& tip) override;
    void setFocus() override;
    void setSelectionLength(int length) override;

    BoxEdit* edit() const { return edit_; }

private:
    EventGate& gate_;
    BoxEdit* edit_;
};

/// A heading: reports mouse moves.
class HeadingLabel final : public QLabel {
public:
    explicit HeadingLabel(QWidget* parent) : QLabel(parent) {}
    std::function<void()> onMouseMove;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
};

class QtLabel final : public platform::Label {
public:
    QtLabel(EventGate& gate, QWidget* parent, std::int16_t index);
    void setCaption(const std::string& caption) override;
    void setTip(const std::string& tip) override;
    HeadingLabel* label() const { return label_; }

private:
    HeadingLabel* label_;
};

/// The logo's frame: takes the focus in the tab order and swallows mouse moves, so that none reaches the window's
/// background through it.
class LogoFrame final : public QFrame {
public:
    explicit LogoFrame(QWidget* parent) : QFrame(parent) {}

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
};

/// The logo inside its frame: reports clicks and mouse moves. The banner is drawn when the logo is first painted:
/// a window that stays minimised through a logon never shows it.
class LogoImage final : public QLabel {
public:
    explicit LogoImage(QWidget* parent) : QLabel(parent) {}
    std::function<void()> onClick;
    std::function<void()> onMouseMove;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool drawn_ = false;
};

/// Timer1: ticks every 1000 ms while enabled, once the window has been shown, through the gate (which drops a
/// tick that falls due inside another or behind a dialog of ours).
class QtTimer final : public platform::Timer {
public:
    QtTimer(EventGate& gate, int intervalMs);
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }

    /// Lets the timer run from now on, when it is enabled; called when the window is first shown.
    void goLive();
    /// Whether the underlying Qt timer runs now.
    bool isRunning() const { return timer_.isActive(); }

private:
    EventGate& gate_;
    QTimer timer_;
    bool enabled_ = true;  // enabled at design time
    bool live_ = false;
};

/// The window's own widget: reports state changes, the first show, closing and moves over its background.
class FormWidget final : public QWidget {
public:
    explicit FormWidget(FormWindow& owner) : owner_(owner) {}

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    FormWindow& owner_;
};

/// Form1 with its controls, built from the design table, created minimised with its design-time texts.
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
    /// Brings the window back for a later start of the program: restored to normal as the user restores it (the
    /// resize event runs, so the count pauses), then raised and activated. Raised from the event loop.
    void showAgain();
    /// Gives the boxes and the logo what a screen reader says of them, in the language that the load event chose.
    void setAccessibleTexts(const platform::AccessibleTexts& texts);

    QWidget* widget() const { return widget_.get(); }
    QtTextBox& text1(int row) { return *text1_.at(static_cast<std::size_t>(row)); }
    QtTextBox& text2(int row) { return *text2_.at(static_cast<std::size_t>(row)); }
    QtLabel& heading(int index) { return *headings_.at(static_cast<std::size_t>(index)); }
    LogoFrame* picture2() const { return picture2_; }
    LogoImage* logo() const { return logo_; }
    QtTimer& timer() { return timer_; }
    EventGate& gate() { return gate_; }

private:
    friend class FormWidget;
    QWidget* tabWidget(platform::TabStop stop) const;
    void stateChanged();
    void firstShown();

    EventGate& gate_;
    std::unique_ptr<FormWidget> widget_;
    std::array<std::unique_ptr<QtTextBox>, 5> text1_;
    std::array<std::unique_ptr<QtTextBox>, 5> text2_;
    std::array<std::unique_ptr<QtLabel>, 2> headings_;
    LogoFrame* picture2_ = nullptr;
    LogoImage* logo_ = nullptr;
    QtTimer timer_;
    /// The custom pointer, drawn when first asked for: a logon never needs it.
    std::optional<QCursor> goCursor_;
    bool shown_ = false;
    /// The state last reported to the core; before the first show, the state the window will be shown in
    /// (created minimised).
    platform::WindowState lastState_ = platform::WindowState::Minimised;
    bool unloading_ = false;
};

/// A length in twips as logical pixels: Qt's logical pixel is 1/96 inch, and Qt scales it for high-dpi screens.
constexpr int Pixels(int twips) {
    constexpr int kLogicalDpi = 96;
    return twips * kLogicalDpi / platform::kTwipsPerInch;
}

}  // namespace selvatro::platform::qt
