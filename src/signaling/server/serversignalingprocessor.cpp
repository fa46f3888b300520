#include "serversignalingprocessor.h"

#include <QUuid>
#include <QWebSocket>

#include "core/logger.h"
#include "core/refusallog.h"
#include "signaling/databean.h"
#include "signaling/modifydatabean.h"
#include "signaling/signalingbean.h"
#include "signaling/signalinglimits.h"
#include "signaling/signalinglog.h"
#include "signaling/userbean.h"
#include "signaling/userlistdatabean.h"

namespace signaling {

using std::placeholders::_1;

ServerSignalingProcessor::ServerSignalingProcessor(std::shared_ptr<ConnectionTable> connections)
    : connections_(std::move(connections)) {
    typeHandlers_["ctrl"] = std::bind(&ServerSignalingProcessor::onCtrl, this, _1);
    typeHandlers_["data"] = std::bind(&ServerSignalingProcessor::onData, this, _1);
    ctrlHandlers_["request"] = std::bind(&ServerSignalingProcessor::onRequest, this, _1);
    ctrlHandlers_["modify"] = std::bind(&ServerSignalingProcessor::onModify, this, _1);
    requestHandlers_["allUser"] = std::bind(&ServerSignalingProcessor::onAllUser, this, _1);
    requestHandlers_["owner"] = std::bind(&ServerSignalingProcessor::onOwner, this, _1);
    requestHandlers_["share"] = std::bind(&ServerSignalingProcessor::onShare, this, _1);
    requestHandlers_["agree_share"] = std::bind(&ServerSignalingProcessor::onAgreeShare, this, _1);
    requestHandlers_["refuse_share"] = std::bind(&ServerSignalingProcessor::onRefuseShare, this, _1);
    requestHandlers_["stop_share"] = std::bind(&ServerSignalingProcessor::onStopShare, this, _1);
    requestHandlers_["cut_off"] = std::bind(&ServerSignalingProcessor::onCutOff, this, _1);
    modifyHandlers_["nickname"] = std::bind(&ServerSignalingProcessor::onNickname, this, _1);
    modifyHandlers_["devicetype"] = std::bind(&ServerSignalingProcessor::onDeviceType, this, _1);
}

void ServerSignalingProcessor::onMsg(const Connection &from, const QString &text) {
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > kMaxTextMessageBytes) {
        g_logger->warn("id:{} refused: message of {} bytes, more than {}", from.id.toStdString(), utf8.size(),
                       kMaxTextMessageBytes);
        return;
    }
    qCDebug(lcSignaling).noquote() << "signaling server received from" << from.id << ":" << text;
    auto bean = SignalingBean::fromText(std::string(utf8.constData(), size_t(utf8.size())));
    if (!bean) {
        return;
    }
    bean->setSender(from.id.toStdString());
    auto handler = typeHandlers_.find(bean->getType());
    if (handler != typeHandlers_.end()) {
        handler->second(*bean);
    }
}

QString ServerSignalingProcessor::sendId(QWebSocket *socket) {
    if (!socket) {
        return QString();
    }
    const QString id = QUuid::createUuid().toString();
    SignalingBean bean;
    bean.setType("data");
    bean.setTarget(id.toStdString());
    auto body = bean.createData();
    body->setDataType("id");
    body->setId(id.toStdString());
    sendDirect(socket, bean);
    return id;
}

void ServerSignalingProcessor::stopShareOf(const Connection &conn) {
    SignalingBean bean = SignalingBean::request("stop_share");
    bean.setSender(conn.id.toStdString());
    auto record = connections_->constFind(conn.id);
    bean.setTarget((record != connections_->constEnd() ? record->ownerId : conn.ownerId).toStdString());
    forwardData(bean);
}

void ServerSignalingProcessor::broadcastAllUser() {
    // Each path is a share of its own: its members see its list only.
    QHash<QString, std::shared_ptr<UserListDataBean>> lists;
    // Iterate a copy: a failing send may disconnect its socket, which edits the table.
    const QList<Connection> receivers = connections_->values();
    for (const Connection &record : receivers) {
        if (!record.socket) {
            continue;
        }
        auto list = lists.value(record.ownerId);
        if (!list) {
            list = makeUserList(record.ownerId);
            lists.insert(record.ownerId, list);
        }
        SignalingBean bean;
        bean.setType("data");
        bean.setTarget(record.id.toStdString());
        auto body = bean.createData();
        body->setDataType("allUser");
        body->setData(list);
        sendDirect(record.socket, bean);
    }
}

void ServerSignalingProcessor::forwardData(const SignalingBean &bean) {
    const Connection *record = findRecord(bean.getTarget());
    if (!record || !record->socket) {
        return;
    }
    const QString text = QString::fromStdString(bean.toText());
    qCDebug(lcSignaling).noquote() << "signaling server relays:" << text;
    sendText(record->socket, text);
}

std::shared_ptr<UserListDataBean> ServerSignalingProcessor::makeUserList(const QString &ownerId) const {
    auto list = std::make_shared<UserListDataBean>();
    for (auto it = connections_->constBegin(); it != connections_->constEnd(); ++it) {
        if (it->ownerId == ownerId && it->id != it->ownerId && !it->nickname.isEmpty()) {
            auto user = std::make_shared<UserBean>();
            user->setId(it->id.toStdString());
            user->setNickname(it->nickname.toStdString());
            user->setDevicetype(it->devicetype);
            list->addUser(user);
        }
    }
    return list;
}

void ServerSignalingProcessor::sendDirect(QWebSocket *socket, const SignalingBean &bean) {
    if (socket) {
        sendText(socket, QString::fromStdString(bean.toText()));
    }
}

void ServerSignalingProcessor::sendText(QWebSocket *socket, const QString &text) {
    if (socket->bytesToWrite() > kMaxPendingOutputBytes) {
        qCDebug(lcSignaling) << "signaling server dropped a message for a receiver with"
                             << socket->bytesToWrite() << "bytes unsent";
        return;
    }
    socket->sendTextMessage(text);
}

const Connection *ServerSignalingProcessor::findRecord(const std::string &id) const {
    auto it = connections_->constFind(QString::fromStdString(id));
    return it == connections_->constEnd() ? nullptr : &*it;
}

const Connection *ServerSignalingProcessor::memberOfSendersShare(const SignalingBean &bean,
                                                                 const Connection &sender,
                                                                 const char *what) const {
    const Connection *target = findRecord(bean.getTarget());
    if (target && target->id != sender.id && target->ownerId == sender.ownerId) {
        return target;
    }
    logRefusal(std::string("server: ") + what,
               "id:" + sender.id.toStdString() + " refused: " + what + " for a connection outside its share");
    return nullptr;
}

void ServerSignalingProcessor::onCtrl(const SignalingBean &bean) {
    if (!bean.getData()) {
        return;
    }
    auto handler = ctrlHandlers_.find(bean.getData()->getDataType());
    if (handler != ctrlHandlers_.end()) {
        handler->second(bean);
    }
}

void ServerSignalingProcessor::onData(const SignalingBean &bean) {
    if (!bean.getData()) {
        return;
    }
    const std::string &dataType = bean.getData()->getDataType();
    const Connection *sender = findRecord(bean.getSender());
    if (!sender) {
        return;
    }
    if (dataType == "id" || dataType == "owner" || dataType == "allUser" || dataType == "share_id") {
        // Only the server speaks these; a member sending one would speak for it.
        logRefusal("server: server-only type", "id:" + sender->id.toStdString() + " refused: it sent \"" +
                                                   dataType + "\", which only the server sends");
        return;
    }
    if (dataType != "share_screen_sdp" && dataType != "share_screen_ice_candidate") {
        if (memberOfSendersShare(bean, *sender, "a relay")) {
            forwardData(bean);
        }
        return;
    }
    SignalingBean copy = bean;
    if (!isOwner(*sender)) {
        copy.setSender(sender->id.toStdString());
        copy.setTarget(sender->ownerId.toStdString());
        forwardData(copy);
        return;
    }
    const Connection *target = findRecord(bean.getTarget());
    if (!target) {
        return;
    }
    copy.setSender(sender->id.toStdString());
    copy.setTarget(target->shareId.toStdString());
    sendDirect(target->socket, copy);
}

void ServerSignalingProcessor::onRequest(const SignalingBean &bean) {
    if (!bean.getData()) {
        return;
    }
    auto handler = requestHandlers_.find(bean.getData()->getRequestData());
    if (handler != requestHandlers_.end()) {
        handler->second(bean);
    }
}

void ServerSignalingProcessor::onModify(const SignalingBean &bean) {
    if (!bean.getData()) {
        return;
    }
    auto modify = bean.getData()->getModifyData();
    if (!modify) {
        return;
    }
    auto handler = modifyHandlers_.find(modify->getModifyType());
    if (handler != modifyHandlers_.end()) {
        handler->second(bean);
    }
}

void ServerSignalingProcessor::onAllUser(const SignalingBean &bean) {
    SignalingBean reply;
    reply.setType("data");
    reply.setTarget(bean.getSender());
    auto body = reply.createData();
    const Connection *sender = findRecord(bean.getSender());
    if (!sender) {
        return;
    }
    body->setDataType("allUser");
    body->setData(makeUserList(sender->ownerId));
    forwardData(reply);
}

void ServerSignalingProcessor::onOwner(const SignalingBean &bean) {
    const Connection *sender = findRecord(bean.getSender());
    if (!sender) {
        return;
    }
    SignalingBean reply;
    reply.setType("data");
    reply.setTarget(bean.getSender());
    auto body = reply.createData();
    body->setDataType("owner");
    body->setId(sender->ownerId.toStdString());
    forwardData(reply);
}

void ServerSignalingProcessor::onShare(const SignalingBean &bean) {
    const Connection *sender = findRecord(bean.getSender());
    if (!sender) {
        return;
    }
    SignalingBean copy = bean;
    copy.setTarget(sender->ownerId.toStdString());
    forwardData(copy);
}

void ServerSignalingProcessor::onAgreeShare(const SignalingBean &bean) {
    const Connection *sender = findRecord(bean.getSender());
    if (!sender || !isOwner(*sender) || !memberOfSendersShare(bean, *sender, "agree_share")) {
        return;
    }
    auto target = connections_->find(QString::fromStdString(bean.getTarget()));
    if (target == connections_->end()) {
        return;
    }
    target->shareId = QUuid::createUuid().toString();
    SignalingBean reply;
    reply.setType("data");
    reply.setSender(target->ownerId.toStdString());
    reply.setTarget(target->shareId.toStdString());
    auto body = reply.createData();
    body->setDataType("share_id");
    body->setId(target->shareId.toStdString());
    sendDirect(target->socket, reply);
}

void ServerSignalingProcessor::onRefuseShare(const SignalingBean &bean) {
    const Connection *sender = findRecord(bean.getSender());
    if (!sender || !isOwner(*sender)) {
        return;
    }
    const Connection *target = memberOfSendersShare(bean, *sender, "refuse_share");
    if (!target) {
        return;
    }
    SignalingBean copy = bean;
    copy.setTarget(target->shareId.toStdString());
    sendDirect(target->socket, copy);
}

void ServerSignalingProcessor::onStopShare(const SignalingBean &bean) {
    const Connection *sender = findRecord(bean.getSender());
    if (!sender) {
        return;
    }
    SignalingBean copy = bean;
    if (!isOwner(*sender)) {
        copy.setTarget(sender->ownerId.toStdString());
    } else if (!memberOfSendersShare(bean, *sender, "stop_share")) {
        return;
    }
    forwardData(copy);
}

void ServerSignalingProcessor::onCutOff(const SignalingBean &bean) {
    const Connection *sender = findRecord(bean.getSender());
    if (!sender || !isOwner(*sender)) {
        return;
    }
    // Only a member of the owner's own path: an owner of another path must not reach this share.
    const Connection *victim = findRecord(bean.getData()->getId());
    if (victim && (victim->ownerId != sender->id || victim->id == sender->id)) {
        logRefusal("server: cut_off",
                   "id:" + sender->id.toStdString() + " refused: cut_off for a connection outside its share");
        return;
    }
    if (victim && victim->socket) {
        victim->socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
    }
}

void ServerSignalingProcessor::onNickname(const SignalingBean &bean) {
    auto sender = connections_->find(QString::fromStdString(bean.getSender()));
    if (sender == connections_->end()) {
        return;
    }
    const QString nickname = QString::fromStdString(bean.getData()->getModifyData()->getData());
    if (nickname.size() > kMaxNicknameChars) {
        logRefusal("server: nickname", "id:" + sender->id.toStdString() + " refused: a nickname of " +
                                           std::to_string(nickname.size()) + " characters, more than " +
                                           std::to_string(kMaxNicknameChars));
        return;
    }
    sender->nickname = nickname;
    broadcastAllUser();
}

void ServerSignalingProcessor::onDeviceType(const SignalingBean &bean) {
    auto sender = connections_->find(QString::fromStdString(bean.getSender()));
    if (sender == connections_->end()) {
        return;
    }
    sender->devicetype = UserBean::devicetypeFromText(bean.getData()->getModifyData()->getData());
}

}  // namespace signaling
