#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>
#include <vector>

#include "signaling/server/memberorigins.h"
#include "signaling/signalinglimits.h"

class QWebSocketServer;

namespace signaling {
class ServerConnectionManager;
}

// The host's WebSocket signaling server. The object, its listening socket, the connection
// manager and every accepted socket live on a worker thread that the object owns.
class SignalingServer : public QObject {
    Q_OBJECT
public:
    explicit SignalingServer(const signaling::RelayLimits &limits = signaling::RelayLimits());
    ~SignalingServer() override;

    bool postStartListen(quint16 port);
    bool postCloseConnect();

    // The port actually bound (useful after listening on port 0); 0 while not listening.
    quint16 listeningPort() const { return m_boundPort.load(); }
    // Where the members connect from; safe to read on any thread.
    const signaling::MemberOrigins &memberOrigins() const { return *m_origins; }

signals:
    void sigStarted();
    void sigStartFailed();
    void sigClosed();

private slots:
    void onNewConnection();
    void onClosed();

private:
    Q_INVOKABLE void closeConnect();
    Q_INVOKABLE void startListen();
    Q_INVOKABLE void shutDown();
    void retireServer();

    QThread m_thread;
    const signaling::RelayLimits m_limits;
    std::atomic<quint16> m_port{0};
    QWebSocketServer *m_server = nullptr;
    std::shared_ptr<signaling::ServerConnectionManager> m_manager;
    std::atomic<quint16> m_boundPort{0};
    const std::shared_ptr<signaling::MemberOrigins> m_origins = std::make_shared<signaling::MemberOrigins>();
    std::vector<QWebSocketServer *> m_retiredServers;
};
