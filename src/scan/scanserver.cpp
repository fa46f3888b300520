#include "scan/scanserver.h"

#include "scan/scanserverworker.h"

ScanServer::ScanServer() : worker_(new ScanServerWorker) {
    thread_.setObjectName(QStringLiteral("zu-scan-server"));
    worker_->moveToThread(&thread_);
    connect(worker_, &ScanServerWorker::sigListeningSuccess, this, &ScanServer::sigListeningSuccess);
    connect(worker_, &ScanServerWorker::sigListeningFail, this, &ScanServer::sigListeningFail);
    connect(worker_, &ScanServerWorker::sigStop, this, &ScanServer::sigStop);
    connect(worker_, &ScanServerWorker::siglocalIp, this, &ScanServer::siglocalIp);
    thread_.start();
}

ScanServer::~ScanServer() {
    // The worker closes its socket in its destructor, on its own thread.
    worker_->deleteLater();
    thread_.quit();
    thread_.wait();
}

bool ScanServer::postStartListening(quint16 port) {
    return QMetaObject::invokeMethod(
        worker_, [worker = worker_, port] { worker->startListening(port); }, Qt::QueuedConnection);
}

bool ScanServer::postStopListening() {
    return QMetaObject::invokeMethod(worker_, &ScanServerWorker::stopListening, Qt::QueuedConnection);
}
