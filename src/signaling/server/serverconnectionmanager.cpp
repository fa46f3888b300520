#include "serverconnectionmanager.h"

#include <QHostAddress>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <algorithm>

#include "core/logger.h"
#include "core/refusallog.h"
#include "signaling/server/serversignalingprocessor.h"
#include "signaling/signalinglimits.h"
#include "signaling/signalinglog.h"

namespace signaling {

ServerConnectionManager::ServerConnectionManager(const RelayLimits &limits,
                                                 std::shared_ptr<MemberOrigins> origins)
    : connections_(std::make_shared<QHash<QString, Connection>>()),
      processor_(std::make_shared<ServerSignalingProcessor>(connections_)),
      limits_(limits),
      origins_(origins ? std::move(origins) : std::make_shared<MemberOrigins>()) {
    qRegisterMetaType<QWebSocket *>("QWebSocket*");
    clock_.start();
}

ServerConnectionManager::~ServerConnectionManager() {
    // Runs on the worker thread before its event loop ends, so the sockets go now rather than
    // by a deferred delete that no loop would ever run.
    const QList<Connection> records = connections_->values();
    connections_->clear();
    for (const Connection &record : records) {
        origins_->remove(record.id);
        if (record.socket) {
            record.socket->disconnect(this);
            record.socket->abort();
            delete record.socket;
        }
    }
    processor_.reset();
}

void ServerConnectionManager::addConnection(QWebSocket *socket) {
    if (!socket) {
        return;
    }
    if (connections_->size() > kMaxConnections - 1) {
        // The refused socket is ours to free: once the close has gone out, or with the manager
        // when the server stops first.
        socket->setParent(this);
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        return;
    }
    socket->setMaxAllowedIncomingMessageSize(kHardMessageLimitBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxFrameBytes);
    socket->setReadBufferSize(kReadBufferBytes);
    connect(socket, &QWebSocket::textMessageReceived, this, &ServerConnectionManager::onTextMessage);
    // Nothing binary is relayed, but taking it in costs as much as text.
    connect(socket, &QWebSocket::binaryFrameReceived, this,
            [this, socket](const QByteArray &frame, bool) { charge(socket, frame.size()); });
    watchControlFrames(socket);
    connect(socket, &QWebSocket::disconnected, this, &ServerConnectionManager::onDisconnected);

    const QString id = processor_->sendId(socket);
    const QString path = socket->requestUrl().path(QUrl::FullyDecoded);
    qCDebug(lcSignaling).noquote() << "signaling server: new connection on" << path;
    QString ownerId;
    auto owner = owners_.constFind(path);
    if (owner == owners_.constEnd()) {
        owners_.insert(path, id);
        ownerId = id;
    } else {
        ownerId = *owner;
    }
    g_logger->info("new connection id:{}, ownerid:{}", id.toStdString(), ownerId.toStdString());

    Connection record;
    record.id = id;
    record.ownerId = ownerId;
    record.socket = socket;
    connections_->insert(id, record);
    QHostAddress address = socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    origins_->set(id, {address.toString(), !socket->origin().isEmpty()});
    if (limits_.nicknameDeadlineMs > 0 && id != ownerId) {
        QTimer::singleShot(limits_.nicknameDeadlineMs, this, [this, id] {
            auto it = connections_->constFind(id);
            if (it != connections_->constEnd() && it->nickname.isEmpty() && it->socket) {
                logRefusal("server: no nickname", "id:" + id.toStdString() + " refused: no nickname within " +
                                                      std::to_string(limits_.nicknameDeadlineMs) +
                                                      " ms, connection closed");
                it->socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("no nickname"));
            }
        });
    }
}

void ServerConnectionManager::watchControlFrames(QWebSocket *socket) {
    // Qt answers pings by itself and tells the socket's owner nothing; only its frame decoder, a
    // child of the socket, announces them. Without it a ping flood would cost nothing.
    for (QObject *child : socket->children()) {
        if (child->metaObject()->indexOfSignal("pingReceived(QByteArray)") >= 0) {
            connect(child, SIGNAL(pingReceived(QByteArray)), this, SLOT(onControlFrame(QByteArray)));
            connect(child, SIGNAL(pongReceived(QByteArray)), this, SLOT(onControlFrame(QByteArray)));
            return;
        }
    }
    qCDebug(lcSignaling) << "signaling server: this Qt does not show pings; they are not counted";
}

void ServerConnectionManager::onControlFrame(const QByteArray &payload) {
    if (QObject *decoder = sender()) {
        charge(qobject_cast<QWebSocket *>(decoder->parent()), payload.size());
    }
}

Connection ServerConnectionManager::charge(QWebSocket *socket, qint64 bytes) {
    const Connection record = findBySocket(socket);
    if (record.id.isEmpty()) {
        return {};
    }
    RelayBudget &budget = budgetOf(record.id);
    if (budget.refused) {
        // What the socket had already taken in before it was closed.
        return {};
    }
    if (!withinBudget(budget, bytes + limits_.chargePerMessage)) {
        budget.refused = true;
        g_logger->warn("id:{} refused: more than {} bytes per second relayed, connection closed",
                       record.id.toStdString(), qint64(limits_.bytesPerSecond));
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("flooding"));
        return {};
    }
    return record;
}

void ServerConnectionManager::onTextMessage(QString message) {
    const Connection record = charge(qobject_cast<QWebSocket *>(sender()), message.size());
    if (!record.id.isEmpty()) {
        processor_->onMsg(record, message);
    }
}

ServerConnectionManager::RelayBudget &ServerConnectionManager::budgetOf(const QString &id) {
    auto it = budgets_.find(id);
    if (it == budgets_.end()) {
        it = budgets_.insert(id, RelayBudget{limits_.burstBytes, clock_.nsecsElapsed(), false});
    }
    return *it;
}

bool ServerConnectionManager::withinBudget(RelayBudget &budget, qint64 bytes) {
    const qint64 now = clock_.nsecsElapsed();
    budget.bytes =
        std::min(limits_.burstBytes, budget.bytes + (now - budget.lastNs) * 1e-9 * limits_.bytesPerSecond);
    budget.lastNs = now;
    if (budget.bytes < bytes) {
        return false;
    }
    budget.bytes -= bytes;
    return true;
}

void ServerConnectionManager::onDisconnected() {
    auto *socket = qobject_cast<QWebSocket *>(sender());
    if (!socket) {
        return;
    }
    const Connection record = findBySocket(socket);
    g_logger->info("id:{} disconnected, ownerid:{}", record.id.toStdString(), record.ownerId.toStdString());
    if (record.id.isEmpty()) {
        return;
    }
    if (connections_->contains(record.id)) {
        if (!record.shareId.isEmpty()) {
            processor_->stopShareOf(record);
        }
        socket->disconnect(this);
        socket->deleteLater();
        connections_->remove(record.id);
        origins_->remove(record.id);
        budgets_.remove(record.id);
        processor_->broadcastAllUser();
    }
    if (record.id == record.ownerId) {
        for (auto it = connections_->constBegin(); it != connections_->constEnd(); ++it) {
            if (it->ownerId == record.id && it->socket) {
                QPointer<QWebSocket> socket = it->socket;
                QMetaObject::invokeMethod(
                    this, [this, socket] { closeSocket(socket); }, Qt::QueuedConnection);
            }
        }
        for (auto it = owners_.begin(); it != owners_.end(); ++it) {
            if (it.value() == record.id) {
                owners_.erase(it);
                break;
            }
        }
    }
}

void ServerConnectionManager::closeSocket(QWebSocket *socket) {
    // The socket may have gone meanwhile; only close one that is still in the table.
    if (!socket) {
        return;
    }
    for (auto it = connections_->constBegin(); it != connections_->constEnd(); ++it) {
        if (it->socket == socket) {
            socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
            return;
        }
    }
}

Connection ServerConnectionManager::findBySocket(const QWebSocket *socket) const {
    if (socket) {
        for (auto it = connections_->constBegin(); it != connections_->constEnd(); ++it) {
            if (it->socket == socket) {
                return *it;
            }
        }
    }
    return Connection();
}

}  // namespace signaling
