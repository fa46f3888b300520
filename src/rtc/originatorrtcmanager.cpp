#include "rtc/originatorrtcmanager.h"

#include <QTimer>

#include "core/i420planes.h"
#include "core/logger.h"
#include "core/refusallog.h"
#include "rtc/rtclog.h"
#include "rtc/zuwebrtc.h"
#include "signaling/server/signalingserver.h"
#include "signaling/signalingclient.h"
#include "transfer/filetransferor.h"
#include "video/videoframefactory.h"
#include "video/videowidgetinterface.h"

namespace {

QString idOfPeer(const QHash<QString, int> &table, int pc) {
    for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
        if (it.value() == pc) {
            return it.key();
        }
    }
    return QString();
}

std::string text(const char *s) {
    return s ? std::string(s) : std::string();
}

}  // namespace

OriginatorRtcManager::OriginatorRtcManager() {
    connect(signalingClient().get(), &SignalingClient::sigAlluserRefreshed, this,
            [this](const QList<SignalingUser> &users) {
                joined_.clear();
                for (const SignalingUser &user : users) {
                    joined_.insert(user.id, user);
                }
                const QList<QString> present = joined_.keys();
                if (admission_.keepOnly(QSet<QString>(present.begin(), present.end()))) {
                    emit sigAdmissionQueueChanged();
                }
            });
}

bool OriginatorRtcManager::mayMakePeerFor(const QString &id, const char *what) const {
    if (joined_.contains(id)) {
        return true;
    }
    logRefusal(std::string("host: ") + what, std::string("refused ") + what + " from " + id.toStdString() +
                                                 ", which has not joined the share");
    return false;
}

OriginatorRtcManager::~OriginatorRtcManager() {
    // Peers first: once ClosePeerConnection returns none of their callbacks runs, so nothing can
    // reach the tables or this object any more.
    for (int pc : qAsConst(peers_)) {
        ClosePeerConnection(pc);
    }
    peers_.clear();
    QList<int> sharePeers;
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        sharePeers = sharePeers_.values();
    }
    for (int pc : qAsConst(sharePeers)) {
        ClosePeerConnection(pc);
    }
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        sharePeers_.clear();
        shareFrames_.clear();
        shareViews_.clear();
    }
    for (const auto &transferor : qAsConst(transferors_)) {
        transferor->disconnect(this);
    }
    transferors_.clear();
    if (server_) {
        server_->disconnect(this);
    }
}

quint16 OriginatorRtcManager::listeningPort() const {
    return server_ ? server_->listeningPort() : 0;
}

QList<QString> OriginatorRtcManager::projectionIds() const {
    std::lock_guard<std::mutex> lock(shareLock_);
    return sharePeers_.keys();
}

// ---- start and stop ----

void OriginatorRtcManager::start() {
    if (server_) {
        return;
    }
    server_ = std::make_shared<SignalingServer>();
    connect(server_.get(), &SignalingServer::sigStarted, this,
            &OriginatorRtcManager::onSignalingServerStarted);
    connect(server_.get(), &SignalingServer::sigStartFailed, this,
            &OriginatorRtcManager::onSignalingServerStartFailed);
    connect(server_.get(), &SignalingServer::sigClosed, this, &OriginatorRtcManager::onSignalingServerClosed);
    server_->postStartListen(serverPort());
}

void OriginatorRtcManager::onSignalingServerStarted() {
    setServerIp(QStringLiteral("127.0.0.1"));
    // With port 0 (tests) the own client must use the port actually bound.
    if (serverPort() == 0 && server_) {
        setServerPort(server_->listeningPort());
    }
    connectToServer();
}

void OriginatorRtcManager::onSignalingServerStartFailed() {
    g_logger->warn("the signaling server could not listen on port {}", serverPort());
    emit sigRtcStartFailed();
}

void OriginatorRtcManager::onSignalingServerClosed() {
    if (server_) {
        server_->disconnect(this);
        server_.reset();
    }
}

static_assert(OriginatorRtcManager::kSoundNone == ZUWEBRTC_SOUND_NONE &&
              OriginatorRtcManager::kSoundSpeakers == ZUWEBRTC_SOUND_SPEAKERS);

bool OriginatorRtcManager::setShareSound(int source, bool muted) {
    MuteShareSound(muted ? 1 : 0);
    SetShareSound(source);
    // Only the speakers need a sound server; the test sounds are made here.
    return source != ZUWEBRTC_SOUND_SPEAKERS || ShareSoundAvailable() == 1;
}

void OriginatorRtcManager::stop() {
    RtcManager::stop();
    SetShareSound(ZUWEBRTC_SOUND_NONE);
    if (server_) {
        server_->postCloseConnect();
    }
}

// ---- attendee peers ----

int OriginatorRtcManager::findOrCreatePeer(const QString &id) {
    auto it = peers_.constFind(id);
    if (it != peers_.constEnd()) {
        return it.value();
    }
    if (!mayMakePeerFor(id, "an offer")) {
        return 0;
    }
    const int pc = CreatePeerConnection(0, 0, 0, 0, 0);
    if (pc <= 0) {
        // Left alone, the member would wait for a picture that never comes.
        g_logger->error("host: the media engine made no peer for {} ({}); the member is cut off",
                        id.toStdString(), pc);
        cutOffShare(id);
        return 0;
    }
    // The sound goes only to a member whose offer asks for it, and only while the host shares it.
    AddStream(pc, 1, 1);
    AddDataChannel(pc);
    RegisterOnLocalSdpReadytoSend(pc, &OriginatorRtcManager::onLocalSdp, this, pc);
    RegisterOnIceCandiateReadytoSend(pc, &OriginatorRtcManager::onLocalIce, this, pc);
    RegisterOnLocalDataChannelReady(pc, &OriginatorRtcManager::onDataChannelReady, this, pc);
    RegisterOnPeerClosed(pc, &OriginatorRtcManager::onPeerClosed, this, pc);
    peers_.insert(id, pc);
    QTimer::singleShot(kConnectDeadlineMs, this, [this, id, pc] {
        if (peers_.value(id) == pc && !transferors_.contains(id)) {
            g_logger->warn("peer of {} did not connect within {} ms; closed", id.toStdString(),
                           kConnectDeadlineMs);
            closePeer(pc);
        }
    });
    return pc;
}

void OriginatorRtcManager::onSdpReceived(sdpType, QString sdp, QString senderID) {
    if (peers_.contains(senderID) || (mayMakePeerFor(senderID, "an offer") && admitted(senderID, sdp))) {
        answerOffer(senderID, sdp);
    }
}

void OriginatorRtcManager::answerOffer(const QString &id, const QString &offer) {
    const int pc = findOrCreatePeer(id);
    if (pc <= 0) {
        return;
    }
    SetRemoteDescription(pc, "offer", offer.toUtf8().constData());
    CreateAnswer(pc);
}

bool OriginatorRtcManager::admitted(const QString &id, const QString &offer) {
    const SignalingUser user = joined_.value(id);
    const signaling::MemberOrigins::Origin origin =
        server_ ? server_->memberOrigins().find(id) : signaling::MemberOrigins::Origin();
    AdmissionQueue::Member member{id, user.nickname, origin.address, AdmissionQueue::Kind::Desktop};
    if (user.devicetype == 1) {
        member.kind = AdmissionQueue::Kind::Mobile;
    } else if (origin.browser) {
        member.kind = AdmissionQueue::Kind::Browser;
    }
    if (admission_.mayWatch(member)) {
        return true;
    }
    if (admission_.hold(member, offer)) {
        g_logger->info("{} ({}, {}) waits to be let in", user.nickname.toStdString(),
                       origin.address.toStdString(), id.toStdString());
        sendDataMessage("admit_wait", id, nullptr);
        emit sigAdmissionQueueChanged();
    }
    return false;
}

void OriginatorRtcManager::setAskBeforeWatching(bool ask) {
    admission_.setAsking(ask);
    if (!ask) {
        admitAllWaiting();
    }
}

void OriginatorRtcManager::admit(const QString &member) {
    const QString id = member;  // the caller's string may change with what the signal below sets off
    if (!admission_.isWaiting(id)) {
        return;
    }
    const AdmissionQueue::Held held = admission_.admit(id);
    g_logger->info("{} is let in", id.toStdString());
    sendDataMessage("admit_ok", id, nullptr);
    answerOffer(id, held.offer);
    const int pc = peers_.value(id, 0);
    if (pc > 0) {
        for (const AdmissionQueue::Candidate &c : held.candidates) {
            AddIceCandidate(pc, c.candidate.toUtf8().constData(), c.mlineIndex, c.mid.toUtf8().constData());
        }
    }
    emit sigAdmissionQueueChanged();
}

void OriginatorRtcManager::admitAllWaiting() {
    const auto waiting = admission_.waiting();
    for (const AdmissionQueue::Member &member : waiting) {
        admit(member.id);
    }
}

void OriginatorRtcManager::refuse(const QString &member) {
    const QString id = member;
    if (admission_.forget(id)) {
        g_logger->info("{} is refused", id.toStdString());
        emit sigAdmissionQueueChanged();
    }
    cutOffShare(id);
}

void OriginatorRtcManager::onIceCandidateReceived(QString candidate, int sdp_mline_index, QString sdp_mid,
                                                  QString sender) {
    // Candidates follow their member's offer; alone they make no peer.
    if (admission_.isWaiting(sender)) {
        admission_.holdCandidate(sender, {candidate, sdp_mline_index, sdp_mid});
        return;
    }
    const int pc = peers_.value(sender, 0);
    if (pc > 0) {
        AddIceCandidate(pc, candidate.toUtf8().constData(), sdp_mline_index, sdp_mid.toUtf8().constData());
    }
}

void OriginatorRtcManager::sendSdp(int pc, std::string sdptype, std::string sdp) {
    const QString id = idOfPeer(peers_, pc);
    qCDebug(lcRtc) << "sendSdp to" << id;
    sendSdpMessage("sdp", id, sdptype, sdp);
}

void OriginatorRtcManager::sendIceCandidate(int pc, std::string candidate, int sdp_mline_index,
                                            std::string sdp_mid) {
    qCDebug(lcRtc) << "sendIceCandidate";
    sendIceMessage("ice_candidate", idOfPeer(peers_, pc), candidate, sdp_mline_index, sdp_mid);
}

void OriginatorRtcManager::closePeer(int pc) {
    const QString id = idOfPeer(peers_, pc);
    closeFileTransferor(id);
    ClosePeerConnection(pc);
    if (!id.isEmpty()) {
        peers_.remove(id);
    }
}

void OriginatorRtcManager::cutOffShare(const QString &id) {
    qCDebug(lcRtc) << "OriginatorRtcManager::cutOffShare";
    signalingClient()->cutOff(id);
}

// ---- files ----

void OriginatorRtcManager::createFileTransferor(int pc) {
    const QString id = idOfPeer(peers_, pc);
    if (id.isEmpty() || transferors_.contains(id)) {
        return;
    }
    auto transferor = createTransferor(pc);
    transferor->refuseFiles();
    connect(transferor.get(), &FileTransferor::sigTransferBegin, this,
            &OriginatorRtcManager::onFileTransferBegin);
    connect(transferor.get(), &FileTransferor::sigProgressChanged, this,
            &OriginatorRtcManager::onFileTransferProgressChanged);
    connect(transferor.get(), &FileTransferor::sigTransferFail, this,
            &OriginatorRtcManager::onFileTransferFail);
    transferors_.insert(id, transferor);
}

void OriginatorRtcManager::closeFileTransferor(QString id) {
    auto it = transferors_.find(id);
    if (it == transferors_.end()) {
        return;
    }
    const bool running = it.value()->isRunning();
    it.value()->disconnect(this);
    transferors_.erase(it);
    if (running) {
        emit sigFileTransferFail(id, tr("文件传输中断"));
    }
}

void OriginatorRtcManager::transferFile(const QString &id, const QString &path) {
    auto it = transferors_.constFind(id);
    if (it != transferors_.constEnd()) {
        it.value()->addTask(path);
    }
}

QString OriginatorRtcManager::idOfTransferor(const QObject *sender) const {
    for (auto it = transferors_.constBegin(); it != transferors_.constEnd(); ++it) {
        if (it.value().get() == sender) {
            return it.key();
        }
    }
    return QString();
}

void OriginatorRtcManager::onFileTransferBegin() {
    const QString id = idOfTransferor(sender());
    if (!id.isEmpty()) {
        emit sigFileTransferBegin(id);
    }
}

void OriginatorRtcManager::onFileTransferProgressChanged(int value) {
    const QString id = idOfTransferor(sender());
    if (!id.isEmpty()) {
        emit sigFileTransferProgressChanged(id, value);
    }
}

void OriginatorRtcManager::onFileTransferFail(QString, QString error) {
    const QString id = idOfTransferor(sender());
    if (!id.isEmpty()) {
        emit sigFileTransferFail(id, error);
    }
}

bool OriginatorRtcManager::transferFileRunning() {
    bool running = false;
    for (const auto &transferor : qAsConst(transferors_)) {
        running = running || transferor->isRunning();
    }
    qCDebug(lcRtc) << "transferFileRunning" << running;
    return running;
}

void OriginatorRtcManager::stopFileTransfer() {
    for (const auto &transferor : qAsConst(transferors_)) {
        transferor->postStopTask();
    }
}

// ---- projections from members ----

void OriginatorRtcManager::onRequestShareScreen(QString id) {
    // A member the host has not let in puts no question of its own before the host either.
    if (admission_.isWaiting(id)) {
        g_logger->info("{} asked to project while it waits; refused", id.toStdString());
        refuseShare(id);
        return;
    }
    emit sigRequestShareScreen(id);
}

void OriginatorRtcManager::setShareScreenWidget(const QString &id, std::weak_ptr<VideoWidgetInterface> view) {
    std::lock_guard<std::mutex> lock(shareLock_);
    shareViews_.insert(id, view.lock());
}

void OriginatorRtcManager::agreeShare(const QString &id) {
    agreedShares_.insert(id);
    sendRequestMessage("agree_share", id);
}

void OriginatorRtcManager::refuseShare(const QString &id) {
    sendRequestMessage("refuse_share", id);
}

void OriginatorRtcManager::stopShare(const QString &id) {
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        shareViews_.remove(id);
    }
    sendRequestMessage("stop_share", id);
    // The member may keep sending after being told to stop; its pictures have nowhere to go.
    releaseSharePeer(id);
}

void OriginatorRtcManager::onCloseShareScreen(QString id) {
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        shareViews_.remove(id);
    }
    releaseSharePeer(id);
    emit sigShareScreenClosed(id);
}

bool OriginatorRtcManager::releaseSharePeer(const QString &id) {
    agreedShares_.remove(id);
    int pc = 0;
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        pc = sharePeers_.take(id);
        shareFrames_.remove(id);
    }
    // Outside the lock: closing waits for a frame callback in progress, which takes the lock.
    if (pc != 0) {
        ClosePeerConnection(pc);
    }
    return pc != 0;
}

int OriginatorRtcManager::findOrCreateSharePeer(const QString &id) {
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        auto it = sharePeers_.constFind(id);
        if (it != sharePeers_.constEnd()) {
            return it.value();
        }
    }
    const int pc = CreatePeerConnection(0, 0, 0, 0, 1);
    if (pc <= 0) {
        g_logger->error("host: the media engine made no peer for {}'s projection ({})", id.toStdString(), pc);
        return 0;
    }
    {
        // Stored before any callback is registered, so the first picture finds its member.
        std::lock_guard<std::mutex> lock(shareLock_);
        sharePeers_.insert(id, pc);
    }
    RegisterOnLocalSdpReadytoSend(pc, &OriginatorRtcManager::onShareLocalSdp, this, pc);
    RegisterOnIceCandiateReadytoSend(pc, &OriginatorRtcManager::onShareLocalIce, this, pc);
    RegisterOnRemoteI420FrameReady(pc, &OriginatorRtcManager::onShareFrameReady, this, pc);
    RegisterOnPeerClosed(pc, &OriginatorRtcManager::onSharePeerClosed, this, pc);
    return pc;
}

void OriginatorRtcManager::onShareSdpReceived(sdpType, QString sdp, QString sender) {
    qCDebug(lcRtc) << "onShareSdpReceived";
    if (!agreedShares_.contains(sender)) {
        logRefusal("host: projection",
                   "refused a projection from " + sender.toStdString() + ", which the host did not agree to");
        return;
    }
    const int pc = findOrCreateSharePeer(sender);
    if (pc <= 0) {
        return;
    }
    SetRemoteDescription(pc, "offer", sdp.toUtf8().constData());
    CreateAnswer(pc);
}

void OriginatorRtcManager::onShareIceCandidateReceived(QString candidate, int sdp_mline_index,
                                                       QString sdp_mid, QString sender) {
    qCDebug(lcRtc) << "onShareIceCandidateReceived";
    int pc = 0;
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        pc = sharePeers_.value(sender, 0);
    }
    if (pc <= 0) {
        return;
    }
    AddIceCandidate(pc, candidate.toUtf8().constData(), sdp_mline_index, sdp_mid.toUtf8().constData());
}

QString OriginatorRtcManager::shareIdOfLocked(int pc) const {
    return idOfPeer(sharePeers_, pc);
}

void OriginatorRtcManager::sendShareSdp(int pc, std::string sdptype, std::string sdp) {
    QString id;
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        id = shareIdOfLocked(pc);
    }
    sendSdpMessage("share_screen_sdp", id, sdptype, sdp);
}

void OriginatorRtcManager::sendShareIceCandidate(int pc, std::string candidate, int sdp_mline_index,
                                                 std::string sdp_mid) {
    QString id;
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        id = shareIdOfLocked(pc);
    }
    sendIceMessage("share_screen_ice_candidate", id, candidate, sdp_mline_index, sdp_mid);
}

void OriginatorRtcManager::closeSharePeer(int pc) {
    ClosePeerConnection(pc);
    QString id;
    {
        std::lock_guard<std::mutex> lock(shareLock_);
        id = shareIdOfLocked(pc);
        if (!id.isEmpty()) {
            sharePeers_.remove(id);
            shareFrames_.remove(id);
        }
    }
    // A projection already ended by "stop_share" was reported then.
    if (!id.isEmpty()) {
        agreedShares_.remove(id);
        emit sigShareScreenClosed(id);
    }
}

void OriginatorRtcManager::onShareFrame(int pc, const I420Planes &planes) {
    std::lock_guard<std::mutex> lock(shareLock_);
    const QString id = shareIdOfLocked(pc);
    if (id.isEmpty()) {
        return;
    }
    FramePair &frames = shareFrames_[id];
    auto view = shareViews_.constFind(id);
    VideoWidgetInterface *target = view != shareViews_.constEnd() ? view.value().get() : nullptr;
    frames.deliver(planes, VideoFrameFactory::processKind(), target);
}

// ---- engine callbacks (engine threads) ----

void OriginatorRtcManager::onLocalSdp(const char *type, const char *sdp, void *userData, int tag) {
    QMetaObject::invokeMethod(static_cast<OriginatorRtcManager *>(userData), "sendSdp", Qt::QueuedConnection,
                              Q_ARG(int, tag), Q_ARG(std::string, text(type)), Q_ARG(std::string, text(sdp)));
}

void OriginatorRtcManager::onLocalIce(const char *candidate, int mlineIndex, const char *mid, void *userData,
                                      int tag) {
    QMetaObject::invokeMethod(static_cast<OriginatorRtcManager *>(userData), "sendIceCandidate",
                              Qt::QueuedConnection, Q_ARG(int, tag), Q_ARG(std::string, text(candidate)),
                              Q_ARG(int, mlineIndex), Q_ARG(std::string, text(mid)));
}

void OriginatorRtcManager::onDataChannelReady(void *userData, int tag) {
    qCDebug(lcRtc) << "OriginatorRtcManager OnLocalDataChannelReady";
    QMetaObject::invokeMethod(static_cast<OriginatorRtcManager *>(userData), "createFileTransferor",
                              Qt::QueuedConnection, Q_ARG(int, tag));
}

void OriginatorRtcManager::onPeerClosed(void *userData, int tag) {
    QMetaObject::invokeMethod(static_cast<OriginatorRtcManager *>(userData), "closePeer",
                              Qt::QueuedConnection, Q_ARG(int, tag));
}

void OriginatorRtcManager::onShareLocalSdp(const char *type, const char *sdp, void *userData, int tag) {
    QMetaObject::invokeMethod(static_cast<OriginatorRtcManager *>(userData), "sendShareSdp",
                              Qt::QueuedConnection, Q_ARG(int, tag), Q_ARG(std::string, text(type)),
                              Q_ARG(std::string, text(sdp)));
}

void OriginatorRtcManager::onShareLocalIce(const char *candidate, int mlineIndex, const char *mid,
                                           void *userData, int tag) {
    QMetaObject::invokeMethod(static_cast<OriginatorRtcManager *>(userData), "sendShareIceCandidate",
                              Qt::QueuedConnection, Q_ARG(int, tag), Q_ARG(std::string, text(candidate)),
                              Q_ARG(int, mlineIndex), Q_ARG(std::string, text(mid)));
}

void OriginatorRtcManager::onShareFrameReady(const uint8_t *y, const uint8_t *u, const uint8_t *v, int,
                                             int strideY, int strideU, int strideV, int, int width,
                                             int height, void *userData, int tag) {
    static_cast<OriginatorRtcManager *>(userData)->onShareFrame(
        tag, I420Planes::of(y, u, v, strideY, strideU, strideV, width, height));
}

void OriginatorRtcManager::onSharePeerClosed(void *userData, int tag) {
    QMetaObject::invokeMethod(static_cast<OriginatorRtcManager *>(userData), "closeSharePeer",
                              Qt::QueuedConnection, Q_ARG(int, tag));
}
