#pragma once

#include <QObject>
#include <QThread>
#include <memory>

#include "signaling/server/memberorigins.h"
#include "signaling/signalinglimits.h"

class SignalingServerWorker;

// The host's WebSocket signaling server. Its listening socket, the connection manager and every
// accepted socket live on a worker thread that the object owns; the object and its signals stay in
// the creator's thread.
class SignalingServer : public QObject {
    Q_OBJECT
public:
    explicit SignalingServer(const signaling::RelayLimits &limits = signaling::RelayLimits());
    ~SignalingServer() override;

    bool postStartListen(quint16 port);
    bool postCloseConnect();

    // The port actually bound (useful after listening on port 0); 0 while not listening.
    quint16 listeningPort() const;
    // Where the members connect from; safe to read on any thread.
    const signaling::MemberOrigins &memberOrigins() const { return *origins_; }

signals:
    void sigStarted();
    void sigStartFailed();
    void sigClosed();

private:
    const std::shared_ptr<signaling::MemberOrigins> origins_ = std::make_shared<signaling::MemberOrigins>();
    QThread thread_;
    SignalingServerWorker *worker_;
};
