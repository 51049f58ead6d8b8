#pragma once

// The modal dialogs on Qt: message boxes and the file-open dialog, both parented to the window.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/event_gate.h"
#include "platform/platform.h"

namespace selvatro::platform::qt {

class QtMessageBoxes final : public platform::MessageBoxes {
public:
    QtMessageBoxes(EventGate& gate, QWidget* parent) : gate_(gate), parent_(parent) {}
    void show(const std::string& text, platform::MessageStyle style, const std::string& title) override;
    /// From now on each message is written to standard error as one line instead of shown: the display is gone.
    void useStandardError() { toStandardError_ = true; }

private:
    EventGate& gate_;
    QWidget* parent_;
    bool toStandardError_ = false;
};

/// One entry of the dialog's filter as Qt shows it.
struct NameFilter {
    QString qtFilter;     ///< "label (patterns)", the label shown alone
    bool executableOnly;  ///< lists the files the user may execute, whatever their name
};

/// Turns "label|pattern|label|pattern..." into Qt name filters. The entry for *.exe lists the files that the user
/// may execute, whatever their name; the other entries keep their patterns.
std::vector<NameFilter> NameFilters(const std::string& filter);

class QtFileDialog final : public platform::FileDialog {
public:
    QtFileDialog(EventGate& gate, QWidget* parent, std::string title)
        : gate_(gate), parent_(parent), title_(std::move(title)) {}
    void setTitle(const std::string& title) override { title_ = title; }
    void setCancelError(bool cancelError) override { cancelError_ = cancelError; }
    void setFlags(std::int32_t flags) override { flags_ = flags; }
    void setFilter(const std::string& filter) override { filter_ = filter; }
    void setFilterIndex(std::int16_t index) override { filterIndex_ = index; }
    void showOpen() override;
    std::string fileName() const override { return fileName_; }

private:
    EventGate& gate_;
    QWidget* parent_;
    std::string title_;
    bool cancelError_ = false;
    std::int32_t flags_ = 0;  // only "hide the read-only box" is known, and Qt's dialog has no such box
    std::string filter_;
    std::int16_t filterIndex_ = 0;
    std::string fileName_;
};

}  // namespace selvatro::platform::qt
