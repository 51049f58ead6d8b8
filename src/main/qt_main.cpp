// Selvatro on a Linux desktop: the Qt window and dialogs, the POSIX services, Form1 between them.

#include <QApplication>
#include <QLocale>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/form1.h"
#include "desktop/logon_entries.h"
#include "platform/event_gate.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/single_copy.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_services.h"
#include "platform/qt/qt_window.h"
#include "platform/qt/single_copy.h"
#include "platform/window_driver.h"
#include "window/layout.h"

namespace {

namespace posix = selvatro::platform::posix;
namespace qt = selvatro::platform::qt;

// One running copy per list. A later start asks the copy that holds the list's lock to show its window, and its
// exit status says whether that worked. Two starts in the same instant: the one that loses the lock may find the
// winner not listening yet, or already gone, so it tries both again for a while.
std::optional<int> LaterStartStatus(posix::CopyLock& lock) {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        switch (lock.tryTake()) {
            case posix::CopyLock::Result::Taken:
            case posix::CopyLock::Result::Unavailable:
                return std::nullopt;
            case posix::CopyLock::Result::HeldElsewhere:
                break;
        }
        if (posix::AskToShow(lock.socketPath(), 1000)) {
            return 0;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "selvatro: another copy runs on this list but does not answer (its socket: %s)\n",
                         lock.socketPath().c_str());
            return 1;
        }
        std::this_thread::sleep_for(50ms);
    }
}

// `selvatro --give-back`, before the package is removed: switches every autostart entry that Selvatro took over
// back on, and touches nothing else (no window, no list, no logon entry of its own).
int GiveBack() {
    posix::AutostartEntries entries(posix::ConfigHome(), posix::ConfigDirs());
    const std::vector<std::string> failures = selvatro::desktop::GiveBackAll(entries);
    for (const std::string& failure : failures) {
        std::fprintf(stderr, "selvatro: could not be given back: %s\n", failure.c_str());
    }
    return failures.empty() ? 0 : 1;
}

constexpr std::string_view kUsage =
    "Usage: selvatro [--help | --version | --give-back]\n"
    "\n"
    "Starts up to five programs one after another after you log on, each at its own\n"
    "delay in seconds. At every start it writes its logon entry\n"
    "($XDG_CONFIG_HOME/autostart/Selvatro.desktop) and reads its list: with a\n"
    "program in the first row it counts the seconds in its minimised window's\n"
    "title and starts each program at its delay; with an empty first row it opens\n"
    "its window so that you fill the list in. It takes no other argument.\n"
    "\n"
    "  --help       show this help and end\n"
    "  --version    show the version and end\n"
    "  --give-back  switch back on the autostart entries that Selvatro took over, and\n"
    "               end (run it before removing Selvatro)\n"
    "\n"
    "The list: selvatro.cfg beside the program when its folder is yours, else\n"
    "$XDG_CONFIG_HOME/selvatro/selvatro.cfg (by default ~/.config/selvatro), read\n"
    "from $XDG_CONFIG_DIRS/selvatro/selvatro.cfg (by default /etc/xdg/selvatro) until\n"
    "you save one of your own. See selvatro(1).\n";

// --help and --version answer on standard output and end, before anything is read, written or shown: no display,
// no logon entry, no list. Every other argument is ignored, as it always was. Nothing when there is none.
std::optional<int> AnswerOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--help") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        } else if (argument == "--version") {
            const selvatro::platform::Version version = posix::PosixAppFacts().version();
            std::printf("selvatro %d.%d.%d\n", version.major, version.minor, version.revision);
        } else {
            continue;
        }
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace selvatro;

    // The program takes no arguments, and ignores any it is given, but for these.
    if (argc == 2 && std::string_view(argv[1]) == "--give-back") {
        return GiveBack();
    }
    if (const std::optional<int> status = AnswerOption(argc, argv)) {
        return *status;
    }
    qt::PreferX11();
    const auto app = qt::StartApplication(argc, argv);
    qt::SetUpApplication();

    posix::PosixAppFacts facts;
    // The list lives beside the executable or in the user's stand-in for that folder: the folder names the list.
    posix::CopyLock copyLock(facts.folder());
    if (const std::optional<int> status = LaterStartStatus(copyLock)) {
        return *status;
    }
    qt::LoadToolkitTranslations(QLocale::system());

    platform::EventGate gate;
    platform::WindowDriver driver(gate, window::kDesign);
    qt::FormWindow formWindow(driver, window::kDesign);
    QApplication::setWindowIcon(formWindow.widget()->windowIcon());
    qt::QtMessageBoxes messages(gate, formWindow.widget());
    qt::QtLanguage language;
    qt::QtProcess process;

    posix::PosixFiles files;
    posix::PosixPrograms programs(posix::FindHolder(facts.folder()));
    posix::AutostartShortcuts shortcuts(posix::ConfigHome());
    posix::AutostartEntries logonEntries(posix::ConfigHome(), posix::ConfigDirs());
    posix::GioBrowser browser;

    Form1 form(driver.controls(), platform::Services{messages, facts, programs, files, language, shortcuts, browser,
                                                     process, logonEntries});
    gate.connect(form);
    // Signals and the session's end close the window as its close button does: through the unload event.
    qt::SessionEnd sessionEnd([&driver] { driver.requestUnload(); });
    // So does the loss of the X server, with no window left to show a message in.
    qt::OnDisplayLost([&driver, &messages] {
        messages.useStandardError();
        driver.requestUnload();
    });
    std::optional<qt::ShowRequests> showRequests;
    if (copyLock.tryTake() == posix::CopyLock::Result::Taken) {
        showRequests.emplace(copyLock.socketPath(), [&driver] { driver.showAgain(); });
    }

    gate.raise([](platform::FormEvents& events) { events.Form_Load(); });
    driver.setAccessibleTexts(form.Francais == 1 ? window::kDesign.accessibleFrench
                                                 : window::kDesign.accessibleEnglish);
    driver.showInState();
    QApplication::exec();
    // The event loop stops only at the end of the session, whose handler has already unloaded; should it stop
    // otherwise, the list is saved all the same.
    driver.requestUnload();
    return 0;
}
