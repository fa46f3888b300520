#include "rtc/rtcmanager.h"

#include <QUrl>

#include "core/i420planes.h"
#include "rtc/attendeertcmanager.h"
#include "rtc/originatorrtcmanager.h"
#include "rtc/rtclog.h"
#include "rtc/zuwebrtc.h"
#include "signaling/databean.h"
#include "signaling/icecandiatedatabean.h"
#include "signaling/sdpdatabean.h"
#include "signaling/signalingbean.h"
#include "signaling/signalingclient.h"
#include "transfer/filetransferor.h"
#include "video/videowidgetinterface.h"

Q_LOGGING_CATEGORY(lcRtc, "zushare.rtc")

std::unique_ptr<RtcManager> RtcManager::create(int type) {
    if (type == 1) {
        return std::make_unique<OriginatorRtcManager>();
    }
    return std::make_unique<AttendeeRtcManager>();
}

void RtcManager::prepareMediaEngine() {
    PrepareMediaEngine();
}

RtcManager::RtcManager() : QObject(nullptr) {
    registerQueuedTypes();
    signalingClient_ = std::make_shared<SignalingClient>();
    SignalingClient *client = signalingClient_.get();
    connect(client, &SignalingClient::sigConnected, this, &RtcManager::onClientConnected);
    connect(client, &SignalingClient::sigSdpArrived, this, &RtcManager::onSdpReceived);
    connect(client, &SignalingClient::sigIceCandidateArrived, this, &RtcManager::onIceCandidateReceived);
    connect(client, &SignalingClient::sigDisConnected, this, &RtcManager::onClientDisConnected);
    connect(client, &SignalingClient::sigConnectFail, this, &RtcManager::onClientConnectFail);
    connect(client, &SignalingClient::sigRequestShareScreen, this, &RtcManager::onRequestShareScreen);
    connect(client, &SignalingClient::sigCloseShareScreen, this, &RtcManager::onCloseShareScreen);
    connect(client, &SignalingClient::sigShareSdpArrived, this, &RtcManager::onShareSdpReceived);
    connect(client, &SignalingClient::sigShareIceCandidateArrived, this,
            &RtcManager::onShareIceCandidateReceived);
    fileThread_.setObjectName(QStringLiteral("zu-transfer"));
    fileThread_.start();
}

RtcManager::~RtcManager() {
    // Nothing queued by the client may reach a manager that is half gone.
    signalingClient_->disconnect(this);
    fileThread_.quit();
    fileThread_.wait();
}

void RtcManager::registerQueuedTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        signalingtypes::registerMetaTypes();
        qRegisterMetaType<std::string>("std::string");
    });
}

void RtcManager::sendDataMessage(const char *dataType, const QString &target,
                                 const std::shared_ptr<InternalDataBean> &payload) {
    if (target.isEmpty()) {
        return;
    }
    SignalingBean bean;
    bean.setType("data");
    bean.setTarget(target.toStdString());
    auto body = bean.createData();
    body->setDataType(dataType);
    body->setData(payload);
    signalingClient_->sendText(QString::fromStdString(bean.toText()));
}

void RtcManager::sendRequestMessage(const char *request, const QString &target) {
    SignalingBean bean = SignalingBean::request(request);
    bean.setTarget(target.toStdString());
    signalingClient_->sendText(QString::fromStdString(bean.toText()));
}

std::shared_ptr<FileTransferor> RtcManager::createTransferor(int pc) {
    auto transferor = std::make_shared<FileTransferor>(pc);
    transferor->moveToThread(&fileThread_);
    return transferor;
}

void RtcManager::sendSdpMessage(const char *dataType, const QString &target, const std::string &sdptype,
                                const std::string &sdp) {
    auto payload = std::make_shared<SdpDataBean>();
    payload->setSdpType(sdptype);
    payload->setSdp(sdp);
    sendDataMessage(dataType, target, payload);
}

void RtcManager::sendIceMessage(const char *dataType, const QString &target, const std::string &candidate,
                                int sdp_mline_index, const std::string &sdp_mid) {
    auto payload = std::make_shared<IceCandiateDataBean>();
    payload->setCandidate(candidate);
    payload->setSdpMlineIndex(sdp_mline_index);
    payload->setSdpMid(sdp_mid);
    sendDataMessage(dataType, target, payload);
}

void RtcManager::setServerIp(const QString &ip) {
    serverIp_ = ip;
}

void RtcManager::setServerPort(quint16 port) {
    serverPort_ = port;
}

void RtcManager::setVideoWidget(std::weak_ptr<VideoWidgetInterface> view) {
    std::lock_guard<std::mutex> lock(frameLock_);
    view_ = view.lock();
}

std::shared_ptr<VideoWidgetInterface> RtcManager::videoWidget() const {
    std::lock_guard<std::mutex> lock(frameLock_);
    return view_;
}

void RtcManager::connectToServer() {
    const QString text = QStringLiteral("ws://") + serverIp_ + QStringLiteral(":") +
                         QString::number(serverPort_) + QStringLiteral("/zu_remote_ctrl");
    signalingClient_->postConnectServer(QUrl(text));
}

void RtcManager::setShareScreenWidget(const QString &, std::weak_ptr<VideoWidgetInterface>) {}

void RtcManager::stop() {
    signalingClient_->postCloseConnect();
}

void RtcManager::cutOffShare(const QString &) {}

void RtcManager::transferFile(const QString &, const QString &) {}

void RtcManager::agreeShare(const QString &) {}

void RtcManager::refuseShare(const QString &) {}

void RtcManager::stopShare(const QString &) {}

void RtcManager::onClientConnected() {
    emit sigRtcStarted();
}

void RtcManager::onClientDisConnected() {
    emit sigRtcStoped();
}

void RtcManager::onClientConnectFail() {
    emit sigRtcStartFailed();
}

void RtcManager::onRequestShareScreen(QString) {}

void RtcManager::onCloseShareScreen(QString) {}

void RtcManager::onShareSdpReceived(sdpType, QString, QString) {}

void RtcManager::onShareIceCandidateReceived(QString, int, QString, QString) {}
