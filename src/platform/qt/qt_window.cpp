#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QShowEvent>
#include <algorithm>

#include "platform/qt/artwork.h"

namespace selvatro::platform::qt {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QColor FromBgr(platform::Colour colour) {
    return QColor(colour.red(), colour.green(), colour.blue());
}

QRect Geometry(platform::Rect r) {
    return QRect(Pixels(r.left), Pixels(r.top), Pixels(r.width), Pixels(r.height));
}

void Paint(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

// The copyright line that the logo shows as its tip, with the address that a click on the logo opens.
constexpr std::string_view kLogoTip = "Copyright © Tovrel - " SELVATRO_PUBLISHER_URL;

}  // namespace

// ---- text boxes ----

void BoxEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Switching to another application, or to a dialog of our own, is not a move between the window's controls.
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && onLostFocus) {
        onLostFocus();
    }
}

void BoxEdit::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    // Qt gave the box the focus on the press; the click comes with the release, over the box.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick) {
        onClick();
    }
}

void BoxEdit::mouseMoveEvent(QMouseEvent* event) {
    QLineEdit::mouseMoveEvent(event);
    event->accept();
    if (onMouseMove) {
        onMouseMove();
    }
}

QtTextBox::QtTextBox(EventGate& gate, QWidget* parent, bool isPathBox, std::int16_t index)
    : gate_(gate), edit_(new BoxEdit(parent)) {
    edit_->setMouseTracking(true);
    // Each change of the text, typed or set by code, raises the change event synchronously; Qt emits nothing
    // for the text the box already holds.
    QObject::connect(edit_, &QLineEdit::textChanged, [this, isPathBox, index] {
        gate_.raise(
            [isPathBox, index](platform::FormEvents& e) { isPathBox ? e.Text1_Change(index) : e.Text2_Change(index); });
    });
    edit_->onLostFocus = [this, isPathBox, index] {
        gate_.raise([isPathBox, index](platform::FormEvents& e) {
            isPathBox ? e.Text1_LostFocus(index) : e.Text2_LostFocus(index);
        });
    };
    edit_->onMouseMove = [this, isPathBox, index] {
        gate_.raise([isPathBox, index](platform::FormEvents& e) {
            isPathBox ? e.Text1_MouseMove(index) : e.Text2_MouseMove(index);
        });
    };
    if (isPathBox) {
        edit_->onClick = [this, index] { gate_.raise([index](platform::FormEvents& e) { e.Text1_Click(index); }); };
    }
}

std::string QtTextBox::text() const {
    return edit_->text().toStdString();
}

void QtTextBox::setText(const std::string& text) {
    const QString next = QString::fromStdString(text);
    if (next == edit_->text()) {
        return;
    }
    // The caret keeps its place, clipped to the new text, as an edit control's does: after the loader's
    // assignment it stands at the start, so that a later selection from the caret takes the whole path.
    const int caret = edit_->cursorPosition();
    gate_.callToolkit([&] {
        edit_->setText(next);
        edit_->setCursorPosition(std::min(caret, static_cast<int>(edit_->text().size())));
    });
}

void QtTextBox::setTip(const std::string& tip) {
    edit_->setToolTip(QString::fromStdString(tip));
}

void QtTextBox::setFocus() {
    gate_.callToolkit([&] {
        QWidget* window = edit_->window();
        QWidget* had = window->focusWidget();
        edit_->setFocus(Qt::OtherFocusReason);
        // While the window is not active (minimised, or a dialog of ours just closed and the window manager has
        // not given the focus back yet), Qt only records the new focus and sends no focus-out. The control that
        // held the window's focus loses it all the same.
        if (!window->isActiveWindow() && had != edit_) {
            if (auto* box = dynamic_cast<BoxEdit*>(had); box != nullptr && box->onLostFocus) {
                box->onLostFocus();
            }
        }
    });
}

void QtTextBox::setSelectionLength(int length) {
    // Characters, not UTF-16 units: walk `length` code points on from the caret, clipped at the end.
    const QString current = edit_->text();
    const qsizetype start = edit_->cursorPosition();
    qsizetype end = start;
    for (int n = 0; n < length && end < current.size(); ++n) {
        end += (current.at(end).isHighSurrogate() && end + 1 < current.size()) ? 2 : 1;
    }
    edit_->setSelection(static_cast<int>(start), static_cast<int>(end - start));
}

// ---- labels ----

void HeadingLabel::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (onMouseMove) {
        onMouseMove();
    }
}

QtLabel::QtLabel(EventGate& gate, QWidget* parent, std::int16_t index) : label_(new HeadingLabel(parent)) {
    label_->setMouseTracking(true);
    label_->setTextFormat(Qt::PlainText);
    label_->onMouseMove = [&gate, index] {
        gate.raise([index](platform::FormEvents& e) { e.Aff_Programme_MouseMove(index); });
    };
}

void QtLabel::setCaption(const std::string& caption) {
    label_->setText(QString::fromStdString(caption));
}

void QtLabel::setTip(const std::string& tip) {
    label_->setToolTip(QString::fromStdString(tip));
}

// ---- the logo ----

void LogoFrame::mouseMoveEvent(QMouseEvent* event) {
    event->accept();  // no procedure of its own; the background's must not run either
}

void LogoImage::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick) {
        onClick();
    }
}

void LogoImage::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (onMouseMove) {
        onMouseMove();
    }
}

void LogoImage::paintEvent(QPaintEvent* event) {
    if (!drawn_) {
        drawn_ = true;
        setPixmap(Banner());
    }
    QLabel::paintEvent(event);
}

// ---- the timer ----

QtTimer::QtTimer(EventGate& gate, int intervalMs) : gate_(gate) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(intervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { gate_.tick(); });
}

void QtTimer::setEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;  // restarting a running timer would shift its ticks
    }
    enabled_ = enabled;
    if (!live_) {
        return;
    }
    if (enabled_) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

void QtTimer::goLive() {
    if (live_) {
        return;
    }
    live_ = true;
    if (enabled_) {
        timer_.start();
    }
}

// ---- the window ----

void FormWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        owner_.stateChanged();
    }
}

void FormWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Qt also sends a show event when a hidden window leaves the minimised state (the load event setting it to
    // normal); only a window that is really shown counts.
    if (isVisible()) {
        owner_.firstShown();
    }
}

void FormWidget::closeEvent(QCloseEvent* event) {
    // The unload event decides; it saves the list and ends the process, so the window never closes by itself.
    event->ignore();
    owner_.requestUnload();
}

void FormWidget::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    owner_.gate_.raise([](platform::FormEvents& e) { e.Form_MouseMove(); });
}

FormWindow::FormWindow(EventGate& gate, const platform::WindowDesign& design)
    : gate_(gate), widget_(std::make_unique<FormWidget>(*this)), timer_(gate, design.timerIntervalMs) {
    QWidget* form = widget_.get();
    // The window has a fixed size: its title bar offers no maximise button, only minimise and close.
    form->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    form->setWindowTitle(FromUtf8(design.caption));
    form->setWindowIcon(AppIcon());
    form->setFixedSize(Pixels(design.form.width), Pixels(design.form.height));
    form->move(Pixels(design.form.left), Pixels(design.form.top));
    form->setAutoFillBackground(true);
    Paint(form, QPalette::Window, FromBgr(design.background));
    form->setMouseTracking(true);

    const QFont headingFont = HeadingFont(design);
    const QColor highlight = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    for (std::int16_t i = 0; i < 2; ++i) {
        const auto at = static_cast<std::size_t>(i);
        auto& heading = headings_.at(at);
        heading = std::make_unique<QtLabel>(gate_, form, i);
        QLabel* label = heading->label();
        label->setGeometry(Geometry(design.headings.at(at)));
        label->setFont(headingFont);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Paint(label, QPalette::WindowText, highlight);
        label->setText(FromUtf8(design.headingCaptions.at(at)));
    }

    for (std::int16_t i = 0; i < 5; ++i) {
        const auto at = static_cast<std::size_t>(i);
        text1_.at(at) = std::make_unique<QtTextBox>(gate_, form, true, i);
        BoxEdit* path = text1_.at(at)->edit();
        path->setGeometry(Geometry(design.text1.at(at)));
        Paint(path, QPalette::Base, FromBgr(design.text1Background));
        path->setToolTip(FromUtf8(design.text1Tip));

        text2_.at(at) = std::make_unique<QtTextBox>(gate_, form, false, i);
        BoxEdit* delay = text2_.at(at)->edit();
        delay->setGeometry(Geometry(design.text2.at(at)));
        Paint(delay, QPalette::Base, FromBgr(design.text2Background));
        delay->setAlignment(Qt::AlignCenter);
        delay->setToolTip(FromUtf8(design.text2Tip));
    }

    picture2_ = new LogoFrame(form);
    picture2_->setGeometry(Geometry(design.picture2));
    picture2_->setFrameShape(QFrame::NoFrame);
    picture2_->setFocusPolicy(Qt::StrongFocus);
    picture2_->setMouseTracking(true);
    logo_ = new LogoImage(picture2_);
    logo_->setGeometry(Geometry(design.imageTovrel));  // may start outside the frame, which clips it
    logo_->setScaledContents(true);
    logo_->setMouseTracking(true);
    logo_->setToolTip(FromUtf8(kLogoTip));
    logo_->onMouseMove = [this] { gate_.raise([](platform::FormEvents& e) { e.Image_Tovrel_MouseMove(); }); };
    logo_->onClick = [this] { gate_.raise([](platform::FormEvents& e) { e.Image_Tovrel_Click(); }); };

    QWidget* previous = nullptr;
    for (const platform::TabStop& stop : design.tabOrder) {
        QWidget* next = tabWidget(stop);
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, next);
        }
        previous = next;
    }
}

QWidget* FormWindow::tabWidget(platform::TabStop stop) const {
    const auto row = static_cast<std::size_t>(stop.row);
    switch (stop.control) {
        case platform::TabControl::Text1:
            return text1_.at(row)->edit();
        case platform::TabControl::Text2:
            return text2_.at(row)->edit();
        case platform::TabControl::Picture2:
            break;
    }
    return picture2_;
}

FormWindow::~FormWindow() {
    // Destroying the window moves the focus out of its boxes: no event may reach the wrappers, which go first,
    // nor the form, which may be gone already.
    for (auto* boxes : {&text1_, &text2_}) {
        for (auto& box : *boxes) {
            box->edit()->onLostFocus = nullptr;
            box->edit()->onClick = nullptr;
            box->edit()->onMouseMove = nullptr;
        }
    }
    for (auto& heading : headings_) {
        heading->label()->onMouseMove = nullptr;
    }
    widget_.reset();
}

void FormWindow::setCaption(const std::string& caption) {
    widget_->setWindowTitle(QString::fromStdString(caption));
}

platform::WindowState FormWindow::windowState() const {
    if (!shown_) {
        return lastState_;
    }
    const Qt::WindowStates state = widget_->windowState();
    if (state.testFlag(Qt::WindowMinimized)) {
        return platform::WindowState::Minimised;
    }
    if (state.testFlag(Qt::WindowMaximized)) {
        return platform::WindowState::Maximised;
    }
    return platform::WindowState::Normal;
}

void FormWindow::setWindowState(platform::WindowState state) {
    if (!shown_) {
        // Before the first show the state is only remembered: handing it to Qt this early makes the platform
        // window report the states it went through after the show, which would run the resize event for states
        // long gone. The show applies it.
        lastState_ = state;
        return;
    }
    Qt::WindowStates next =
        widget_->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (state == platform::WindowState::Minimised) {
        next |= Qt::WindowMinimized;
    } else if (state == platform::WindowState::Maximised) {
        next |= Qt::WindowMaximized;
    }
    // Qt sends WindowStateChange inside this call, which runs the resize event to its end.
    gate_.callToolkit([&] {
        widget_->setWindowState(next);
        if (state == platform::WindowState::Normal) {
            widget_->activateWindow();
        }
    });
}

void FormWindow::setMousePointer(platform::MousePointer pointer) {
    if (pointer == platform::MousePointer::Custom) {
        if (!goCursor_) {
            goCursor_ = GoCursor();
        }
        widget_->setCursor(*goCursor_);
    } else {
        widget_->unsetCursor();
    }
}

platform::Controls FormWindow::controls(platform::FileDialog& dialog) {
    return platform::Controls{*this,
                              {text1_[0].get(), text1_[1].get(), text1_[2].get(), text1_[3].get(), text1_[4].get()},
                              {text2_[0].get(), text2_[1].get(), text2_[2].get(), text2_[3].get(), text2_[4].get()},
                              {headings_[0].get(), headings_[1].get()},
                              timer_,
                              dialog};
}

void FormWindow::showInState() {
    switch (lastState_) {
        case platform::WindowState::Minimised:
            widget_->showMinimized();
            break;
        case platform::WindowState::Maximised:
            widget_->showMaximized();
            break;
        case platform::WindowState::Normal:
            widget_->show();
            break;
    }
}

void FormWindow::requestUnload() {
    if (unloading_) {
        return;  // a second close while the list is being saved changes nothing
    }
    unloading_ = true;
    gate_.raise([](platform::FormEvents& e) {
        std::int16_t cancel = 0;
        e.Form_Unload(cancel);
    });
    unloading_ = false;  // only reached when the unload kept the window open
}

void FormWindow::showAgain() {
    // Through the gate, as an event from the event loop: an error escaping the resize event ends the process.
    gate_.raise([this](platform::FormEvents&) {
        setWindowState(platform::WindowState::Normal);  // also activates the window
        widget_->raise();                               // a window that was normal already may lie under others
    });
}

void FormWindow::setAccessibleTexts(const platform::AccessibleTexts& texts) {
    const auto forRow = [](std::string_view text, int row) {
        return FromUtf8(text).replace(QLatin1String("{row}"), QString::number(row + 1));
    };
    for (int row = 0; row < 5; ++row) {
        BoxEdit* path = text1(row).edit();
        path->setAccessibleName(forRow(texts.pathName, row));
        path->setAccessibleDescription(FromUtf8(texts.pathDescription));
        BoxEdit* delay = text2(row).edit();
        delay->setAccessibleName(forRow(texts.delayName, row));
        delay->setAccessibleDescription(FromUtf8(texts.delayDescription));
    }
    // The frame takes the focus, so it is what a screen reader announces; the image is what the mouse finds.
    for (QWidget* logo : {static_cast<QWidget*>(picture2_), static_cast<QWidget*>(logo_)}) {
        logo->setAccessibleName(FromUtf8(texts.logoName));
        logo->setAccessibleDescription(FromUtf8(texts.logoDescription));
    }
}

void FormWindow::stateChanged() {
    if (!shown_) {
        return;  // before the first show the resize event does not run; the show raises it
    }
    // Qt also reports changes of flags that are no window state here (the window becoming active, say).
    const platform::WindowState now = windowState();
    if (now == lastState_) {
        return;
    }
    lastState_ = now;
    gate_.raise([](platform::FormEvents& e) { e.Form_Resize(); });
}

void FormWindow::firstShown() {
    if (shown_) {
        return;
    }
    shown_ = true;
    lastState_ = windowState();
    timer_.goLive();
    gate_.raise([](platform::FormEvents& e) { e.Form_Resize(); });
}

}  // namespace selvatro::platform::qt
