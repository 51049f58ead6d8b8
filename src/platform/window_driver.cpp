#include "platform/window_driver.h"

#include "platform/errors.h"

namespace selvatro::platform {

std::vector<FilterEntry> SplitFilter(const std::string& filter) {
    std::vector<std::string> parts;
    std::string::size_type from = 0;
    for (;;) {
        const std::string::size_type bar = filter.find('|', from);
        parts.push_back(filter.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
        if (bar == std::string::npos) {
            break;
        }
        from = bar + 1;
    }
    std::vector<FilterEntry> entries;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        entries.push_back({parts[i], parts[i + 1]});
    }
    return entries;
}

std::string ForRow(std::string_view text, int row) {
    std::string named(text);
    const std::string::size_type at = named.find("{row}");
    if (at != std::string::npos) {
        named.replace(at, 5, std::to_string(row + 1));
    }
    return named;
}

// ---- the controls, as the core sees them ----

class WindowDriver::Box final : public TextBox {
public:
    Box(WindowDriver& driver, BoxId id) : driver_(driver), id_(id) {}

    std::string text() const override { return driver_.backend_->text(id_); }

    void setText(const std::string& text) override {
        // A toolkit may report a change for the text the box holds already: the same text raises nothing.
        if (text == driver_.backend_->text(id_)) {
            return;
        }
        driver_.gate_.callToolkit([&] { driver_.backend_->putText(id_, text); });
    }

    void setTip(const std::string& tip) override { driver_.backend_->setTip(id_, tip); }

    void setFocus() override {
        driver_.gate_.callToolkit([&] {
            // While the window is not active (minimised, or a dialog of ours just closed), a toolkit moves no focus
            // and reports no loss; the box that held the window's focus loses it all the same.
            const std::optional<BoxId> had = driver_.focused_;
            driver_.lossReported_ = false;
            driver_.backend_->focus(id_);
            driver_.focused_ = id_;
            if (!driver_.lossReported_ && had && *had != id_) {
                driver_.raiseLostFocus(*had);
            }
        });
    }

    void setSelectionLength(int length) override { driver_.backend_->selectFromCaret(id_, length); }

private:
    WindowDriver& driver_;
    BoxId id_;
};

class WindowDriver::Heading final : public Label {
public:
    Heading(WindowDriver& driver, int index) : driver_(driver), index_(index) {}
    void setCaption(const std::string& caption) override { driver_.backend_->setHeadingCaption(index_, caption); }
    void setTip(const std::string& tip) override { driver_.backend_->setHeadingTip(index_, tip); }

private:
    WindowDriver& driver_;
    int index_;
};

// Enabled at design time, yet no tick comes before the window is first shown.
class WindowDriver::DriverTimer final : public Timer {
public:
    explicit DriverTimer(WindowDriver& driver) : driver_(driver) {}

    void setEnabled(bool enabled) override {
        if (enabled == enabled_) {
            return;  // restarting a running timer would shift its ticks
        }
        enabled_ = enabled;
        if (live_) {
            driver_.backend_->runTimer(enabled_);
        }
    }
    bool isEnabled() const override { return enabled_; }

    void goLive() {
        if (live_) {
            return;
        }
        live_ = true;
        if (enabled_) {
            driver_.backend_->runTimer(true);
        }
    }

private:
    WindowDriver& driver_;
    bool enabled_ = true;
    bool live_ = false;
};

// Its settings and its last file name persist from one opening to the next, as the window's one dialog's do.
class WindowDriver::Dialog final : public FileDialog {
public:
    Dialog(WindowDriver& driver, std::string title) : driver_(driver) { request_.title = std::move(title); }
    void setTitle(const std::string& title) override { request_.title = title; }
    void setCancelError(bool cancelError) override { request_.cancelError = cancelError; }
    void setFlags(std::int32_t flags) override { request_.flags = flags; }
    void setFilter(const std::string& filter) override { request_.filter = SplitFilter(filter); }
    void setFilterIndex(std::int16_t index) override { request_.filterIndex = index; }
    void setPlaces(const std::vector<std::string>& folders) override { request_.places = folders; }

    void showOpen() override {
        std::optional<std::string> chosen;
        driver_.gate_.runModal([&] { chosen = driver_.backend_->openDialog(request_); });
        if (chosen) {
            fileName_ = *chosen;
            return;
        }
        if (request_.cancelError) {
            throw DialogCancelled();
        }
        fileName_.clear();
    }
    std::string fileName() const override { return fileName_; }
    const OpenRequest& settings() const { return request_; }

private:
    WindowDriver& driver_;
    OpenRequest request_;
    std::string fileName_;
};

// ---- the window ----

WindowDriver::WindowDriver(EventGate& gate, const WindowDesign& design)
    : gate_(gate),
      timer_(std::make_unique<DriverTimer>(*this)),
      dialog_(std::make_unique<Dialog>(*this, std::string(design.dialogTitle))) {
    for (int row = 0; row < kRowCount; ++row) {
        const auto at = static_cast<std::size_t>(row);
        text1_.at(at) = std::make_unique<Box>(*this, BoxId{true, row});
        text2_.at(at) = std::make_unique<Box>(*this, BoxId{false, row});
    }
    for (int index = 0; index < 2; ++index) {
        headings_.at(static_cast<std::size_t>(index)) = std::make_unique<Heading>(*this, index);
    }
}

WindowDriver::~WindowDriver() = default;

Controls WindowDriver::controls() {
    Controls controls{*this, {}, {}, {headings_[0].get(), headings_[1].get()}, *timer_, *dialog_};
    for (std::size_t row = 0; row < text1_.size(); ++row) {
        controls.text1.at(row) = text1_.at(row).get();
        controls.text2.at(row) = text2_.at(row).get();
    }
    return controls;
}

const OpenRequest& WindowDriver::dialogSettings() const {
    return dialog_->settings();
}

void WindowDriver::setCaption(const std::string& caption) {
    backend_->setCaption(caption);
}

WindowState WindowDriver::windowState() const {
    return shown_ ? backend_->currentState() : lastState_;
}

void WindowDriver::setWindowState(WindowState state) {
    if (!shown_) {
        // Before the first show the state is only remembered, and the show applies it: a toolkit handed it this
        // early reports the states it went through after the show, which would run the resize event for states
        // long gone.
        lastState_ = state;
        return;
    }
    // The toolkit reports the change inside the call, which runs the resize event to its end.
    gate_.callToolkit([&] {
        backend_->changeState(state);
        stateChanged();
    });
}

void WindowDriver::setMousePointer(MousePointer pointer) {
    if (pointer == pointer_) {
        return;
    }
    pointer_ = pointer;
    backend_->setPointer(pointer);
}

void WindowDriver::showInState() {
    if (shown_) {
        return;
    }
    // A toolkit may report the first show's states (at times twice, or one the window passes through): the resize
    // event runs once, after the show, for the state the window is in.
    backend_->showFirst(lastState_);
    shown_ = true;
    lastState_ = backend_->currentState();
    timer_->goLive();
    gate_.raise([](FormEvents& e) { e.Form_Resize(); });
}

void WindowDriver::requestUnload() {
    if (unloading_) {
        return;  // a second close while the list is being saved changes nothing
    }
    unloading_ = true;
    gate_.raise([](FormEvents& e) {
        std::int16_t cancel = 0;
        e.Form_Unload(cancel);
    });
    unloading_ = false;  // only reached when the unload kept the window open
}

void WindowDriver::showAgain() {
    // Through the gate, as an event from the event loop: an error escaping the resize event ends the process.
    gate_.raise([this](FormEvents&) {
        if (!shown_) {
            showInState();
        }
        setWindowState(WindowState::Normal);
        backend_->bringToFront();  // a window that was normal already may lie under others
    });
}

void WindowDriver::setAccessibleTexts(const AccessibleTexts& texts) {
    for (int row = 0; row < kRowCount; ++row) {
        backend_->describe({true, row}, ForRow(texts.pathName, row), std::string(texts.pathDescription));
        backend_->describe({false, row}, ForRow(texts.delayName, row), std::string(texts.delayDescription));
    }
    backend_->describeLogo(std::string(texts.logoName), std::string(texts.logoDescription));
}

void WindowDriver::stateChanged() {
    if (!shown_) {
        return;  // before the first show the resize event does not run; the show raises it
    }
    // Toolkits also report what is no change of state (a plain move, the window becoming active, a second
    // SIZE_MINIMIZED).
    const WindowState now = backend_->currentState();
    if (now == lastState_) {
        return;
    }
    lastState_ = now;
    gate_.raise([](FormEvents& e) { e.Form_Resize(); });
}

void WindowDriver::textChanged(BoxId box) {
    const auto row = static_cast<std::int16_t>(box.row);
    gate_.raise([isPath = box.isPath, row](FormEvents& e) { isPath ? e.Text1_Change(row) : e.Text2_Change(row); });
}

void WindowDriver::focusGained(std::optional<BoxId> box) {
    focused_ = box;
}

void WindowDriver::focusLost(BoxId box) {
    if (focused_ == box) {
        focused_.reset();
    }
    raiseLostFocus(box);
}

void WindowDriver::raiseLostFocus(BoxId box) {
    lossReported_ = true;
    const auto row = static_cast<std::int16_t>(box.row);
    gate_.raise(
        [isPath = box.isPath, row](FormEvents& e) { isPath ? e.Text1_LostFocus(row) : e.Text2_LostFocus(row); });
}

void WindowDriver::clicked(Pointed what, int index) {
    const auto at = static_cast<std::int16_t>(index);
    if (what == Pointed::Text1) {
        gate_.raise([at](FormEvents& e) { e.Text1_Click(at); });
    } else if (what == Pointed::Logo) {
        gate_.raise([](FormEvents& e) { e.Image_Tovrel_Click(); });
    }
}

void WindowDriver::mouseMoved(Pointed what, int index) {
    const auto at = static_cast<std::int16_t>(index);
    switch (what) {
        case Pointed::Background:
            gate_.raise([](FormEvents& e) { e.Form_MouseMove(); });
            break;
        case Pointed::Text1:
            gate_.raise([at](FormEvents& e) { e.Text1_MouseMove(at); });
            break;
        case Pointed::Text2:
            gate_.raise([at](FormEvents& e) { e.Text2_MouseMove(at); });
            break;
        case Pointed::Heading:
            gate_.raise([at](FormEvents& e) { e.Aff_Programme_MouseMove(at); });
            break;
        case Pointed::Logo:
            gate_.raise([](FormEvents& e) { e.Image_Tovrel_MouseMove(); });
            break;
    }
}

void WindowDriver::tickDue() {
    if (timer_->isEnabled()) {
        gate_.tick();
    }
}

}  // namespace selvatro::platform
