#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>

#include "signaling/signalingtypes.h"

class SignalingClientWorker;

// One participant's end of the signaling connection. Its socket and timer live on a worker thread
// that the object owns; every operation may be called from any thread, and the signals come in
// the thread that made the object.
class SignalingClient : public QObject {
    Q_OBJECT
public:
    SignalingClient();
    ~SignalingClient() override;

    bool postConnectServer(const QUrl &url);
    bool postCloseConnect();
    bool postSendMsg(const QString &text);

    // Sends the text only while connected; otherwise it is dropped.
    void sendText(const QString &text);
    QString ownerId() const;
    QString myId() const;
    void setNickName(const QString &nickname);
    void requestAllUser();
    void cutOff(const QString &id);

signals:
    void sigConnected();
    void sigOwnerKnown();
    void sigConnectFail();
    void sigDisConnected();
    void sigSdpArrived(sdpType type, QString sdp, QString sender);
    void sigIceCandidateArrived(QString candidate, int sdp_mline_index, QString sdp_mid, QString sender);
    void sigAlluserRefreshed(QList<SignalingUser> lst);
    void sigRequestShareScreen(QString id);
    void sigCloseShareScreen(QString id);
    void sigShareSdpArrived(sdpType type, QString sdp, QString sender);
    void sigShareIceCandidateArrived(QString candidate, int sdp_mline_index, QString sdp_mid, QString sender);
    // The host asks before someone watches: this member waits for its answer, or was let in.
    void sigAdmissionWaiting();
    void sigAdmitted();

private:
    QThread thread_;
    SignalingClientWorker *worker_;
};
