#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "signaling/server/connection.h"

class QWebSocket;
class SignalingBean;
class UserListDataBean;

namespace signaling {

// The router of the signaling server: stamps the sender of every received message and relays,
// answers or acts on it. Runs on the server's worker thread only.
class ServerSignalingProcessor : public QObject {
    Q_OBJECT
public:
    using ConnectionTable = QHash<QString, Connection>;

    explicit ServerSignalingProcessor(std::shared_ptr<ConnectionTable> connections);

    void onMsg(const Connection &from, const QString &text);
    QString sendId(QWebSocket *socket);
    void stopShareOf(const Connection &conn);
    void broadcastAllUser();

private:
    using Handler = std::function<void(const SignalingBean &)>;

    void forwardData(const SignalingBean &bean);
    // The members (with a nickname) of the share whose owner is ownerId.
    std::shared_ptr<UserListDataBean> makeUserList(const QString &ownerId) const;
    // The member of the sender's own share that the bean targets, or null (with a logged refusal)
    // when the target is unknown, the sender itself, or on another path.
    const Connection *memberOfSendersShare(const SignalingBean &bean, const Connection &sender,
                                           const char *what) const;
    void sendDirect(QWebSocket *socket, const SignalingBean &bean);
    void sendText(QWebSocket *socket, const QString &text);
    const Connection *findRecord(const std::string &id) const;
    static bool isOwner(const Connection &record) { return record.id == record.ownerId; }

    void onCtrl(const SignalingBean &bean);
    void onData(const SignalingBean &bean);
    void onRequest(const SignalingBean &bean);
    void onModify(const SignalingBean &bean);
    void onAllUser(const SignalingBean &bean);
    void onOwner(const SignalingBean &bean);
    void onShare(const SignalingBean &bean);
    void onAgreeShare(const SignalingBean &bean);
    void onRefuseShare(const SignalingBean &bean);
    void onStopShare(const SignalingBean &bean);
    void onCutOff(const SignalingBean &bean);
    void onNickname(const SignalingBean &bean);
    void onDeviceType(const SignalingBean &bean);

    std::shared_ptr<ConnectionTable> connections_;
    std::map<std::string, Handler> typeHandlers_;
    std::map<std::string, Handler> ctrlHandlers_;
    std::map<std::string, Handler> requestHandlers_;
    std::map<std::string, Handler> modifyHandlers_;
};

}  // namespace signaling
