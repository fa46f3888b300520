#include "serverconnectionmanager.h"

#include <QDebug>
#include <QPointer>
#include <QUrl>
#include <QWebSocket>
#include <algorithm>

#include "core/logger.h"
#include "signaling/server/serversignalingprocessor.h"
#include "signaling/signalinglimits.h"

namespace signaling {

ServerConnectionManager::ServerConnectionManager()
    : m_connections(std::make_shared<QHash<QString, Connection>>()),
      m_processor(std::make_shared<ServerSignalingProcessor>(m_connections)) {
    qRegisterMetaType<QWebSocket *>("QWebSocket*");
    m_clock.start();
}

ServerConnectionManager::~ServerConnectionManager() {
    // Runs on the worker thread before its event loop ends, so the sockets go now rather than
    // by a deferred delete that no loop would ever run.
    const QList<Connection> records = m_connections->values();
    m_connections->clear();
    for (const Connection &record : records) {
        if (record.socket) {
            record.socket->disconnect(this);
            record.socket->abort();
            delete record.socket;
        }
    }
    m_processor.reset();
}

void ServerConnectionManager::addConnection(QWebSocket *socket) {
    if (!socket) {
        return;
    }
    if (m_connections->size() > kMaxConnections - 1) {
        // The refused socket is ours to free: once the close has gone out, or with the manager
        // when the server stops first.
        socket->setParent(this);
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        return;
    }
    socket->setMaxAllowedIncomingMessageSize(kHardMessageLimitBytes);
    socket->setMaxAllowedIncomingFrameSize(kHardMessageLimitBytes);
    connect(socket, &QWebSocket::textMessageReceived, this, &ServerConnectionManager::onTextMessage);
    connect(socket, &QWebSocket::disconnected, this, &ServerConnectionManager::onDisconnected);

    const QString id = m_processor->sendId(socket);
    const QString path = socket->requestUrl().path(QUrl::FullyDecoded);
    qDebug().noquote() << "new connection path:" << path;
    QString ownerId;
    auto owner = m_owners.constFind(path);
    if (owner == m_owners.constEnd()) {
        m_owners.insert(path, id);
        ownerId = id;
    } else {
        ownerId = *owner;
    }
    g_logger->info("new connection id:{}, ownerid:{}", id.toStdString(), ownerId.toStdString());

    Connection record;
    record.id = id;
    record.ownerId = ownerId;
    record.socket = socket;
    m_connections->insert(id, record);
}

void ServerConnectionManager::onTextMessage(QString message) {
    const Connection record = findBySocket(qobject_cast<QWebSocket *>(sender()));
    if (record.id.isEmpty()) {
        return;
    }
    if (!withinBudget(record.id, message.size() + kRelayChargePerMessage)) {
        qDebug() << "ServerConnectionManager dropped a message over the relay budget of" << record.id;
        return;
    }
    m_processor->onMsg(record, message);
}

bool ServerConnectionManager::withinBudget(const QString &id, int bytes) {
    const qint64 now = m_clock.nsecsElapsed();
    auto it = m_budgets.find(id);
    if (it == m_budgets.end()) {
        it = m_budgets.insert(id, RelayBudget{kRelayBurstBytes, now});
    }
    it->bytes = std::min(kRelayBurstBytes, it->bytes + (now - it->lastNs) * 1e-9 * kRelayBytesPerSecond);
    it->lastNs = now;
    if (it->bytes < bytes) {
        return false;
    }
    it->bytes -= bytes;
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
    if (m_connections->contains(record.id)) {
        if (!record.shareId.isEmpty()) {
            m_processor->stopShareOf(record);
        }
        socket->disconnect(this);
        socket->deleteLater();
        m_connections->remove(record.id);
        m_budgets.remove(record.id);
        m_processor->broadcastAllUser();
    }
    if (record.id == record.ownerId) {
        for (auto it = m_connections->constBegin(); it != m_connections->constEnd(); ++it) {
            if (it->ownerId == record.id && it->socket) {
                QMetaObject::invokeMethod(this, "closeSocket", Qt::QueuedConnection,
                                          Q_ARG(QWebSocket *, it->socket));
            }
        }
        for (auto it = m_owners.begin(); it != m_owners.end(); ++it) {
            if (it.value() == record.id) {
                m_owners.erase(it);
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
    for (auto it = m_connections->constBegin(); it != m_connections->constEnd(); ++it) {
        if (it->socket == socket) {
            socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
            return;
        }
    }
}

Connection ServerConnectionManager::findBySocket(const QWebSocket *socket) const {
    if (socket) {
        for (auto it = m_connections->constBegin(); it != m_connections->constEnd(); ++it) {
            if (it->socket == socket) {
                return *it;
            }
        }
    }
    return Connection();
}

}  // namespace signaling
