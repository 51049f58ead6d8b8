#pragma once

// The modal dialogs on Qt: message boxes and the file-open dialog, both parented to the window.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/event_gate.h"
#include "platform/platform.h"
#include "platform/window_driver.h"

namespace selvatro::platform::qt {

class QtMessageBoxes final : public platform::MessageBoxes {
public:
    QtMessageBoxes(EventGate& gate, QWidget* parent) : gate_(gate), parent_(parent) {}
    void show(const std::string& text, platform::MessageStyle style, const std::string& title) override;
    /// Without a display, the question is written to standard error and answered No: nothing is switched.
    bool ask(const std::string& question, const std::string& title) override;
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

/// The filter's entries as Qt name filters. The entry for *.exe lists the files that the user may execute, whatever
/// their name; the other entries keep their patterns.
std::vector<NameFilter> NameFilters(const std::vector<FilterEntry>& filter);

/// Qt's own open dialog, parented to `parent`, set up as `request` says and starting in the process's current
/// folder; the chosen file's full path, or nothing when the user cancelled.
std::optional<std::string> ShowOpenDialog(QWidget* parent, const OpenRequest& request);

}  // namespace selvatro::platform::qt
