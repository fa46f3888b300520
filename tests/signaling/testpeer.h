#pragma once

#include <json/json.h>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QWebSocket>

// A bare WebSocket participant on the test thread that records what it receives, so tests can
// speak the signaling protocol byte for byte without the product's client.
class TestPeer : public QObject {
    Q_OBJECT
public:
    explicit TestPeer(QObject *parent = nullptr);

    void open(quint16 port, const QString &path = QStringLiteral("/zu_remote_ctrl"),
              const QString &host = QStringLiteral("127.0.0.1"));
    bool waitConnected(int timeoutMs = 5000);
    // Waits for the server's greeting and returns the id it carried ("" on time-out).
    QString waitId(int timeoutMs = 5000);
    bool waitFor(const std::string &dataType, int count = 1, int timeoutMs = 5000);
    bool waitClosed(int timeoutMs = 5000);

    void send(const Json::Value &message);
    void sendRaw(const QString &text) { socket.sendTextMessage(text); }

    int countOf(const std::string &dataType) const;
    Json::Value last(const std::string &dataType) const;

    QWebSocket socket;
    QList<Json::Value> messages;
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
