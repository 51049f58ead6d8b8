#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QShowEvent>
#include <algorithm>

#include "platform/qt/artwork.h"
#include "platform/qt/qt_dialogs.h"

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

}  // namespace

// ---- the widgets' reports ----

void BoxEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (onFocusIn) {
        onFocusIn();
    }
}

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

void HeadingLabel::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (onMouseMove) {
        onMouseMove();
    }
}

void LogoFrame::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    if (onFocusIn) {
        onFocusIn();
    }
}

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

void FormWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        owner_.driver_.stateChanged();
    }
}

void FormWidget::closeEvent(QCloseEvent* event) {
    // The unload event decides; it saves the list and ends the process, so the window never closes by itself.
    event->ignore();
    owner_.driver_.requestUnload();
}

void FormWidget::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    owner_.driver_.mouseMoved(Pointed::Background);
}

// ---- the window ----

FormWindow::FormWindow(WindowDriver& driver, const platform::WindowDesign& design)
    : driver_(driver), widget_(std::make_unique<FormWidget>(*this)) {
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
    for (int i = 0; i < 2; ++i) {
        const auto at = static_cast<std::size_t>(i);
        auto* label = new HeadingLabel(form);
        headings_.at(at) = label;
        label->setMouseTracking(true);
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(Geometry(design.headings.at(at)));
        label->setFont(headingFont);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Paint(label, QPalette::WindowText, highlight);
        label->setText(FromUtf8(design.headingCaptions.at(at)));
        label->onMouseMove = [this, i] { driver_.mouseMoved(Pointed::Heading, i); };
    }

    for (int row = 0; row < kRowCount; ++row) {
        const auto at = static_cast<std::size_t>(row);
        for (const bool isPath : {true, false}) {
            const BoxId id{isPath, row};
            auto* box = new BoxEdit(form);
            (isPath ? text1_ : text2_).at(at) = box;
            box->setMouseTracking(true);
            box->setGeometry(Geometry((isPath ? design.text1 : design.text2).at(at)));
            Paint(box, QPalette::Base, FromBgr(isPath ? design.text1Background : design.text2Background));
            box->setToolTip(FromUtf8(isPath ? design.text1Tip : design.text2Tip));
            if (!isPath) {
                box->setAlignment(Qt::AlignCenter);
            }
            // Each change of the text, typed or set by code, is reported synchronously; Qt emits nothing for the
            // text the box already holds.
            QObject::connect(box, &QLineEdit::textChanged, [this, id] { driver_.textChanged(id); });
            box->onFocusIn = [this, id] { driver_.focusGained(id); };
            box->onLostFocus = [this, id] { driver_.focusLost(id); };
            box->onMouseMove = [this, id] { driver_.mouseMoved(id.isPath ? Pointed::Text1 : Pointed::Text2, id.row); };
            if (isPath) {
                box->onClick = [this, row] { driver_.clicked(Pointed::Text1, row); };
            }
        }
    }

    picture2_ = new LogoFrame(form);
    picture2_->setGeometry(Geometry(design.picture2));
    picture2_->setFrameShape(QFrame::NoFrame);
    picture2_->setFocusPolicy(Qt::StrongFocus);
    picture2_->setMouseTracking(true);
    picture2_->onFocusIn = [this] { driver_.focusGained(std::nullopt); };
    logo_ = new LogoImage(picture2_);
    logo_->setGeometry(Geometry(design.imageTovrel));  // may start outside the frame, which clips it
    logo_->setScaledContents(true);
    logo_->setMouseTracking(true);
    logo_->setToolTip(FromUtf8(design.logoTip));
    logo_->onMouseMove = [this] { driver_.mouseMoved(Pointed::Logo); };
    logo_->onClick = [this] { driver_.clicked(Pointed::Logo); };

    QWidget* previous = nullptr;
    for (const platform::TabStop& stop : design.tabOrder) {
        QWidget* next = tabWidget(stop);
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, next);
        }
        previous = next;
    }

    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(design.timerIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { driver_.tickDue(); });
    driver_.attach(*this);
}

QWidget* FormWindow::tabWidget(platform::TabStop stop) const {
    switch (stop.control) {
        case platform::TabControl::Text1:
            return edit({true, stop.row});
        case platform::TabControl::Text2:
            return edit({false, stop.row});
        case platform::TabControl::Picture2:
            break;
    }
    return picture2_;
}

FormWindow::~FormWindow() {
    timer_.stop();
    // Destroying the window moves the focus out of its boxes: no report may reach the driver, which the core
    // behind it may have left already.
    for (auto* boxes : {&text1_, &text2_}) {
        for (BoxEdit* box : *boxes) {
            box->onFocusIn = nullptr;
            box->onLostFocus = nullptr;
            box->onClick = nullptr;
            box->onMouseMove = nullptr;
            QObject::disconnect(box, &QLineEdit::textChanged, nullptr, nullptr);
        }
    }
    for (HeadingLabel* heading : headings_) {
        heading->onMouseMove = nullptr;
    }
    picture2_->onFocusIn = nullptr;
    widget_.reset();
}

void FormWindow::setCaption(const std::string& caption) {
    widget_->setWindowTitle(QString::fromStdString(caption));
}

platform::WindowState FormWindow::currentState() const {
    const Qt::WindowStates state = widget_->windowState();
    if (state.testFlag(Qt::WindowMinimized)) {
        return platform::WindowState::Minimised;
    }
    if (state.testFlag(Qt::WindowMaximized)) {
        return platform::WindowState::Maximised;
    }
    return platform::WindowState::Normal;
}

void FormWindow::showFirst(platform::WindowState state) {
    shown_ = true;
    switch (state) {
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

void FormWindow::changeState(platform::WindowState state) {
    Qt::WindowStates next =
        widget_->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (state == platform::WindowState::Minimised) {
        next |= Qt::WindowMinimized;
    } else if (state == platform::WindowState::Maximised) {
        next |= Qt::WindowMaximized;
    }
    // Qt sends WindowStateChange inside this call.
    widget_->setWindowState(next);
    if (state == platform::WindowState::Normal) {
        widget_->activateWindow();
    }
}

void FormWindow::bringToFront() {
    widget_->raise();
    widget_->activateWindow();
}

void FormWindow::setPointer(platform::MousePointer pointer) {
    if (pointer == platform::MousePointer::Custom) {
        if (!goCursor_) {
            goCursor_ = GoCursor();
        }
        widget_->setCursor(*goCursor_);
    } else {
        widget_->unsetCursor();
    }
}

std::string FormWindow::text(BoxId box) const {
    return edit(box)->text().toStdString();
}

void FormWindow::putText(BoxId box, const std::string& text) {
    BoxEdit* line = edit(box);
    // The caret keeps its place, clipped to the new text, as an edit control's does: after the loader's
    // assignment it stands at the start, so that a later selection from the caret takes the whole path.
    const int caret = line->cursorPosition();
    line->setText(QString::fromStdString(text));
    line->setCursorPosition(std::min(caret, static_cast<int>(line->text().size())));
}

void FormWindow::setTip(BoxId box, const std::string& tip) {
    edit(box)->setToolTip(QString::fromStdString(tip));
}

void FormWindow::focus(BoxId box) {
    edit(box)->setFocus(Qt::OtherFocusReason);
}

void FormWindow::selectFromCaret(BoxId box, int length) {
    // Characters, not UTF-16 units: walk `length` code points on from the caret, clipped at the end.
    BoxEdit* line = edit(box);
    const QString current = line->text();
    const qsizetype start = line->cursorPosition();
    qsizetype end = start;
    for (int n = 0; n < length && end < current.size(); ++n) {
        end += (current.at(end).isHighSurrogate() && end + 1 < current.size()) ? 2 : 1;
    }
    line->setSelection(static_cast<int>(start), static_cast<int>(end - start));
}

void FormWindow::describe(BoxId box, const std::string& name, const std::string& description) {
    edit(box)->setAccessibleName(QString::fromStdString(name));
    edit(box)->setAccessibleDescription(QString::fromStdString(description));
}

void FormWindow::describeLogo(const std::string& name, const std::string& description) {
    // The frame takes the focus, so it is what a screen reader announces; the image is what the mouse finds.
    for (QWidget* logo : {static_cast<QWidget*>(picture2_), static_cast<QWidget*>(logo_)}) {
        logo->setAccessibleName(QString::fromStdString(name));
        logo->setAccessibleDescription(QString::fromStdString(description));
    }
}

void FormWindow::setHeadingCaption(int index, const std::string& caption) {
    heading(index)->setText(QString::fromStdString(caption));
}

void FormWindow::setHeadingTip(int index, const std::string& tip) {
    heading(index)->setToolTip(QString::fromStdString(tip));
}

void FormWindow::runTimer(bool running) {
    if (running) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

std::optional<std::string> FormWindow::openDialog(const OpenRequest& request) {
    return ShowOpenDialog(widget_.get(), request);
}

}  // namespace selvatro::platform::qt
