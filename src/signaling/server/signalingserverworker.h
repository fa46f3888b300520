#pragma once

#include <QObject>
#include <atomic>
#include <memory>
#include <vector>

#include "signaling/server/memberorigins.h"
#include "signaling/signalinglimits.h"

class QWebSocketServer;

namespace signaling {
class ServerConnectionManager;
}

// The listening socket, the connection manager and every accepted socket, on the signaling
// server's own thread; SignalingServer forwards to it.
class SignalingServerWorker : public QObject {
    Q_OBJECT
public:
    SignalingServerWorker(const signaling::RelayLimits &limits,
                          std::shared_ptr<signaling::MemberOrigins> origins);
    ~SignalingServerWorker() override;

    void startListen(quint16 port);
    void closeConnect();
    // Frees the listening sockets, the manager and the accepted sockets.
    void shutDown();

    // Any thread.
    quint16 listeningPort() const { return boundPort_.load(); }

signals:
    void sigStarted();
    void sigStartFailed();
    void sigClosed();

private:
    void onNewConnection();
    void retireServer();

    const signaling::RelayLimits limits_;
    const std::shared_ptr<signaling::MemberOrigins> origins_;
    QWebSocketServer *server_ = nullptr;
    std::shared_ptr<signaling::ServerConnectionManager> manager_;
    std::atomic<quint16> boundPort_{0};
    std::vector<QWebSocketServer *> retiredServers_;
};
