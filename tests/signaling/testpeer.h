#pragma once

#include <json/json.h>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QWebSocket>
#include <functional>

#include "core/jsontext.h"

// A bare WebSocket participant on the test thread that records what it receives, so tests can
// speak the signaling protocol byte for byte without the product's client.
class TestPeer : public QObject {
    Q_OBJECT
public:
    explicit TestPeer(QObject *parent = nullptr);

    void open(quint16 port, const QString &path = QStringLiteral("/zu_remote_ctrl"),
              const QString &host = QStringLiteral("127.0.0.1")) {
        socket.open(QUrl(QStringLiteral("ws://%1:%2%3").arg(host).arg(port).arg(path)));
    }
    bool waitConnected(int timeoutMs = 5000) {
        return spin([this] { return everConnected || closed; }, timeoutMs) && everConnected;
    }
    // Waits for the server's greeting and returns the id it carried ("" on time-out).
    QString waitId(int timeoutMs = 5000) {
        spin([this] { return !id.isEmpty() || closed; }, timeoutMs);
        return id;
    }
    bool waitFor(const std::string &dataType, int count = 1, int timeoutMs = 5000) {
        return spin([&] { return countOf(dataType) >= count; }, timeoutMs);
    }
    bool waitClosed(int timeoutMs = 5000) {
        return spin([this] { return closed; }, timeoutMs);
    }

    void send(const Json::Value &message);
    void sendRaw(const QString &text) { socket.sendTextMessage(text); }

    // A request's kind is its request_data, any other message's its data_type.
    int countOf(const std::string &dataType) const;
    Json::Value last(const std::string &dataType) const;

    // Polls every millisecond instead of at QTest::qWaitFor's pace of ten, for tests that wait
    // for thousands of answers over loopback.
    static bool fastPolling;
    static bool spin(const std::function<bool()> &ready, int timeoutMs);

    QWebSocket socket;
    QList<Json::Value> messages;
    QStringList texts;  // as received, for byte-exact checks
    QString id;
    bool everConnected = false;
    bool closed = false;
    int closeCode = -1;
};

namespace testmsg {

Json::Value request(const std::string &requestData, const std::string &target = {},
                    const std::string &id = {});
Json::Value nickname(const std::string &nickname);
Json::Value sdp(const std::string &dataType, const std::string &target, const std::string &sdpType,
                const std::string &sdpText, const std::string &sender = {});
Json::Value ice(const std::string &dataType, const std::string &target, const std::string &candidate);
// The user ids of an "allUser" message, in order.
QStringList userIds(const Json::Value &message);

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
