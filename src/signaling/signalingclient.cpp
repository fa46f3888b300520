#include "signalingclient.h"

#include <QDebug>
#include <QMutexLocker>
#include <QTimer>
#include <QWebSocket>

#include "core/refusallog.h"
#include "signaling/databean.h"
#include "signaling/icecandiatedatabean.h"
#include "signaling/modifydatabean.h"
#include "signaling/sdpdatabean.h"
#include "signaling/signalingbean.h"
#include "signaling/signalinglimits.h"
#include "signaling/userlistdatabean.h"

namespace {

constexpr int kOwnerRetryMs = 200;

sdpType sdpTypeOf(const std::string &text) {
    return text == "offer" ? OFFER : ANSWER;
}

}  // namespace

SignalingClient::SignalingClient() : QObject(nullptr) {
    signalingtypes::registerMetaTypes();
    moveToThread(&thread_);
    thread_.start(QThread::InheritPriority);
}

SignalingClient::~SignalingClient() {
    if (QThread::currentThread() == &thread_) {
        shutDown();
    } else {
        postCloseConnect();
        // A peer that never answers the closing handshake must not hold us forever: the socket
        // is aborted in shutDown after a bounded wait.
        for (int waited = 0; connected_.load() && waited < 3000; ++waited) {
            QThread::msleep(1);
        }
        QMetaObject::invokeMethod(this, "shutDown", Qt::BlockingQueuedConnection);
    }
    thread_.exit(0);
    thread_.wait();
}

bool SignalingClient::postConnectServer(const QUrl &url) {
    return QMetaObject::invokeMethod(this, "connectServer", Qt::QueuedConnection, Q_ARG(QUrl, url));
}

bool SignalingClient::postCloseConnect() {
    return QMetaObject::invokeMethod(this, "closeConnect", Qt::QueuedConnection);
}

bool SignalingClient::postSendMsg(const QString &text) {
    return QMetaObject::invokeMethod(this, "sendMsg", Qt::QueuedConnection, Q_ARG(QString, text));
}

void SignalingClient::sendText(const QString &text) {
    if (connected_.load()) {
        postSendMsg(text);
    }
}

QString SignalingClient::ownerId() const {
    QMutexLocker lock(&idLock_);
    return ownerId_;
}

QString SignalingClient::myId() const {
    QMutexLocker lock(&idLock_);
    return myId_;
}

void SignalingClient::setNickName(const QString &nickname) {
    {
        QMutexLocker lock(&idLock_);
        nickname_ = nickname;
    }
    declareNickname();
}

void SignalingClient::requestAllUser() {
    SignalingBean bean;
    bean.setType("ctrl");
    bean.setSender(myId().toStdString());
    auto body = bean.createData();
    body->setDataType("request");
    body->setRequestData("allUser");
    sendBean(bean);
}

void SignalingClient::cutOff(const QString &id) {
    SignalingBean bean;
    bean.setType("ctrl");
    auto body = bean.createData();
    body->setDataType("request");
    body->setRequestData("cut_off");
    body->setId(id.toStdString());
    sendBean(bean);
}

void SignalingClient::connectServer(QUrl url) {
    if (!socket_) {
        socket_ = new QWebSocket(QString(), QWebSocketProtocol::Version13, nullptr);
        socket_->setMaxAllowedIncomingMessageSize(signaling::kHardMessageLimitBytes);
        socket_->setMaxAllowedIncomingFrameSize(signaling::kMaxFrameBytes);
        connect(socket_, &QWebSocket::connected, this, &SignalingClient::onConnected);
        connect(socket_, &QWebSocket::disconnected, this, &SignalingClient::onClosed);
        connect(socket_, &QWebSocket::textMessageReceived, this, &SignalingClient::onTextMessageReceived);
    }
    socket_->open(url);
}

void SignalingClient::sendMsg(QString msg) {
    qDebug().noquote() << "SignalingClient sendMsg:" << msg;
    if (socket_) {
        socket_->sendTextMessage(msg);
    }
}

void SignalingClient::closeConnect() {
    if (socket_) {
        socket_->close(QWebSocketProtocol::CloseCodeNormal, QString());
    }
}

void SignalingClient::shutDown() {
    if (ownerTimer_) {
        delete ownerTimer_;
        ownerTimer_ = nullptr;
    }
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        delete socket_;
        socket_ = nullptr;
    }
    connected_ = false;
}

void SignalingClient::onConnected() {
    connected_ = true;
    declareNickname();
    requestOwner();
    emit sigConnected();
}

void SignalingClient::onClosed() {
    if (connected_.load()) {
        emit sigDisConnected();
    } else {
        emit sigConnectFail();
    }
    connected_ = false;
    if (socket_) {
        socket_->disconnect(this);
        socket_->deleteLater();
        socket_ = nullptr;
    }
}

void SignalingClient::checkOwner() {
    // An idle client stops asking; the next onConnected starts again.
    if (connected_.load() && ownerId().isEmpty()) {
        requestOwner();
    }
}

void SignalingClient::declareNickname() {
    QString nickname;
    {
        QMutexLocker lock(&idLock_);
        nickname = nickname_;
    }
    if (nickname.isEmpty()) {
        return;
    }
    SignalingBean bean;
    bean.setType("ctrl");
    bean.setSender(myId().toStdString());
    auto body = bean.createData();
    body->setDataType("modify");
    auto modify = std::make_shared<ModifyDataBean>();
    modify->setModifyType("nickname");
    modify->setData(nickname.toStdString());
    body->setData(modify);
    sendBean(bean);
}

void SignalingClient::requestOwner() {
    SignalingBean bean;
    bean.setType("ctrl");
    bean.setSender(myId().toStdString());
    auto body = bean.createData();
    body->setDataType("request");
    body->setRequestData("owner");
    sendBean(bean);
    // Runs on the worker thread only (onConnected and the timer itself).
    if (!ownerTimer_) {
        ownerTimer_ = new QTimer(this);
        ownerTimer_->setSingleShot(true);
        ownerTimer_->setTimerType(Qt::PreciseTimer);
        connect(ownerTimer_, &QTimer::timeout, this, &SignalingClient::checkOwner);
    }
    ownerTimer_->start(kOwnerRetryMs);
}

void SignalingClient::sendBean(const SignalingBean &bean) {
    sendText(QString::fromStdString(bean.toText()));
}

void SignalingClient::onTextMessageReceived(QString message) {
    const QByteArray utf8 = message.toUtf8();
    if (utf8.size() > signaling::kMaxTextMessageBytes) {
        qDebug() << "SignalingClient dropped an oversized message of" << utf8.size() << "bytes";
        return;
    }
    qDebug().noquote() << "SignalingClient onmessage:" << message;
    auto bean = SignalingBean::fromText(std::string(utf8.constData(), size_t(utf8.size())));
    if (!bean) {
        qDebug().noquote()
            << QStringLiteral("src/signaling/signalingclient:%1:cannot parse json data:").arg(__LINE__)
            << message;
        return;
    }
    if (bean->getType() == "data") {
        handleData(*bean);
    } else if (bean->getType() == "ctrl") {
        handleCtrl(*bean);
    }
}

void SignalingClient::handleData(const SignalingBean &bean) {
    const auto &body = bean.getData();
    if (!body) {
        return;
    }
    const std::string &dataType = body->getDataType();
    const QString sender = QString::fromStdString(bean.getSender());
    if ((dataType == "id" || dataType == "owner" || dataType == "allUser") && !sender.isEmpty()) {
        // The server sends these with no sender; a member's copy would make it our host.
        logRefusal("client: server-only type", "signaling client refused \"" + dataType + "\" from " +
                                                   sender.toStdString() + ", which is not the server");
        return;
    }
    if (dataType == "id") {
        QMutexLocker lock(&idLock_);
        myId_ = QString::fromStdString(body->getId());
    } else if (dataType == "owner") {
        const QString owner = QString::fromStdString(body->getId());
        {
            QMutexLocker lock(&idLock_);
            ownerId_ = owner;
        }
        if (!owner.isEmpty()) {
            emit sigOwnerKnown();
        }
    } else if (dataType == "sdp") {
        if (auto sdp = body->getSdpData()) {
            emit sigSdpArrived(sdpTypeOf(sdp->getSdpType()), QString::fromStdString(sdp->getSdp()), sender);
        }
    } else if (dataType == "ice_candidate") {
        if (auto ice = body->getIceCandidateData()) {
            emit sigIceCandidateArrived(QString::fromStdString(ice->getCandidate()), ice->getSdpMlineIndex(),
                                        QString::fromStdString(ice->getSdpMid()), sender);
        }
    } else if (dataType == "allUser") {
        if (auto users = body->getUserListData()) {
            QList<SignalingUser> list;
            for (const auto &user : users->getUsers()) {
                if (user) {
                    list.append(SignalingUser{QString::fromStdString(user->getId()),
                                              QString::fromStdString(user->getNickname()),
                                              user->getDevicetype()});
                }
            }
            emit sigAlluserRefreshed(list);
        }
    } else if (dataType == "share_screen_sdp") {
        qDebug() << "share_screen_sdp";
        if (auto sdp = body->getSdpData()) {
            qDebug() << "share_screen_sdp";
            emit sigShareSdpArrived(sdpTypeOf(sdp->getSdpType()), QString::fromStdString(sdp->getSdp()),
                                    sender);
        }
    } else if (dataType == "admit_wait" || dataType == "admit_ok") {
        QString owner;
        {
            QMutexLocker lock(&idLock_);
            owner = ownerId_;
        }
        if (sender.isEmpty() || sender != owner) {
            logRefusal("client: admission not from the host", "signaling client refused \"" + dataType +
                                                                  "\" from " + sender.toStdString() +
                                                                  ", which is not the host");
            return;
        }
        if (dataType == "admit_wait") {
            emit sigAdmissionWaiting();
        } else {
            emit sigAdmitted();
        }
    } else if (dataType == "share_screen_ice_candidate") {
        if (auto ice = body->getIceCandidateData()) {
            emit sigShareIceCandidateArrived(QString::fromStdString(ice->getCandidate()),
                                             ice->getSdpMlineIndex(),
                                             QString::fromStdString(ice->getSdpMid()), sender);
        }
    }
}

void SignalingClient::handleCtrl(const SignalingBean &bean) {
    const auto &body = bean.getData();
    if (!body || body->getDataType() != "request") {
        return;
    }
    const QString sender = QString::fromStdString(bean.getSender());
    if (body->getRequestData() == "share") {
        emit sigRequestShareScreen(sender);
    } else if (body->getRequestData() == "stop_share") {
        emit sigCloseShareScreen(sender);
    }
}
