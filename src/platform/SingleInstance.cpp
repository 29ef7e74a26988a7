#include "platform/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvel {
namespace {

constexpr int kConnectTimeoutMs = 500;
constexpr int kAttempts = 5;
constexpr qint64 kMaxMessageBytes = 4096;

std::optional<ucred> peerOf(const QLocalSocket& socket) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    const auto fd = static_cast<int>(socket.socketDescriptor());
    if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return credentials;
}

// Abstract socket names carry no permissions: only a process of our own user counts as the
// running copy, and only such a process may send it messages.
bool isOurUser(const std::optional<ucred>& peer) { return peer && peer->uid == ::getuid(); }

}  // namespace

SingleInstance::SingleInstance(QString key, QObject* parent)
    : QObject(parent), key_(std::move(key)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultKey() {
    QString key = QStringLiteral("com.brellun.quorvel.") + QString::number(getuid());
    const QString display = qEnvironmentVariable("DISPLAY");
    if (!display.isEmpty()) key += "." + display;
    return key;
}

bool SingleInstance::tellRunningCopy(const std::string& message) {
    QLocalSocket socket;
    socket.setServerName(key_);
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer();
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    const auto peer = peerOf(socket);
    if (!isOurUser(peer)) {
        foreignHolder_ = true;
        return false;
    }
    // The kernel keeps a connection in the listener's backlog and our line in its buffer, so
    // nothing here waits for the other copy to answer.
    primaryPid_ = peer->pid;
    const QByteArray line = QByteArray::fromStdString(message) + '\n';
    socket.write(line);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

SingleInstance::Role SingleInstance::start(const std::string& message) {
    if (role_ == Role::primary) return role_;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (tellRunningCopy(message)) return role_ = Role::secondary;
        if (foreignHolder_) return role_ = Role::failed;  // another user holds our name
        auto server = std::make_unique<QLocalServer>(this);
        server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
        if (server->listen(key_)) {
            server_ = server.release();
            connect(server_, &QLocalServer::newConnection, this,
                    &SingleInstance::acceptConnections);
            return role_ = Role::primary;
        }
        // Someone else won the race to listen (or is going away): ask again.
    }
    return role_ = Role::failed;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!isOurUser(peerOf(*socket))) {
            socket->abort();
            continue;
        }
        QPointer<QLocalSocket> guarded(socket);
        auto readLines = [this, guarded] {
            if (!guarded) return;
            while (guarded->canReadLine()) {
                QByteArray line = guarded->readLine(kMaxMessageBytes).trimmed();
                if (onMessage) onMessage(line.toStdString());
                if (!guarded) return;
            }
            if (guarded->bytesAvailable() > kMaxMessageBytes) guarded->abort();
        };
        connect(socket, &QLocalSocket::readyRead, this, readLines);
        readLines();  // the whole line may have arrived with the connection
    }
}

}  // namespace quorvel
