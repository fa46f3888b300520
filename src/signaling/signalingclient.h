#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>
#include <atomic>

#include "signaling/signalingtypes.h"

class QTimer;
class QWebSocket;
class SignalingBean;

// One participant's end of the signaling connection. The object, its socket and its timer live
// on a worker thread that the object owns; other threads use the post operations and signals.
class SignalingClient : public QObject {
    Q_OBJECT
public:
    SignalingClient();
    ~SignalingClient() override;

    bool postConnectServer(const QUrl &url);
    bool postCloseConnect();
    bool postSendMsg(const QString &text);

    // Posts the text only while connected; otherwise it is dropped.
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

private slots:
    void onConnected();
    void onClosed();
    void onTextMessageReceived(QString message);
    void checkOwner();

private:
    Q_INVOKABLE void connectServer(QUrl url);
    Q_INVOKABLE void sendMsg(QString msg);
    Q_INVOKABLE void closeConnect();
    Q_INVOKABLE void shutDown();

    void declareNickname();
    void requestOwner();
    void sendBean(const SignalingBean &bean);
    void handleData(const SignalingBean &bean);
    void handleCtrl(const SignalingBean &bean);

    QThread thread_;
    QWebSocket *socket_ = nullptr;
    std::atomic<bool> connected_{false};
    mutable QMutex idLock_;  // guards the ids and the nickname, read from any thread
    QString myId_;
    QString ownerId_;
    QString nickname_;
    QTimer *ownerTimer_ = nullptr;
};
