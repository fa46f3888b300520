#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "rtc/rtcmanager.h"
#include "video/framepair.h"

class FileTransferor;
struct I420Planes;

// The watcher's side of a share: joins the host's signaling server, offers one peer to the owner
// as soon as its id is known, shows the received screen and receives files on the data channel.
class AttendeeRtcManager : public RtcManager {
    Q_OBJECT
public:
    static constexpr int kOwnerPollMs = 200;
    static constexpr int kStopDelayMs = 500;

    AttendeeRtcManager();
    ~AttendeeRtcManager() override;

    void start() override;
    void stop() override;
    bool transferFileRunning() override;
    void stopFileTransfer() override;

    // For tests and tools: the peer handle (0 without one) and the transferor, if any.
    int peerConnection() const { return pc_; }
    std::shared_ptr<FileTransferor> fileTransferor() const { return transferor_; }
    // Decoded sound: interleaved 16-bit samples, frames, channels, rate; called on an engine thread.
    using SoundSink = std::function<void(const int16_t *samples, int frames, int channels, int rate)>;
    // Set before start(): the offer then asks for the host's sound, which goes to the sink.
    void setSoundSink(SoundSink sink) { soundSink_ = std::move(sink); }
    // Set before start(): the offer asks for the host's sound, which plays on the default output.
    void setPlaysSound(bool plays) { playsSound_ = plays; }
    // The played sound's level, 0 to 1, and whether it is muted; kept for later peers.
    void setSoundVolume(double volume, bool muted);
    // The steps of joining so far, in ms after start(): where a slow join spends its time.
    QString joinSteps() const;

signals:
    // A received file is complete under filePath. Connected before the transferor exists, so that
    // no file saved right after the data channel opened goes unreported.
    void sigFileSaved(QString filePath);
    // The received files are in folder, for a page that shows it (FileTransferor tells when).
    void sigDownloadFolderReady(QString folder);

protected slots:
    void onClientConnected() override;
    void onClientDisConnected() override;
    void onSdpReceived(sdpType type, QString sdp, QString senderID) override;
    void onIceCandidateReceived(QString candidate, int sdp_mline_index, QString sdp_mid,
                                QString senderID) override;
    void onReceiveFileBegin();
    void onFileTransferProgressChanged(int value);
    void onReceiveFail(QString path, QString error);

private:
    // Whether a signalling message comes from the owner of the share; logs a refusal when not.
    bool fromOwner(const QString &sender, const char *what) const;
    Q_INVOKABLE void closePeer(int pc);
    Q_INVOKABLE void sendSdp(std::string sdptype, std::string sdp);
    Q_INVOKABLE void sendIceCandidate(std::string candidate, int sdp_mline_index, std::string sdp_mid);
    Q_INVOKABLE void createFileTransferor(int pc);

    void callStart();
    void dropTransferor();
    void clearView();
    void onFrame(const I420Planes &planes);

    static void onLocalSdp(const char *type, const char *sdp, void *userData, int tag);
    static void onLocalIce(const char *candidate, int mlineIndex, const char *mid, void *userData, int tag);
    static void onRemoteFrame(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int strideY,
                              int strideU, int strideV, int, int width, int height, void *userData, int tag);
    static void onRemoteSound(const int16_t *samples, int frames, int channels, int rate, void *userData,
                              int);
    static void onDataChannelReady(void *userData, int tag);
    static void onPeerClosed(void *userData, int tag);

    int pc_ = 0;
    SoundSink soundSink_;
    bool playsSound_ = false;
    double soundVolume_ = 1.0;
    bool soundMuted_ = false;
    std::shared_ptr<FileTransferor> transferor_;
    FramePair frames_;  // under frameLock_
    QTimer ownerTimer_;
    QTimer stopTimer_;
    QTimer clearTimer_;
    int clearAttempts_ = 0;
    QElapsedTimer joinClock_;
    QStringList joinSteps_;
    void joinStep(const char *step);
};
