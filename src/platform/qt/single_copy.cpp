#include "platform/qt/single_copy.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>

namespace selvatro::platform::qt {

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShownReply[] = "shown\n";

}  // namespace

ShowRequests::ShowRequests(const std::string& path, std::function<void()> show)
    : server_(std::make_unique<QLocalServer>()), show_(std::move(show)) {
    const QString name = QString::fromStdString(path);
    // A copy that was killed leaves its socket behind; the lock tells us that nobody listens there any more.
    QLocalServer::removeServer(name);
    if (!server_->listen(name)) {
        return;  // the program runs all the same; a later start then says that it cannot reach this one
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            auto answer = [this, client] {
                if (!client->canReadLine()) {
                    return;  // the rest of the line is still on its way
                }
                const QByteArray line = client->readLine(sizeof kShowRequest);
                if (line == kShowRequest) {
                    show_();
                    client->write(kShownReply);
                    client->flush();
                }
                client->disconnectFromServer();
            };
            QObject::connect(client, &QLocalSocket::readyRead, client, answer);
            answer();  // the request may have arrived with the connection
        }
    });
}

ShowRequests::~ShowRequests() = default;

bool AskToShow(const std::string& path, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(path));
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
        return false;
    }
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            return false;
        }
    }
    return socket.readLine() == kShownReply;
}

}  // namespace selvatro::platform::qt
