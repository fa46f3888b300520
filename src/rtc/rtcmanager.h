#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "signaling/signalingtypes.h"

class FileTransferor;
class InternalDataBean;
class SignalingClient;
class VideoWidgetInterface;
struct I420Planes;

// The common base of the host's and the attendee's session managers: owns the signaling client,
// knows the server's address, turns the client's signals into virtual slot calls and reports the
// session's state and file transfers through its signals. Lives in the thread that made it; its
// transferors run in its file thread ("zu-transfer").
class RtcManager : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kDefaultPort = 5678;

    // 1 gives the host's manager, any other value the attendee's.
    static std::unique_ptr<RtcManager> create(int type);
    // Starts the media engine ahead of the first share, so that its start-up costs no share time.
    static void prepareMediaEngine();

    RtcManager();
    ~RtcManager() override;

    void setServerIp(const QString &ip);
    void setServerPort(quint16 port);
    QString serverIp() const { return serverIp_; }
    quint16 serverPort() const { return serverPort_; }

    // Keeps the view strongly; an expired reference leaves no view.
    void setVideoWidget(std::weak_ptr<VideoWidgetInterface> view);
    std::shared_ptr<SignalingClient> signalingClient() const { return signalingClient_; }

    // Connects the own client to ws://<server ip>:<port>/zu_remote_ctrl.
    void connectToServer();

    virtual void setShareScreenWidget(const QString &id, std::weak_ptr<VideoWidgetInterface> view);
    virtual void start() = 0;
    virtual void stop();
    virtual void cutOffShare(const QString &id);
    virtual void transferFile(const QString &id, const QString &path);
    virtual void agreeShare(const QString &id);
    virtual void refuseShare(const QString &id);
    virtual void stopShare(const QString &id);
    virtual bool transferFileRunning() = 0;
    virtual void stopFileTransfer() = 0;

signals:
    void sigRtcStarted();
    void sigRtcStoped();
    void sigRtcStartFailed();
    void sigFileTransferBegin(QString id);
    void sigFileTransferProgressChanged(QString id, int value);
    void sigFileTransferFail(QString id, QString error);
    void sigRequestShareScreen(QString id);
    void sigShareScreenClosed(QString id);

protected slots:
    virtual void onClientConnected();
    virtual void onClientDisConnected();
    void onClientConnectFail();
    virtual void onSdpReceived(sdpType type, QString sdp, QString senderID) = 0;
    virtual void onIceCandidateReceived(QString candidate, int sdp_mline_index, QString sdp_mid,
                                        QString sender) = 0;
    virtual void onRequestShareScreen(QString id);
    virtual void onCloseShareScreen(QString id);
    virtual void onShareSdpReceived(sdpType type, QString sdp, QString sender);
    virtual void onShareIceCandidateReceived(QString candidate, int sdp_mline_index, QString sdp_mid,
                                             QString sender);

protected:
    // The view as the frame callbacks see it; read from engine threads, so always under the lock.
    std::shared_ptr<VideoWidgetInterface> videoWidget() const;
    // The same, for a caller that holds frameLock_ already.
    const std::shared_ptr<VideoWidgetInterface> &videoWidgetLocked() const { return view_; }
    // Registers "std::string" for the queued engine callbacks, once per process.
    static void registerQueuedTypes();

    // A "data" message to target carrying an SDP ("sdp", "share_screen_sdp") or a candidate
    // ("ice_candidate", "share_screen_ice_candidate"); nothing is sent without a target.
    void sendSdpMessage(const char *dataType, const QString &target, const std::string &sdptype,
                        const std::string &sdp);
    void sendIceMessage(const char *dataType, const QString &target, const std::string &candidate,
                        int sdp_mline_index, const std::string &sdp_mid);

    // A "data" message to target with the payload (none when null).
    void sendDataMessage(const char *dataType, const QString &target,
                         const std::shared_ptr<InternalDataBean> &payload);
    // A "ctrl" request ("agree_share", "refuse_share", "stop_share") to target.
    void sendRequestMessage(const char *request, const QString &target);

    // A transferor for the data channel of pc, moved to the file thread. The managers drop their
    // transferors in their destructors, before this one joins the thread.
    std::shared_ptr<FileTransferor> createTransferor(int pc);

    // Guards the view and, in the attendee, its two frames.
    mutable std::mutex frameLock_;

private:
    std::shared_ptr<SignalingClient> signalingClient_;
    QString serverIp_;
    quint16 serverPort_ = 0;
    std::shared_ptr<VideoWidgetInterface> view_;
    QThread fileThread_;
};
