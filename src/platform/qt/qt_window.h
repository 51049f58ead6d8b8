#pragma once

// The window Form1 on Qt: the widgets built from the window's design table, reporting their toolkit's facts to the
// portable window driver and carrying out its requests.

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

#include "platform/platform.h"
#include "platform/window_design.h"
#include "platform/window_driver.h"

namespace selvatro::platform::qt {

class FormWindow;

/// The line edit behind a text box: reports the focus, clicks and mouse moves.
class BoxEdit final : public QLineEdit {
public:
    explicit BoxEdit(QWidget* parent) : QLineEdit(parent) {}
    std::function<void()> onFocusIn;
    std::function<void()> onLostFocus;
    std::function<void()> onClick;
    std::function<void()> onMouseMove;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

/// A heading: reports mouse moves.
class HeadingLabel final : public QLabel {
public:
    explicit HeadingLabel(QWidget* parent) : QLabel(parent) {}
    std::function<void()> onMouseMove;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
};

/// The logo's frame: takes the focus in the tab order and swallows mouse moves, so that none reaches the window's
/// background through it.
class LogoFrame final : public QFrame {
public:
    explicit LogoFrame(QWidget* parent) : QFrame(parent) {}
    std::function<void()> onFocusIn;

protected:
    void focusInEvent(QFocusEvent* event) override;
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

/// The window's own widget: reports state changes, closing and moves over its background.
class FormWidget final : public QWidget {
public:
    explicit FormWidget(FormWindow& owner) : owner_(owner) {}

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    FormWindow& owner_;
};

/// Form1's widgets, built from the design table, created minimised with their design-time texts; the driver
/// decides what each toolkit fact means for the form.
class FormWindow final : public WindowBackend {
public:
    /// Builds the widgets and attaches them to `driver`.
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

    WindowDriver& driver() { return driver_; }
    QWidget* widget() const { return widget_.get(); }
    BoxEdit* edit(BoxId box) const { return (box.isPath ? text1_ : text2_).at(static_cast<std::size_t>(box.row)); }
    HeadingLabel* heading(int index) const { return headings_.at(static_cast<std::size_t>(index)); }
    LogoFrame* picture2() const { return picture2_; }
    LogoImage* logo() const { return logo_; }
    /// Whether the ticks run now.
    bool timerRunning() const { return timer_.isActive(); }

private:
    friend class FormWidget;
    QWidget* tabWidget(platform::TabStop stop) const;

    WindowDriver& driver_;
    std::unique_ptr<FormWidget> widget_;
    std::array<BoxEdit*, kRowCount> text1_{};
    std::array<BoxEdit*, kRowCount> text2_{};
    std::array<HeadingLabel*, 2> headings_{};
    LogoFrame* picture2_ = nullptr;
    LogoImage* logo_ = nullptr;
    QTimer timer_;
    /// The custom pointer, drawn when first asked for: a logon never needs it.
    std::optional<QCursor> goCursor_;
    bool shown_ = false;
};

/// A length in twips as logical pixels: Qt's logical pixel is 1/96 inch, and Qt scales it for high-dpi screens.
constexpr int Pixels(int twips) {
    constexpr int kLogicalDpi = 96;
    return twips * kLogicalDpi / platform::kTwipsPerInch;
}

}  // namespace selvatro::platform::qt
