#include "platform/qt/single_copy.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

#include "platform/posix/single_copy.h"

namespace selvatro::platform::qt {

ShowRequests::ShowRequests(const std::string& path, std::function<void()> show)
    : listening_(posix::ListenForLaterStarts(path)), show_(std::move(show)) {
    if (listening_ < 0) {
        return;  // the program runs all the same; a later start then says that it cannot reach this one
    }
    notifier_ = std::make_unique<QSocketNotifier>(listening_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { accept(); });
}

ShowRequests::~ShowRequests() {
    for (auto& [connection, asker] : askers_) {
        asker.notifier.reset();
        ::close(connection);
    }
    notifier_.reset();
    if (listening_ >= 0) {
        ::close(listening_);
    }
}

void ShowRequests::accept() {
    for (;;) {
        const int connection = ::accept4(listening_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;  // none left (EAGAIN), or none to be had now (out of descriptors): the next one will do
        }
        Asker& asker = askers_[connection];
        asker.notifier = std::make_unique<QSocketNotifier>(connection, QSocketNotifier::Read);
        QObject::connect(asker.notifier.get(), &QSocketNotifier::activated, [this, connection] { serve(connection); });
        serve(connection);  // the request may have come with the connection
    }
}

void ShowRequests::serve(int connection) {
    const auto it = askers_.find(connection);
    if (it == askers_.end() || !posix::ServeLaterStart(connection, it->second.received, show_)) {
        return;
    }
    // Done with: the notifier goes once the event loop has left its signal, and the descriptor with this entry.
    QSocketNotifier* notifier = it->second.notifier.release();
    notifier->setEnabled(false);
    notifier->deleteLater();
    askers_.erase(it);
    ::close(connection);
}

}  // namespace selvatro::platform::qt
