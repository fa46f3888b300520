#include "signaling/signalingclient.h"

#include "signaling/signalingclientworker.h"

namespace {

template <typename Call>
bool post(SignalingClientWorker *worker, Call call) {
    return QMetaObject::invokeMethod(worker, std::move(call), Qt::QueuedConnection);
}

}  // namespace

SignalingClient::SignalingClient() : worker_(new SignalingClientWorker) {
    signalingtypes::registerMetaTypes();
    thread_.setObjectName(QStringLiteral("zu-sig-client"));
    worker_->moveToThread(&thread_);
    using W = SignalingClientWorker;
    connect(worker_, &W::sigConnected, this, &SignalingClient::sigConnected);
    connect(worker_, &W::sigOwnerKnown, this, &SignalingClient::sigOwnerKnown);
    connect(worker_, &W::sigConnectFail, this, &SignalingClient::sigConnectFail);
    connect(worker_, &W::sigDisConnected, this, &SignalingClient::sigDisConnected);
    connect(worker_, &W::sigSdpArrived, this, &SignalingClient::sigSdpArrived);
    connect(worker_, &W::sigIceCandidateArrived, this, &SignalingClient::sigIceCandidateArrived);
    connect(worker_, &W::sigAlluserRefreshed, this, &SignalingClient::sigAlluserRefreshed);
    connect(worker_, &W::sigRequestShareScreen, this, &SignalingClient::sigRequestShareScreen);
    connect(worker_, &W::sigCloseShareScreen, this, &SignalingClient::sigCloseShareScreen);
    connect(worker_, &W::sigShareSdpArrived, this, &SignalingClient::sigShareSdpArrived);
    connect(worker_, &W::sigShareIceCandidateArrived, this, &SignalingClient::sigShareIceCandidateArrived);
    connect(worker_, &W::sigAdmissionWaiting, this, &SignalingClient::sigAdmissionWaiting);
    connect(worker_, &W::sigAdmitted, this, &SignalingClient::sigAdmitted);
    thread_.start();
}

SignalingClient::~SignalingClient() {
    // The socket goes on its own thread while the loop still runs, so that nothing is left to a
    // deferred delete that no loop would run.
    QMetaObject::invokeMethod(worker_, &SignalingClientWorker::shutDown, Qt::BlockingQueuedConnection);
    worker_->deleteLater();
    thread_.quit();
    thread_.wait();
}

bool SignalingClient::postConnectServer(const QUrl &url) {
    return post(worker_, [worker = worker_, url] { worker->connectServer(url); });
}

bool SignalingClient::postCloseConnect() {
    return post(worker_, [worker = worker_] { worker->closeConnect(); });
}

bool SignalingClient::postSendMsg(const QString &text) {
    return post(worker_, [worker = worker_, text] { worker->sendMsg(text); });
}

void SignalingClient::sendText(const QString &text) {
    post(worker_, [worker = worker_, text] { worker->sendText(text); });
}

QString SignalingClient::ownerId() const {
    return worker_->ownerId();
}

QString SignalingClient::myId() const {
    return worker_->myId();
}

void SignalingClient::setNickName(const QString &nickname) {
    post(worker_, [worker = worker_, nickname] { worker->setNickName(nickname); });
}

void SignalingClient::requestAllUser() {
    post(worker_, [worker = worker_] { worker->requestAllUser(); });
}

void SignalingClient::cutOff(const QString &id) {
    post(worker_, [worker = worker_, id] { worker->cutOff(id); });
}
