#include "signaling/signalingclientworker.h"

#include <QEventLoop>
#include <QMutexLocker>
#include <QWebSocket>

#include "core/refusallog.h"
#include "signaling/databean.h"
#include "signaling/icecandiatedatabean.h"
#include "signaling/modifydatabean.h"
#include "signaling/sdpdatabean.h"
#include "signaling/signalingbean.h"
#include "signaling/signalinglimits.h"
#include "signaling/signalinglog.h"
#include "signaling/userlistdatabean.h"

namespace {

constexpr int kOwnerRetryMs = 200;
constexpr int kCloseWaitMs = 3000;

sdpType sdpTypeOf(const std::string &text) {
    return text == "offer" ? OFFER : ANSWER;
}

}  // namespace

SignalingClientWorker::SignalingClientWorker() : ownerTimer_(this) {
    ownerTimer_.setSingleShot(true);
    ownerTimer_.setTimerType(Qt::PreciseTimer);
    connect(&ownerTimer_, &QTimer::timeout, this, &SignalingClientWorker::checkOwner);
}

SignalingClientWorker::~SignalingClientWorker() = default;

QString SignalingClientWorker::ownerId() const {
    QMutexLocker lock(&idLock_);
    return ownerId_;
}

QString SignalingClientWorker::myId() const {
    QMutexLocker lock(&idLock_);
    return myId_;
}

void SignalingClientWorker::connectServer(const QUrl &url) {
    if (!socket_) {
        socket_ = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
        socket_->setMaxAllowedIncomingMessageSize(signaling::kHardMessageLimitBytes);
        socket_->setMaxAllowedIncomingFrameSize(signaling::kMaxFrameBytes);
        connect(socket_, &QWebSocket::connected, this, &SignalingClientWorker::onConnected);
        connect(socket_, &QWebSocket::disconnected, this, &SignalingClientWorker::onClosed);
        connect(socket_, &QWebSocket::textMessageReceived, this,
                &SignalingClientWorker::onTextMessageReceived);
    }
    socket_->open(url);
}

void SignalingClientWorker::sendMsg(const QString &text) {
    qCDebug(lcSignaling).noquote() << "signaling client sends:" << text;
    if (socket_) {
        socket_->sendTextMessage(text);
    }
}

void SignalingClientWorker::sendText(const QString &text) {
    if (connected_) {
        sendMsg(text);
    }
}

void SignalingClientWorker::closeConnect() {
    if (socket_) {
        socket_->close(QWebSocketProtocol::CloseCodeNormal, QString());
    }
}

void SignalingClientWorker::shutDown() {
    ownerTimer_.stop();
    if (socket_ && connected_) {
        // A peer that never completes the close must not hold the owner's destructor for long.
        QEventLoop closing;
        connect(socket_, &QWebSocket::disconnected, &closing, &QEventLoop::quit);
        QTimer::singleShot(kCloseWaitMs, &closing, &QEventLoop::quit);
        socket_->close(QWebSocketProtocol::CloseCodeNormal, QString());
        if (connected_) {
            closing.exec();
        }
    }
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        delete socket_;
        socket_ = nullptr;
    }
    connected_ = false;
}

void SignalingClientWorker::onConnected() {
    connected_ = true;
    declareNickname();
    requestOwner();
    emit sigConnected();
}

void SignalingClientWorker::onClosed() {
    if (connected_) {
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

void SignalingClientWorker::checkOwner() {
    // An idle client stops asking; the next onConnected starts again.
    if (connected_ && ownerId().isEmpty()) {
        requestOwner();
    }
}

void SignalingClientWorker::setNickName(const QString &nickname) {
    nickname_ = nickname;
    declareNickname();
}

void SignalingClientWorker::declareNickname() {
    if (nickname_.isEmpty()) {
        return;
    }
    SignalingBean bean;
    bean.setType("ctrl");
    bean.setSender(myId().toStdString());
    auto body = bean.createData();
    body->setDataType("modify");
    auto modify = std::make_shared<ModifyDataBean>();
    modify->setModifyType("nickname");
    modify->setData(nickname_.toStdString());
    body->setData(modify);
    sendBean(bean);
}

void SignalingClientWorker::requestAllUser() {
    SignalingBean bean = SignalingBean::request("allUser");
    bean.setSender(myId().toStdString());
    sendBean(bean);
}

void SignalingClientWorker::cutOff(const QString &id) {
    SignalingBean bean = SignalingBean::request("cut_off");
    bean.getData()->setId(id.toStdString());
    sendBean(bean);
}

void SignalingClientWorker::requestOwner() {
    SignalingBean bean = SignalingBean::request("owner");
    bean.setSender(myId().toStdString());
    sendBean(bean);
    ownerTimer_.start(kOwnerRetryMs);
}

void SignalingClientWorker::sendBean(const SignalingBean &bean) {
    sendText(QString::fromStdString(bean.toText()));
}

void SignalingClientWorker::onTextMessageReceived(const QString &message) {
    const QByteArray utf8 = message.toUtf8();
    if (utf8.size() > signaling::kMaxTextMessageBytes) {
        qCDebug(lcSignaling) << "signaling client dropped an oversized message of" << utf8.size() << "bytes";
        return;
    }
    qCDebug(lcSignaling).noquote() << "signaling client received:" << message;
    auto bean = SignalingBean::fromText(std::string(utf8.constData(), size_t(utf8.size())));
    if (!bean) {
        qCDebug(lcSignaling).noquote() << "signaling client cannot parse:" << message;
        return;
    }
    if (bean->getType() == "data") {
        handleData(*bean);
    } else if (bean->getType() == "ctrl") {
        handleCtrl(*bean);
    }
}

void SignalingClientWorker::handleData(const SignalingBean &bean) {
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
        if (auto sdp = body->getSdpData()) {
            emit sigShareSdpArrived(sdpTypeOf(sdp->getSdpType()), QString::fromStdString(sdp->getSdp()),
                                    sender);
        }
    } else if (dataType == "admit_wait" || dataType == "admit_ok") {
        if (sender.isEmpty() || sender != ownerId()) {
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

void SignalingClientWorker::handleCtrl(const SignalingBean &bean) {
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
