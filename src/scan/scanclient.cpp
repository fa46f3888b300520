#include "scan/scanclient.h"

#include "scan/scanclientworker.h"

ScanClient::ScanClient() : worker_(new ScanClientWorker) {
    thread_.setObjectName(QStringLiteral("zu-scan-client"));
    worker_->moveToThread(&thread_);
    connect(worker_, &ScanClientWorker::sigShareListRefreshed, this, &ScanClient::sigShareListRefreshed);
    thread_.start();
}

ScanClient::~ScanClient() {
    // The worker closes its socket in its destructor, on its own thread.
    worker_->deleteLater();
    thread_.quit();
    thread_.wait();
}

bool ScanClient::postStartScan() {
    return QMetaObject::invokeMethod(worker_, &ScanClientWorker::startScan, Qt::QueuedConnection);
}

bool ScanClient::postStopScan() {
    return QMetaObject::invokeMethod(worker_, &ScanClientWorker::stopScan, Qt::QueuedConnection);
}

bool ScanClient::postRefresh() {
    return QMetaObject::invokeMethod(worker_, &ScanClientWorker::refresh, Qt::QueuedConnection);
}
