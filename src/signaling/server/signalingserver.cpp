#include "signaling/server/signalingserver.h"

#include "signaling/server/signalingserverworker.h"

SignalingServer::SignalingServer(const signaling::RelayLimits &limits)
    : worker_(new SignalingServerWorker(limits, origins_)) {
    thread_.setObjectName(QStringLiteral("zu-sig-server"));
    worker_->moveToThread(&thread_);
    connect(worker_, &SignalingServerWorker::sigStarted, this, &SignalingServer::sigStarted);
    connect(worker_, &SignalingServerWorker::sigStartFailed, this, &SignalingServer::sigStartFailed);
    connect(worker_, &SignalingServerWorker::sigClosed, this, &SignalingServer::sigClosed);
    thread_.start();
}

SignalingServer::~SignalingServer() {
    // The sockets go on their own thread while its loop still runs, so that nothing is left to a
    // deferred delete that no loop would run.
    QMetaObject::invokeMethod(worker_, &SignalingServerWorker::shutDown, Qt::BlockingQueuedConnection);
    worker_->deleteLater();
    thread_.quit();
    thread_.wait();
}

bool SignalingServer::postStartListen(quint16 port) {
    return QMetaObject::invokeMethod(
        worker_, [worker = worker_, port] { worker->startListen(port); }, Qt::QueuedConnection);
}

bool SignalingServer::postCloseConnect() {
    return QMetaObject::invokeMethod(worker_, &SignalingServerWorker::closeConnect, Qt::QueuedConnection);
}

quint16 SignalingServer::listeningPort() const {
    return worker_->listeningPort();
}
