#include "testpeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <algorithm>

namespace {

std::string kindOf(const Json::Value &message) {
    const Json::Value &body = message["data"];
    return body["data_type"].asString() == "request" ? body["request_data"].asString()
                                                     : body["data_type"].asString();
}

Json::Value envelope(const char *type, const std::string &target, const char *dataType) {
    Json::Value m;
    m["type"] = type;
    m["target"] = target;
    m["data"]["data_type"] = dataType;
    return m;
}

}  // namespace

bool TestPeer::fastPolling = false;

bool TestPeer::spin(const std::function<bool()> &ready, int timeoutMs) {
    if (!fastPolling) {
        return QTest::qWaitFor(ready, timeoutMs);
    }
    QElapsedTimer clock;
    clock.start();
    while (!ready() && clock.elapsed() <= timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return ready();
}

TestPeer::TestPeer(QObject *parent) : QObject(parent) {
    connect(&socket, &QWebSocket::connected, this, [this] { everConnected = true; });
    connect(&socket, &QWebSocket::disconnected, this, [this] {
        closed = true;
        closeCode = socket.closeCode();
    });
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        Json::Value value;  // stays null for a text that is not JSON, which the checks then see
        (void)jsontext::parse(text.toStdString(), value);
        messages.append(value);
        texts.append(text);
        if (value["data"]["data_type"].asString() == "id" && id.isEmpty()) {
            id = QString::fromStdString(value["data"]["id"].asString());
        }
    });
}

void TestPeer::send(const Json::Value &message) {
    socket.sendTextMessage(QString::fromStdString(jsontext::write(message)));
}

int TestPeer::countOf(const std::string &dataType) const {
    return int(std::count_if(messages.begin(), messages.end(),
                             [&](const Json::Value &m) { return kindOf(m) == dataType; }));
}

Json::Value TestPeer::last(const std::string &dataType) const {
    const auto found = std::find_if(messages.rbegin(), messages.rend(),
                                    [&](const Json::Value &m) { return kindOf(m) == dataType; });
    return found == messages.rend() ? Json::Value() : *found;
}

namespace testmsg {

Json::Value request(const std::string &requestData, const std::string &target, const std::string &id) {
    Json::Value m = envelope("ctrl", target, "request");
    m["data"]["request_data"] = requestData;
    m["data"]["id"] = id;
    return m;
}

Json::Value nickname(const std::string &nickname) {
    Json::Value m = envelope("ctrl", {}, "modify");
    m.removeMember("target");
    m["data"]["data"]["modify_type"] = "nickname";
    m["data"]["data"]["data"] = nickname;
    return m;
}

Json::Value sdp(const std::string &dataType, const std::string &target, const std::string &sdpType,
                const std::string &sdpText, const std::string &sender) {
    Json::Value m = envelope("data", target, dataType.c_str());
    m["sender"] = sender;
    m["data"]["data"]["sdp_type"] = sdpType;
    m["data"]["data"]["sdp"] = sdpText;
    return m;
}

Json::Value ice(const std::string &dataType, const std::string &target, const std::string &candidate) {
    Json::Value m = envelope("data", target, dataType.c_str());
    m["data"]["data"]["candidate"] = candidate;
    m["data"]["data"]["sdp_mline_index"] = 1;
    m["data"]["data"]["sdp_mid"] = "video0";
    return m;
}

QStringList userIds(const Json::Value &message) {
    QStringList ids;
    for (const Json::Value &u : message["data"]["data"]) {
        ids << QString::fromStdString(u["id"].asString());
    }
    return ids;
}

}  // namespace testmsg
