#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include "signaling/signalingtypes.h"

class QWebSocket;
class SignalingBean;

// The signaling client's socket and owner timer, on the client's own thread; SignalingClient
// forwards every call to it. Only the ids may be read from another thread.
class SignalingClientWorker : public QObject {
    Q_OBJECT
public:
    SignalingClientWorker();
    ~SignalingClientWorker() override;

    void connectServer(const QUrl &url);
    void closeConnect();
    // Sends whenever there is a socket; sendText only while connected, otherwise it drops the text.
    void sendMsg(const QString &text);
    void sendText(const QString &text);
    void setNickName(const QString &nickname);
    void requestAllUser();
    void cutOff(const QString &id);
    // Closes a connection within a bounded wait and frees the socket.
    void shutDown();
    // A text as the server sent it.
    void onTextMessageReceived(const QString &message);

    QString ownerId() const;
    QString myId() const;

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
    void sigAdmissionWaiting();
    void sigAdmitted();

private:
    void onConnected();
    void onClosed();
    void checkOwner();
    void declareNickname();
    void requestOwner();
    void sendBean(const SignalingBean &bean);
    void handleData(const SignalingBean &bean);
    void handleCtrl(const SignalingBean &bean);

    QWebSocket *socket_ = nullptr;
    bool connected_ = false;
    QString nickname_;
    QTimer ownerTimer_;
    mutable QMutex idLock_;  // guards the ids, read from any thread
    QString myId_;
    QString ownerId_;
};
