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
    quint16 listeningPort() const { return boundPort_.load(); }
    // Where the members connect from; safe to read on any thread.
    const signaling::MemberOrigins &memberOrigins() const { return *origins_; }

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

    QThread thread_;
    const signaling::RelayLimits limits_;
    std::atomic<quint16> port_{0};
    QWebSocketServer *server_ = nullptr;
    std::shared_ptr<signaling::ServerConnectionManager> manager_;
    std::atomic<quint16> boundPort_{0};
    const std::shared_ptr<signaling::MemberOrigins> origins_ = std::make_shared<signaling::MemberOrigins>();
    std::vector<QWebSocketServer *> retiredServers_;
};
