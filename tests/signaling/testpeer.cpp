#include "testpeer.h"

#include <QElapsedTimer>
#include <QTest>

#include "core/jsontext.h"

TestPeer::TestPeer(QObject *parent) : QObject(parent) {
    connect(&socket, &QWebSocket::connected, this, [this] { everConnected = true; });
    connect(&socket, &QWebSocket::disconnected, this, [this] {
        closed = true;
        closeCode = socket.closeCode();
    });
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        Json::Value value;
        if (!jsontext::parse(text.toStdString(), value)) {
            QWARN(qPrintable("peer got non-JSON text: " + text.left(80)));
            return;
        }
        messages.append(value);
        if (value["data"]["data_type"].asString() == "id" && id.isEmpty()) {
            id = QString::fromStdString(value["data"]["id"].asString());
        }
    });
}

void TestPeer::open(quint16 port, const QString &path, const QString &host) {
    socket.open(QUrl(QStringLiteral("ws://%1:%2%3").arg(host).arg(port).arg(path)));
}

bool TestPeer::waitConnected(int timeoutMs) {
    return QTest::qWaitFor([this] { return everConnected || closed; }, timeoutMs) && everConnected;
}

QString TestPeer::waitId(int timeoutMs) {
    (void)QTest::qWaitFor([this] { return !id.isEmpty() || closed; }, timeoutMs);
    return id;
}

bool TestPeer::waitFor(const std::string &dataType, int count, int timeoutMs) {
    return QTest::qWaitFor([&] { return countOf(dataType) >= count; }, timeoutMs);
}

bool TestPeer::waitClosed(int timeoutMs) {
    return QTest::qWaitFor([this] { return closed; }, timeoutMs);
}

void TestPeer::send(const Json::Value &message) {
    socket.sendTextMessage(QString::fromStdString(jsontext::write(message)));
}

int TestPeer::countOf(const std::string &dataType) const {
    int n = 0;
    for (const Json::Value &m : messages) {
        const Json::Value &body = m["data"];
        const std::string kind = body["data_type"].asString() == "request" ? body["request_data"].asString()
                                                                           : body["data_type"].asString();
        n += kind == dataType ? 1 : 0;
    }
    return n;
}

Json::Value TestPeer::last(const std::string &dataType) const {
    for (int i = messages.size() - 1; i >= 0; --i) {
        const Json::Value &body = messages[i]["data"];
        const std::string kind = body["data_type"].asString() == "request" ? body["request_data"].asString()
                                                                           : body["data_type"].asString();
        if (kind == dataType) {
            return messages[i];
        }
    }
    return Json::Value();
}

namespace testmsg {

Json::Value request(const std::string &requestData, const std::string &target, const std::string &id) {
    Json::Value m;
    m["type"] = "ctrl";
    m["target"] = target;
    m["data"]["data_type"] = "request";
    m["data"]["request_data"] = requestData;
    m["data"]["id"] = id;
    return m;
}

Json::Value nickname(const std::string &nickname) {
    Json::Value m;
    m["type"] = "ctrl";
    m["data"]["data_type"] = "modify";
    m["data"]["data"]["modify_type"] = "nickname";
    m["data"]["data"]["data"] = nickname;
    return m;
}

Json::Value sdp(const std::string &dataType, const std::string &target, const std::string &sdpType,
                const std::string &sdpText, const std::string &sender) {
    Json::Value m;
    m["type"] = "data";
    m["sender"] = sender;
    m["target"] = target;
    m["data"]["data_type"] = dataType;
    m["data"]["data"]["sdp_type"] = sdpType;
    m["data"]["data"]["sdp"] = sdpText;
    return m;
}

Json::Value ice(const std::string &dataType, const std::string &target, const std::string &candidate) {
    Json::Value m;
    m["type"] = "data";
    m["target"] = target;
    m["data"]["data_type"] = dataType;
    m["data"]["data"]["candidate"] = candidate;
    m["data"]["data"]["sdp_mline_index"] = 1;
    m["data"]["data"]["sdp_mid"] = "video0";
    return m;
}

QStringList userIds(const Json::Value &message) {
    QStringList ids;
    const Json::Value &users = message["data"]["data"];
    if (users.isArray()) {
        for (const Json::Value &u : users) {
            ids << QString::fromStdString(u["id"].asString());
        }
    }
    return ids;
}

}  // namespace testmsg
