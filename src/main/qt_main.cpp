// Selvatro on a Linux desktop: the Qt window and dialogs, the POSIX services, Form1 between them.

#include <QApplication>

#include "app/form1.h"
#include "platform/event_gate.h"
#include "platform/posix/posix_services.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_services.h"
#include "platform/qt/qt_window.h"
#include "window/layout.h"

int main(int argc, char** argv) {
    using namespace selvatro;
    namespace posix = platform::posix;
    namespace qt = platform::qt;

    qt::PreferX11();
    const auto app = qt::StartApplication(argc, argv);
    qt::SetUpApplication();

    platform::EventGate gate;
    qt::FormWindow formWindow(gate, window::kDesign);
    QApplication::setWindowIcon(formWindow.widget()->windowIcon());
    qt::QtFileDialog commonDialog1(gate, formWindow.widget(), std::string(window::kDesign.dialogTitle));
    qt::QtMessageBoxes messages(gate, formWindow.widget());
    qt::QtLanguage language;
    qt::QtProcess process;

    posix::PosixAppFacts facts;
    posix::PosixFiles files(facts.folder(), posix::ConfigHome() + "/selvatro");
    posix::PosixPrograms programs;
    posix::AutostartShortcuts shortcuts(posix::ConfigHome());
    posix::GioBrowser browser;

    Form1 form(formWindow.controls(commonDialog1),
               platform::Services{messages, facts, programs, files, language, shortcuts, browser, process});
    gate.connect(form);
    // Signals and the session's end close the window as its close button does: through the unload event.
    qt::SessionEnd sessionEnd([&formWindow] { formWindow.requestUnload(); });
    // So does the loss of the X server, with no window left to show a message in.
    qt::OnDisplayLost([&formWindow, &messages] {
        messages.useStandardError();
        formWindow.requestUnload();
    });

    gate.raise([](platform::FormEvents& events) { events.Form_Load(); });
    formWindow.showInState();
    QApplication::exec();
    // The event loop stops only at the end of the session, whose handler has already unloaded; should it stop
    // otherwise, the list is saved all the same.
    formWindow.requestUnload();
    return 0;
}
