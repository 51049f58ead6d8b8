#include "platform/qt/qt_services.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QThread>
#include <QTranslator>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace selvatro::platform::qt {

void QtLanguage::englishLanguageName(std::string& buffer, int size) {
    const QLocale::Language language = QLocale::system().language();
    if (language == QLocale::C || language == QLocale::AnyLanguage) {
        return;  // no language known: the buffer stays as it was
    }
    const std::string name = QLocale::languageToString(language).toStdString();
    const std::size_t room = std::min(static_cast<std::size_t>(std::max(0, size)), buffer.size());
    if (room == 0) {
        return;
    }
    const std::size_t n = std::min(name.size(), room - 1);
    std::copy_n(name.begin(), n, buffer.begin());
    buffer[n] = '\0';
}

std::string QtLanguage::decimalSeparator() const {
    return QLocale::system().decimalPoint().toStdString();
}

void QtProcess::report(const std::string& line) {
    posix::WriteToStandardError(line);
    log_.append(line);
}

void QtProcess::record(const std::string& line) {
    if (isatty(STDERR_FILENO) == 0) {
        posix::WriteToStandardError(line);
    }
    log_.append(line);
}

double QtProcess::monotonicSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void QtProcess::end(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

void SetUpApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("selvatro"));
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void PreferX11() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
}

namespace {

// Qt's messages pass through one handler of ours for the life of the process. While the application is being made
// they are held back: a start that fails must say one thing, not Qt's three.
struct HeldMessage {
    QtMsgType type;
    std::string file;
    int line;
    std::string function;
    std::string category;
    QString text;
};

std::atomic<bool> starting{false};
std::mutex heldLock;
std::vector<HeldMessage> held;
QtMessageHandler qtHandler = nullptr;
std::function<void()> displayLost;
bool handlingDisplayLoss = false;

void PassOn(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (qtHandler != nullptr) {
        qtHandler(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    }
}

// What stopped Qt from opening its display, in the user's terms.
std::string MissingDisplay() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.contains("xcb")) {
        return "the window system \"" + platform.toStdString() + "\" named by QT_QPA_PLATFORM could not be started";
    }
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        return "no display: DISPLAY is not set, and Selvatro shows its window on an X11 display (XWayland under "
               "Wayland)";
    }
    return "cannot open the X display \"" + display.toStdString() + "\": no X server answers there, or it refuses us";
}

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (starting) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "selvatro: %s\n", MissingDisplay().c_str());
            std::fflush(nullptr);
            std::_Exit(1);
        }
        const std::lock_guard<std::mutex> guard(heldLock);
        held.push_back({type, context.file != nullptr ? context.file : "", context.line,
                        context.function != nullptr ? context.function : "",
                        context.category != nullptr ? context.category : "", text});
        return;
    }
    // Qt 6.4 says this just before it calls exit(1), when the X server has gone (both where Xlib and where xcb
    // notice it). Nothing has been torn down yet, so the list can still be saved; no window can be shown.
    if (type == QtWarningMsg && displayLost && !handlingDisplayLoss &&
        text.startsWith(QLatin1String("The X11 connection broke")) && QCoreApplication::instance() != nullptr &&
        QThread::currentThread() == QCoreApplication::instance()->thread()) {
        handlingDisplayLoss = true;
        std::fputs("selvatro: the connection to the X display broke; the list is saved and the program ends\n", stderr);
        std::fflush(stderr);
        displayLost();
        return;  // Qt ends the process on return
    }
    PassOn(type, context, text);
}

// The self-pipe: a signal handler may only write a byte; the event loop reads it and closes the window.
int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

std::unique_ptr<QApplication> StartApplication(int& argc, char** argv) {
    qtHandler = qInstallMessageHandler(OnQtMessage);
    starting = true;
    auto app = std::make_unique<QApplication>(argc, argv);
    starting = false;
    std::vector<HeldMessage> messages;
    {
        const std::lock_guard<std::mutex> guard(heldLock);
        messages.swap(held);
    }
    for (const HeldMessage& m : messages) {
        const QMessageLogContext context(m.file.c_str(), m.line, m.function.c_str(), m.category.c_str());
        PassOn(m.type, context, m.text);
    }
    return app;
}

void OnDisplayLost(std::function<void()> lost) {
    displayLost = std::move(lost);
}

QTranslator* LoadToolkitTranslations(const QLocale& locale) {
    if (locale.language() == QLocale::English || locale.language() == QLocale::C) {
        return nullptr;  // Qt's texts are English already: nothing to read at start-up
    }
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return nullptr;
    }
    QCoreApplication::installTranslator(translator.get());
    return translator.release();
}

struct SessionEnd::Impl {
    std::function<void()> close;
    QSocketNotifier* notifier = nullptr;
    QMetaObject::Connection quitting;
};

SessionEnd::SessionEnd(std::function<void()> close) : impl_(std::make_unique<Impl>()) {
    impl_->close = std::move(close);
    Impl* self = impl_.get();
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("selvatro: pipe2");
    } else {
        impl_->notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(impl_->notifier, &QSocketNotifier::activated, [self] {
            char bytes[16];
            while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            self->close();
        });
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
            ::sigaction(signal, &action, nullptr);
        }
    }
    // The session manager's end of the session stops the event loop (its "die" message); a checkpoint or a
    // log-off that the user may still cancel (the commit-data request) must not end anything yet.
    impl_->quitting = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [self] { self->close(); });
}

SessionEnd::~SessionEnd() {
    QObject::disconnect(impl_->quitting);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ::sigaction(signal, &action, nullptr);
    }
    delete impl_->notifier;
    if (signalPipe[0] >= 0) {
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
}

}  // namespace selvatro::platform::qt
