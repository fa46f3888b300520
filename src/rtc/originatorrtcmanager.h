#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "rtc/admissionqueue.h"
#include "rtc/rtcmanager.h"
#include "video/framepair.h"

class FileTransferor;
class SignalingServer;
struct I420Planes;

// Runs a share on the host: starts the signaling server, joins it over the loopback address as
// its owner, answers every attendee's offer with a peer that sends the screen and carries a data
// channel for files, and receives the screens that mobile members project to the host.
class OriginatorRtcManager : public RtcManager {
    Q_OBJECT
public:
    // A screen peer is made only for a member that joined (has a nickname), and is closed when it
    // has not connected (opened its data channel) within this time, so strangers cannot pile up
    // engine peers.
    static constexpr int kConnectDeadlineMs = 15000;

    OriginatorRtcManager();
    ~OriginatorRtcManager() override;

    void setShareScreenWidget(const QString &id, std::weak_ptr<VideoWidgetInterface> view) override;
    void start() override;
    void stop() override;
    void cutOffShare(const QString &id) override;
    void transferFile(const QString &id, const QString &path) override;
    void agreeShare(const QString &id) override;
    void refuseShare(const QString &id) override;
    void stopShare(const QString &id) override;
    bool transferFileRunning() override;
    void stopFileTransfer() override;

    // "Ask before someone watches": a member that joins gets no picture and no file until the host
    // admits it; its offer waits unanswered. Turning it off admits everyone waiting.
    void setAskBeforeWatching(bool ask);
    bool asksBeforeWatching() const { return admission_.asking(); }
    QList<AdmissionQueue::Member> waitingMembers() const { return admission_.waiting(); }
    void admit(const QString &member);
    void admitAllWaiting();
    // Cuts the waiting member off.
    void refuse(const QString &member);

    // The share's sound sources, as the engine numbers them.
    static constexpr int kSoundNone = 0;
    static constexpr int kSoundSpeakers = 1;
    // The share's sound (kSound*, or another ZUWEBRTC_SOUND_*) for members whose offers ask for it. Every
    // such member keeps its sound stream whatever the source, muted or not, so changing either during the
    // share needs no negotiation. False when the speakers cannot be heard (no sound server): the
    // share then goes on with the picture only.
    bool setShareSound(int source, bool muted);

    // For tests and tools: the members with a peer, with a transferor, and projecting now.
    QList<QString> attendeeIds() const { return peers_.keys(); }
    QList<QString> transferorIds() const { return transferors_.keys(); }
    QList<QString> projectionIds() const;
    int peerOf(const QString &id) const { return peers_.value(id, 0); }
    quint16 listeningPort() const;

signals:
    // Someone started waiting, was answered or left while waiting: waitingMembers() tells who waits.
    void sigAdmissionQueueChanged();

protected slots:
    void onSignalingServerStarted();
    void onSignalingServerStartFailed();
    void onSignalingServerClosed();
    void onSdpReceived(sdpType type, QString sdp, QString senderID) override;
    void onIceCandidateReceived(QString candidate, int sdp_mline_index, QString sdp_mid,
                                QString sender) override;
    void onFileTransferBegin();
    void onFileTransferProgressChanged(int value);
    void onFileTransferFail(QString path, QString error);
    void onRequestShareScreen(QString id) override;
    void onCloseShareScreen(QString id) override;
    void onShareSdpReceived(sdpType type, QString sdp, QString sender) override;
    void onShareIceCandidateReceived(QString candidate, int sdp_mline_index, QString sdp_mid,
                                     QString sender) override;

private:
    Q_INVOKABLE void sendSdp(int pc, std::string sdptype, std::string sdp);
    Q_INVOKABLE void sendIceCandidate(int pc, std::string candidate, int sdp_mline_index,
                                      std::string sdp_mid);
    Q_INVOKABLE void sendShareSdp(int pc, std::string sdptype, std::string sdp);
    Q_INVOKABLE void sendShareIceCandidate(int pc, std::string candidate, int sdp_mline_index,
                                           std::string sdp_mid);
    Q_INVOKABLE void closePeer(int pc);
    Q_INVOKABLE void closeSharePeer(int pc);
    Q_INVOKABLE void closeFileTransferor(QString id);
    Q_INVOKABLE void createFileTransferor(int pc);

    int findOrCreatePeer(const QString &id);
    int findOrCreateSharePeer(const QString &id);
    QString shareIdOfLocked(int pc) const;
    // Closes the member's projection peer and forgets its frames; returns whether there was one.
    bool releaseSharePeer(const QString &id);
    QString idOfTransferor(const QObject *sender) const;
    void onShareFrame(int pc, const I420Planes &planes);

    static void onLocalSdp(const char *type, const char *sdp, void *userData, int tag);
    static void onLocalIce(const char *candidate, int mlineIndex, const char *mid, void *userData, int tag);
    static void onDataChannelReady(void *userData, int tag);
    static void onPeerClosed(void *userData, int tag);
    static void onShareLocalSdp(const char *type, const char *sdp, void *userData, int tag);
    static void onShareLocalIce(const char *candidate, int mlineIndex, const char *mid, void *userData,
                                int tag);
    static void onShareFrameReady(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int strideY,
                                  int strideU, int strideV, int, int width, int height, void *userData,
                                  int tag);
    static void onSharePeerClosed(void *userData, int tag);

    bool mayMakePeerFor(const QString &id, const char *what) const;
    // Whether the member's offer may be answered now; otherwise it is held for the host's answer.
    bool admitted(const QString &id, const QString &offer);
    void answerOffer(const QString &id, const QString &offer);

    std::shared_ptr<SignalingServer> server_;
    QHash<QString, SignalingUser> joined_;
    AdmissionQueue admission_;
    // Members whose projection the host agreed to; only they get a receiving peer.
    QSet<QString> agreedShares_;
    QHash<QString, int> peers_;
    // The three projection tables are read by the engine's frame callback, so every access to
    // them, reads in this thread included, holds the share lock.
    QHash<QString, int> sharePeers_;
    QHash<QString, FramePair> shareFrames_;
    QHash<QString, std::shared_ptr<FileTransferor>> transferors_;
    QHash<QString, std::shared_ptr<VideoWidgetInterface>> shareViews_;
    mutable std::mutex shareLock_;
};
