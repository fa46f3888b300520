#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <memory>

#include "signaling/server/connection.h"
#include "signaling/server/memberorigins.h"
#include "signaling/signalinglimits.h"

class QWebSocket;

namespace signaling {

class ServerSignalingProcessor;

// Accepts participants, gives each its id and owner, keeps the connection table and hands every
// received text to the router. Lives on the signaling server's worker thread.
class ServerConnectionManager : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 6;

    explicit ServerConnectionManager(const RelayLimits &limits = RelayLimits(),
                                     std::shared_ptr<MemberOrigins> origins = nullptr);
    ~ServerConnectionManager() override;

    void addConnection(QWebSocket *socket);

private slots:
    void onTextMessage(QString message);
    void onDisconnected();
    void onControlFrame(const QByteArray &payload);

private:
    void closeSocket(QWebSocket *socket);

    Connection findBySocket(const QWebSocket *socket) const;
    struct RelayBudget {
        double bytes = 0;
        qint64 lastNs = 0;
        bool refused = false;  // went over the budget and is being closed
    };
    RelayBudget &budgetOf(const QString &id);
    bool withinBudget(RelayBudget &budget, qint64 bytes);
    // What a connection sent counts against its budget; the record, or an empty one when the
    // connection is unknown or over its budget (and then being closed).
    Connection charge(QWebSocket *socket, qint64 bytes);
    void watchControlFrames(QWebSocket *socket);

    std::shared_ptr<QHash<QString, Connection>> connections_;
    QHash<QString, QString> owners_;
    std::shared_ptr<ServerSignalingProcessor> processor_;
    RelayLimits limits_;
    QHash<QString, RelayBudget> budgets_;
    QElapsedTimer clock_;
    std::shared_ptr<MemberOrigins> origins_;
};

}  // namespace signaling
