#pragma once

// The process-level services that the Qt layer provides: the user's language, the end of the process, the X11
// preference, the start of the application and the loss of its display, Qt's own texts in the user's language,
// and the ways the system ends the session (signals, the session manager).

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/posix/run_log.h"

class QApplication;
class QLocale;
class QTranslator;

namespace selvatro::platform::qt {

/// The user's language as Qt's system locale names it in English ("French" for every fr_* locale).
class QtLanguage final : public platform::Language {
public:
    void englishLanguageName(std::string& buffer, int size) override;
    std::string decimalSeparator() const override;
};

/// The run's record goes to the log of the runs in $XDG_STATE_HOME/selvatro and to standard error, which the
/// session's journal keeps; a record line stays off standard error when that is a terminal, where the user who
/// started the program by hand has not asked for it. A report's line goes to standard error always.
/// Ends the process at once: the list has already been written and synced, so only standard I/O is flushed and
/// no destructor, atexit handler or further event runs.
class QtProcess final : public platform::Process {
public:
    void report(const std::string& line) override;
    void record(const std::string& line) override;
    double monotonicSeconds() const override;
    [[noreturn]] void end(int status) override;

private:
    posix::RunLog log_;
};

/// The application-wide settings of the program: its name, and that closing a message box while the window is
/// minimised, the last visible window then, does not end the program. Call once QApplication exists.
void SetUpApplication();

/// Asks Qt for its X11 platform (XWayland under Wayland) unless the user chose one: the run gate needs the
/// window's minimised state, which Wayland compositors do not report. Call before QApplication is made.
void PreferX11();

/// Makes the application. Where Qt cannot open its display (DISPLAY unset, no X server answering) it would abort
/// with a hint to reinstall; this says in one line on standard error what is missing and ends the process with
/// status 1 instead. Qt's other start-up messages are passed on once the application stands.
std::unique_ptr<QApplication> StartApplication(int& argc, char** argv);

/// Runs `lost` when the connection to the X server breaks while the program runs, on the event loop's thread, in
/// place of Qt's own exit(1); when `lost` returns, Qt ends the process as before. No window can be shown from then
/// on. Needs StartApplication.
void OnDisplayLost(std::function<void()> lost);

/// Loads Qt's own translations (the buttons of its dialogs: "Open", "Cancel", "OK") for `locale`'s language, the
/// application owning them. Nothing for English, which needs none, or where the translation is not installed.
/// Returns the translator installed, or null.
QTranslator* LoadToolkitTranslations(const QLocale& locale);

/// Routes SIGTERM, SIGHUP and SIGINT, and the session manager's end of session, to `close`, on the event loop's
/// thread. Needs a QApplication; one instance per process.
class SessionEnd {
public:
    explicit SessionEnd(std::function<void()> close);
    ~SessionEnd();
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace selvatro::platform::qt
