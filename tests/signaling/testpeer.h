#pragma once

#include <json/json.h>
#include <QWebSocket>
#include <algorithm>

#include "core/jsontext.h"
#include "support/testsupport.h"

// A bare WebSocket participant on the test thread that records what it receives, byte for byte.
class TestPeer : public QObject {
public:
    TestPeer() {
        connect(&socket, &QWebSocket::connected, this, [this] { everConnected = true; });
        connect(&socket, &QWebSocket::disconnected, this, [this] {
            closed = true;
            closeCode = socket.closeCode();
        });
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            Json::Value value;  // stays null for a text that is not JSON, which the checks then see
            (void)jsontext::parse(text.toStdString(), value);
            messages << value;
            texts << text;
            if (value["data"]["data_type"] == "id" && id.isEmpty()) {
                id = QString::fromStdString(value["data"]["id"].asString());
            }
        });
    }
    void open(quint16 port, const QString &path = QStringLiteral("/zu_remote_ctrl"),
              const QString &host = QStringLiteral("127.0.0.1")) {
        socket.open(QUrl(QStringLiteral("ws://%1:%2%3").arg(host).arg(port).arg(path)));
    }
    // Waits for the server's greeting and returns the id it carried ("" on time-out).
    QString waitId(int timeoutMs = 5000) {
        testsupport::waitUntil([this] { return !id.isEmpty() || closed; }, timeoutMs);
        return id;
    }
    bool waitFor(const std::string &kind, int count = 1, int timeoutMs = 5000) {
        return testsupport::waitUntil([&] { return countOf(kind) >= count; }, timeoutMs);
    }
    bool waitClosed(int timeoutMs = 5000) {
        return testsupport::waitUntil([this] { return closed; }, timeoutMs);
    }
    void send(const Json::Value &m) { socket.sendTextMessage(QString::fromStdString(jsontext::write(m))); }
    void sendRaw(const QString &text) { socket.sendTextMessage(text); }
    // A request's kind is its request_data, any other message's its data_type.
    static std::string kindOf(const Json::Value &m) {
        const Json::Value &body = m["data"];
        return (body["data_type"] == "request" ? body["request_data"] : body["data_type"]).asString();
    }
    int countOf(const std::string &kind) const {
        return int(
            std::count_if(messages.begin(), messages.end(), [&](auto &m) { return kindOf(m) == kind; }));
    }
    Json::Value last(const std::string &kind) const {
        auto it =
            std::find_if(messages.rbegin(), messages.rend(), [&](auto &m) { return kindOf(m) == kind; });
        return it == messages.rend() ? Json::Value() : *it;
    }

    QWebSocket socket;
    QList<Json::Value> messages;
    QStringList texts;  // as received, for byte-exact checks
    QString id;
    bool everConnected = false, closed = false;
    int closeCode = -1;
};

namespace testmsg {

// A message of the given type and data type, with the payload's fields under data.data.
inline Json::Value message(const char *type, const std::string &target, const std::string &dataType,
                           std::initializer_list<std::pair<const char *, Json::Value>> payload = {}) {
    Json::Value m;
    m["type"] = type;
    m["target"] = target;
    m["data"]["data_type"] = dataType;
    for (const auto &[key, value] : payload) {
        m["data"]["data"][key] = value;
    }
    return m;
}

inline Json::Value request(const std::string &requestData, const std::string &target = {},
                           const std::string &id = {}) {
    Json::Value m = message("ctrl", target, "request");
    m["data"]["request_data"] = requestData;
    m["data"]["id"] = id;
    return m;
}

inline Json::Value nickname(const std::string &nickname) {
    return message("ctrl", {}, "modify", {{"modify_type", "nickname"}, {"data", nickname}});
}

inline Json::Value sdp(const std::string &dataType, const std::string &target, const std::string &sdpType,
                       const std::string &sdpText, const std::string &sender = {}) {
    Json::Value m = message("data", target, dataType, {{"sdp_type", sdpType}, {"sdp", sdpText}});
    m["sender"] = sender;
    return m;
}

inline Json::Value ice(const std::string &dataType, const std::string &target, const std::string &candidate) {
    return message("data", target, dataType,
                   {{"candidate", candidate}, {"sdp_mline_index", 1}, {"sdp_mid", "video0"}});
}

// The user ids of an "allUser" message, in order.
inline QStringList userIds(const Json::Value &allUser) {
    QStringList ids;
    for (const Json::Value &u : allUser["data"]["data"]) {
        ids << QString::fromStdString(u["id"].asString());
    }
    return ids;
}

}  // namespace testmsg

// Signaling messages as they go over the wire: compact, keys sorted, a line feed at the end.
namespace wiretext {

inline QString body(const QString &payload, const QString &dataType, const QString &id = {},
                    const QString &request = {}) {
    return QStringLiteral(R"({"data":%1,"data_type":"%2","id":"%3","request_data":"%4"})")
        .arg(payload, dataType, id, request);
}

inline QString message(const QString &type, const QString &data, const QString &sender = {},
                       const QString &target = {}, int errorCode = 0) {
    return QStringLiteral(R"({"data":%1,"error":"","error_code":%2,"sender":"%3","target":"%4","type":"%5"})"
                          "\n")
        .arg(data, QString::number(errorCode), sender, target, type);
}

inline QString text(const Json::Value &v) {
    return QString::fromStdString(jsontext::write(v));
}

}  // namespace wiretext
