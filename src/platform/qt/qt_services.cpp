#include "platform/qt/qt_services.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

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
    std::fprintf(stderr, "selvatro: %s\n", line.c_str());
    std::fflush(stderr);
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

// The self-pipe: a signal handler may only write a byte; the event loop reads it and closes the window.
int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

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
