#include "rtc/attendeertcmanager.h"

#include <algorithm>

#include "core/i420planes.h"
#include "core/refusallog.h"
#include "rtc/rtclog.h"
#include "rtc/zuwebrtc.h"
#include "signaling/signalingclient.h"
#include "transfer/filetransferor.h"
#include "video/videoframefactory.h"
#include "video/videowidgetinterface.h"

namespace {
// A view busy painting refuses the clearing frame; it is asked again this often, this many times.
constexpr int kClearRetryMs = 20;
constexpr int kClearAttempts = 25;
}  // namespace

AttendeeRtcManager::AttendeeRtcManager() {
    ownerTimer_.setSingleShot(true);
    ownerTimer_.setInterval(kOwnerPollMs);
    connect(&ownerTimer_, &QTimer::timeout, this, [this] { callStart(); });
    // The poll stays for a server that answers late; the answer itself starts the call at once.
    connect(signalingClient().get(), &SignalingClient::sigOwnerKnown, this, [this] {
        joinStep("owner");
        if (ownerTimer_.isActive()) {
            ownerTimer_.stop();
            callStart();
        }
    });
    stopTimer_.setSingleShot(true);
    stopTimer_.setInterval(kStopDelayMs);
    connect(&stopTimer_, &QTimer::timeout, this, [this] { RtcManager::onClientDisConnected(); });
    clearTimer_.setSingleShot(true);
    clearTimer_.setInterval(kClearRetryMs);
    connect(&clearTimer_, &QTimer::timeout, this, [this] { clearView(); });
}

AttendeeRtcManager::~AttendeeRtcManager() {
    ownerTimer_.stop();
    stopTimer_.stop();
    clearTimer_.stop();
    // After ClosePeerConnection returns no callback of the peer runs, so none can reach us later.
    if (pc_ != 0) {
        ClosePeerConnection(pc_);
        pc_ = 0;
    }
    dropTransferor();
    std::lock_guard<std::mutex> lock(frameLock_);
    frames_.clear();
}

void AttendeeRtcManager::start() {
    joinClock_.start();
    joinSteps_.clear();
    connectToServer();
}

void AttendeeRtcManager::joinStep(const char *step) {
    if (joinClock_.isValid()) {
        joinSteps_.append(QStringLiteral("%1 %2").arg(QLatin1String(step)).arg(joinClock_.elapsed()));
    }
}

QString AttendeeRtcManager::joinSteps() const {
    return joinSteps_.join(QStringLiteral(", "));
}

void AttendeeRtcManager::stop() {
    RtcManager::stop();
    closePeer(pc_);
}

bool AttendeeRtcManager::transferFileRunning() {
    return transferor_ && transferor_->isRunning();
}

void AttendeeRtcManager::stopFileTransfer() {
    if (transferor_) {
        transferor_->postStopTask();
    }
}

void AttendeeRtcManager::onClientConnected() {
    joinStep("connected");
    emit sigRtcStarted();
    callStart();
}

void AttendeeRtcManager::callStart() {
    if (pc_ != 0) {
        return;  // one peer per session, also when a poll was already queued
    }
    if (signalingClient()->ownerId().isEmpty()) {
        ownerTimer_.start();
        return;
    }
    const int pc = CreatePeerConnection(0, 0, 0, 0, 1);
    if (pc <= 0) {
        qCWarning(lcRtc) << "AttendeeRtcManager: the media engine made no peer:" << pc;
        return;
    }
    pc_ = pc;
    joinStep("peer");
    RegisterOnLocalSdpReadytoSend(pc, &AttendeeRtcManager::onLocalSdp, this, pc);
    RegisterOnIceCandiateReadytoSend(pc, &AttendeeRtcManager::onLocalIce, this, pc);
    RegisterOnRemoteI420FrameReady(pc, &AttendeeRtcManager::onRemoteFrame, this, pc);
    RegisterOnLocalDataChannelReady(pc, &AttendeeRtcManager::onDataChannelReady, this, pc);
    RegisterOnPeerClosed(pc, &AttendeeRtcManager::onPeerClosed, this, pc);
    if (soundSink_)
        RegisterOnRemoteSoundReady(pc, &AttendeeRtcManager::onRemoteSound, this, pc);
    if (soundSink_ || playsSound_) {
        SetRemoteSoundVolume(pc, soundVolume_, soundMuted_ ? 1 : 0);
        AddStream(pc, 0, 1);
    }
    AddDataChannel(pc);
    CreateOffer(pc);
}

void AttendeeRtcManager::setSoundVolume(double volume, bool muted) {
    soundVolume_ = std::clamp(volume, 0.0, 1.0);
    soundMuted_ = muted;
    if (pc_ != 0)
        SetRemoteSoundVolume(pc_, soundVolume_, soundMuted_ ? 1 : 0);
}

void AttendeeRtcManager::onClientDisConnected() {
    // Polling for an owner is pointless without a connection.
    ownerTimer_.stop();
    // Closed before the frames are released, so that no late picture shows up again afterwards.
    if (pc_ != 0) {
        ClosePeerConnection(pc_);
        pc_ = 0;
    }
    {
        std::lock_guard<std::mutex> lock(frameLock_);
        frames_.clear();
    }
    clearAttempts_ = 0;
    clearView();
    dropTransferor();
    stopTimer_.start();
}

void AttendeeRtcManager::clearView() {
    std::shared_ptr<VideoWidgetInterface> view = videoWidget();
    if (!view) {
        return;
    }
    if (!view->renderFrame(std::weak_ptr<VideoFrameInterface>()) && ++clearAttempts_ < kClearAttempts) {
        clearTimer_.start();
    }
}

bool AttendeeRtcManager::fromOwner(const QString &sender, const char *what) const {
    const QString owner = signalingClient()->ownerId();
    if (!owner.isEmpty() && sender == owner) {
        return true;
    }
    // Another member would become this attendee's host: show it any picture, push it files.
    logRefusal("attendee: not from the owner", std::string("refused ") + what + " from " +
                                                   sender.toStdString() +
                                                   ", which is not the owner of the share");
    return false;
}

void AttendeeRtcManager::onSdpReceived(sdpType type, QString sdp, QString sender) {
    if (fromOwner(sender, "a description")) {
        joinStep("answer");
        SetRemoteDescription(pc_, type == OFFER ? "offer" : "answer", sdp.toUtf8().constData());
    }
}

void AttendeeRtcManager::onIceCandidateReceived(QString candidate, int sdp_mline_index, QString sdp_mid,
                                                QString sender) {
    if (fromOwner(sender, "a candidate")) {
        AddIceCandidate(pc_, candidate.toUtf8().constData(), sdp_mline_index, sdp_mid.toUtf8().constData());
    }
}

void AttendeeRtcManager::sendSdp(std::string sdptype, std::string sdp) {
    joinStep("offer");
    sendSdpMessage("sdp", signalingClient()->ownerId(), sdptype, sdp);
}

void AttendeeRtcManager::sendIceCandidate(std::string candidate, int sdp_mline_index, std::string sdp_mid) {
    sendIceMessage("ice_candidate", signalingClient()->ownerId(), candidate, sdp_mline_index, sdp_mid);
}

void AttendeeRtcManager::createFileTransferor(int pc) {
    if (transferor_ || pc != pc_) {
        return;
    }
    joinStep("channel");
    transferor_ = createTransferor(pc);
    FileTransferor *t = transferor_.get();
    connect(t, &FileTransferor::sigTransferBegin, this, &AttendeeRtcManager::onReceiveFileBegin);
    connect(t, &FileTransferor::sigProgressChanged, this, &AttendeeRtcManager::onFileTransferProgressChanged);
    connect(t, &FileTransferor::sigTransferFail, this, &AttendeeRtcManager::onReceiveFail);
    connect(t, &FileTransferor::sigFileSaved, this, &AttendeeRtcManager::sigFileSaved);
    connect(t, &FileTransferor::sigDownloadFolderReady, this, &AttendeeRtcManager::sigDownloadFolderReady);
}

void AttendeeRtcManager::onReceiveFileBegin() {
    emit sigFileTransferBegin(QString());
}

void AttendeeRtcManager::onFileTransferProgressChanged(int value) {
    emit sigFileTransferProgressChanged(QString(), value);
}

void AttendeeRtcManager::onReceiveFail(QString path, QString error) {
    emit sigFileTransferFail(path, error);
}

void AttendeeRtcManager::dropTransferor() {
    if (!transferor_) {
        return;
    }
    const bool running = transferor_->isRunning();
    // Only the folder stays connected: files saved just before it goes are still shown.
    FileTransferor *t = transferor_.get();
    disconnect(t, &FileTransferor::sigTransferBegin, this, nullptr);
    disconnect(t, &FileTransferor::sigProgressChanged, this, nullptr);
    disconnect(t, &FileTransferor::sigTransferFail, this, nullptr);
    disconnect(t, &FileTransferor::sigFileSaved, this, nullptr);
    transferor_.reset();
    if (running) {
        emit sigFileTransferFail(QString(), tr("传输中断"));
    }
}

void AttendeeRtcManager::closePeer(int pc) {
    qCDebug(lcRtc) << "closePeer";
    dropTransferor();
    if (pc != 0) {
        ClosePeerConnection(pc);
    }
    signalingClient()->postCloseConnect();
    if (pc == pc_) {
        pc_ = 0;
    }
}

void AttendeeRtcManager::onFrame(const I420Planes &planes) {
    std::lock_guard<std::mutex> lock(frameLock_);
    frames_.deliver(planes, VideoFrameFactory::processKind(), videoWidgetLocked().get());
}

// ---- engine callbacks (engine threads) ----

void AttendeeRtcManager::onLocalSdp(const char *type, const char *sdp, void *userData, int) {
    auto *self = static_cast<AttendeeRtcManager *>(userData);
    QMetaObject::invokeMethod(self, "sendSdp", Qt::QueuedConnection,
                              Q_ARG(std::string, std::string(type ? type : "")),
                              Q_ARG(std::string, std::string(sdp ? sdp : "")));
}

void AttendeeRtcManager::onLocalIce(const char *candidate, int mlineIndex, const char *mid, void *userData,
                                    int) {
    auto *self = static_cast<AttendeeRtcManager *>(userData);
    QMetaObject::invokeMethod(self, "sendIceCandidate", Qt::QueuedConnection,
                              Q_ARG(std::string, std::string(candidate ? candidate : "")),
                              Q_ARG(int, mlineIndex), Q_ARG(std::string, std::string(mid ? mid : "")));
}

void AttendeeRtcManager::onRemoteFrame(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int strideY,
                                       int strideU, int strideV, int, int width, int height, void *userData,
                                       int) {
    static_cast<AttendeeRtcManager *>(userData)->onFrame(
        I420Planes::of(y, u, v, strideY, strideU, strideV, width, height));
}

void AttendeeRtcManager::onRemoteSound(const int16_t *samples, int frames, int channels, int rate,
                                       void *userData, int) {
    static_cast<AttendeeRtcManager *>(userData)->soundSink_(samples, frames, channels, rate);
}

void AttendeeRtcManager::onDataChannelReady(void *userData, int tag) {
    QMetaObject::invokeMethod(static_cast<AttendeeRtcManager *>(userData), "createFileTransferor",
                              Qt::QueuedConnection, Q_ARG(int, tag));
}

void AttendeeRtcManager::onPeerClosed(void *userData, int tag) {
    QMetaObject::invokeMethod(static_cast<AttendeeRtcManager *>(userData), "closePeer", Qt::QueuedConnection,
                              Q_ARG(int, tag));
}
