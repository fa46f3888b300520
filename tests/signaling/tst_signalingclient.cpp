#include <QTcpServer>
#include <QWebSocketServer>
#include <QtTest>
#include <memory>
#include <vector>

#include "core/jsontext.h"
#include "signaling/server/signalingserver.h"
#include "signaling/signalingclient.h"
#include "support/testsupport.h"
#include "testpeer.h"

namespace {

QString text(const Json::Value &v) {
    return QString::fromStdString(jsontext::write(v));
}

}  // namespace

// Records the client's signals on the test thread: the signals come from the client's worker
// thread, so they are received through queued connections rather than by a direct spy.
class ClientLog : public QObject {
    Q_OBJECT
public:
    explicit ClientLog(SignalingClient *client) {
        connect(client, &SignalingClient::sigConnected, this, [this] { events << "connected"; });
        connect(client, &SignalingClient::sigConnectFail, this, [this] { events << "connectFail"; });
        connect(client, &SignalingClient::sigDisConnected, this, [this] { events << "disconnected"; });
        connect(client, &SignalingClient::sigSdpArrived, this,
                [this](sdpType type, QString sdp, QString sender) {
                    events << QStringLiteral("sdp|%1|%2|%3").arg(int(type)).arg(sdp, sender);
                });
        connect(client, &SignalingClient::sigIceCandidateArrived, this,
                [this](QString candidate, int index, QString mid, QString sender) {
                    events << QStringLiteral("ice|%1|%2|%3|%4").arg(candidate).arg(index).arg(mid, sender);
                });
        connect(client, &SignalingClient::sigAlluserRefreshed, this, [this](QList<SignalingUser> list) {
            QStringList parts;
            for (const SignalingUser &u : list) {
                parts << QStringLiteral("%1/%2/%3").arg(u.id, u.nickname).arg(u.devicetype);
            }
            events << "users|" + parts.join(',');
        });
        connect(client, &SignalingClient::sigRequestShareScreen, this,
                [this](QString id) { events << "requestShare|" + id; });
        connect(client, &SignalingClient::sigCloseShareScreen, this,
                [this](QString id) { events << "closeShare|" + id; });
        connect(client, &SignalingClient::sigShareSdpArrived, this,
                [this](sdpType type, QString sdp, QString sender) {
                    events << QStringLiteral("shareSdp|%1|%2|%3").arg(int(type)).arg(sdp, sender);
                });
        connect(
            client, &SignalingClient::sigShareIceCandidateArrived, this,
            [this](QString candidate, int index, QString mid, QString sender) {
                events << QStringLiteral("shareIce|%1|%2|%3|%4").arg(candidate).arg(index).arg(mid, sender);
            });
    }
    int count(const QString &prefix) const {
        int n = 0;
        for (const QString &e : events) {
            n += e.startsWith(prefix) ? 1 : 0;
        }
        return n;
    }
    QStringList events;
};

// A scripted server on the test thread: accepts one client and records every text it sends.
class FakeServer : public QObject {
    Q_OBJECT
public:
    FakeServer() : server(QStringLiteral("fake"), QWebSocketServer::NonSecureMode) {
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *s = server.nextPendingConnection()) {
                socket.reset(s);
                connect(s, &QWebSocket::textMessageReceived, this, [this](const QString &t) {
                    Json::Value v;
                    received << t;
                    parsed.append(jsontext::parse(t.toStdString(), v) ? v : Json::Value());
                });
            }
        });
    }
    bool listen() { return server.listen(QHostAddress::LocalHost, 0); }
    QUrl url() const {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1/zu_remote_ctrl").arg(server.serverPort()));
    }
    void send(const Json::Value &v) { socket->sendTextMessage(text(v)); }
    int countRequests(const std::string &request) const {
        int n = 0;
        for (const Json::Value &v : parsed) {
            n += v["data"]["request_data"].asString() == request ? 1 : 0;
        }
        return n;
    }

    QWebSocketServer server;
    std::unique_ptr<QWebSocket> socket;
    QStringList received;
    QList<Json::Value> parsed;
};

// Connects the client to the fake server and waits until both ends see the connection.
bool connectTo(FakeServer &fake, SignalingClient &client, const ClientLog &log) {
    if (!fake.listen()) {
        return false;
    }
    client.postConnectServer(fake.url());
    return QTest::qWaitFor([&] { return log.count("connected") == 1 && fake.socket; }, 5000);
}

class TestSignalingClient : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void firstTextsAreNicknameThenOwner();
    void ownerRequestRepeatsUntilAnswered();
    void connectFailWhenNothingListens();
    void disconnectedAfterOpen();
    void messagesBecomeSignals();
    void garbageDroppedLaterMessagesHandled();
    void sendingWhileDisconnectedIsDropped();
    void requestsHaveTheirForm();
    void endToEndThroughServer();
    void destroyWhileConnected();
};

void TestSignalingClient::initTestCase() {
    ZU_REQUIRE_TEST_NAMESPACE();
}

void TestSignalingClient::firstTextsAreNicknameThenOwner() {
    FakeServer fake;
    QVERIFY(fake.listen());
    SignalingClient client;
    ClientLog log(&client);
    client.setNickName(QString::fromUtf8("\xe6\x9d\x8e\xe5\x9b\x9b"));
    client.postConnectServer(fake.url());
    QTRY_COMPARE(log.events, QStringList{"connected"});
    QTRY_VERIFY(fake.received.size() >= 2);
    QCOMPARE(fake.received[0],
             QStringLiteral("{\"data\":{\"data\":{\"data\":\"\\u674e\\u56db\",\"modify_type\":\"nickname\"},"
                            "\"data_type\":\"modify\",\"id\":\"\",\"request_data\":\"\"},\"error\":\"\","
                            "\"error_code\":0,\"sender\":\"\",\"target\":\"\",\"type\":\"ctrl\"}\n"));
    QCOMPARE(fake.received[1],
             QStringLiteral(
                 "{\"data\":{\"data\":null,\"data_type\":\"request\",\"id\":\"\",\"request_data\":\"owner\"},"
                 "\"error\":\"\",\"error_code\":0,\"sender\":\"\",\"target\":\"\",\"type\":\"ctrl\"}\n"));

    // Without a nickname the owner request comes first.
    FakeServer second;
    QVERIFY(second.listen());
    SignalingClient plain;
    plain.postConnectServer(second.url());
    QTRY_VERIFY(!second.parsed.isEmpty());
    QCOMPARE(second.parsed[0]["data"]["request_data"].asString(), std::string("owner"));

    // Once connected, a new nickname is declared at once, with the id learnt meanwhile.
    fake.send([] {
        Json::Value id;
        id["type"] = "data";
        id["target"] = "{me}";
        id["data"]["data_type"] = "id";
        id["data"]["id"] = "{me}";
        return id;
    }());
    QTRY_COMPARE(client.myId(), QStringLiteral("{me}"));
    const int before = fake.received.size();
    client.setNickName(QStringLiteral("wang"));
    QTRY_VERIFY(fake.received.size() > before);
    bool declared = false;
    for (int i = before; i < fake.parsed.size(); ++i) {
        if (fake.parsed[i]["data"]["data"]["data"].asString() == "wang") {
            declared = true;
            QCOMPARE(fake.parsed[i]["sender"].asString(), std::string("{me}"));
        }
    }
    QVERIFY(declared);
}

void TestSignalingClient::ownerRequestRepeatsUntilAnswered() {
    FakeServer fake;
    QVERIFY(fake.listen());
    SignalingClient client;
    ClientLog log(&client);
    client.postConnectServer(fake.url());
    QTRY_VERIFY(log.count("connected") == 1);
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(fake.countRequests("owner") >= 5, 5000);
    // Five requests need at least four retry periods of 200 ms.
    QVERIFY2(clock.elapsed() >= 4 * 200 - 50, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(client.ownerId(), QString());

    // The server's own answers carry no sender: a member's copy is relayed with its id and ignored.
    Json::Value forged;
    forged["type"] = "data";
    forged["sender"] = "{a-member}";
    forged["data"]["id"] = "{the-member}";
    for (const char *type : {"owner", "id", "allUser"}) {
        forged["data"]["data_type"] = type;
        fake.send(forged);
    }
    Json::Value users;
    users["type"] = "data";
    users["data"]["data_type"] = "allUser";
    fake.send(users);
    QTRY_COMPARE(log.count("users|"), 1);
    QCOMPARE(client.ownerId(), QString());
    QCOMPARE(client.myId(), QString());

    Json::Value owner;
    owner["type"] = "data";
    owner["data"]["data_type"] = "owner";
    owner["data"]["id"] = "{the-owner}";
    fake.send(owner);
    QTRY_COMPARE(client.ownerId(), QStringLiteral("{the-owner}"));
    QTest::qWait(300);
    const int settled = fake.countRequests("owner");
    QTest::qWait(600);
    QCOMPARE(fake.countRequests("owner"), settled);
}

void TestSignalingClient::connectFailWhenNothingListens() {
    quint16 freePort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        freePort = probe.serverPort();
    }
    SignalingClient client;
    ClientLog log(&client);
    client.postConnectServer(QUrl(QStringLiteral("ws://127.0.0.1:%1/zu_remote_ctrl").arg(freePort)));
    QTRY_COMPARE(log.events, QStringList{"connectFail"});
    QTest::qWait(300);
    QCOMPARE(log.events, QStringList{"connectFail"});

    // A later attempt makes a new socket and can succeed.
    FakeServer fake;
    QVERIFY(fake.listen());
    client.postConnectServer(fake.url());
    QTRY_COMPARE(log.events, (QStringList{"connectFail", "connected"}));
}

void TestSignalingClient::disconnectedAfterOpen() {
    FakeServer fake;
    QVERIFY(fake.listen());
    SignalingClient client;
    ClientLog log(&client);
    client.postConnectServer(fake.url());
    QTRY_COMPARE(log.events, QStringList{"connected"});
    QTRY_VERIFY(fake.socket);
    fake.socket->close();
    QTRY_COMPARE(log.events, (QStringList{"connected", "disconnected"}));
    QTest::qWait(300);
    QCOMPARE(log.events, (QStringList{"connected", "disconnected"}));

    // The client's own close is reported the same way.
    client.postConnectServer(fake.url());
    QTRY_COMPARE(log.count("connected"), 2);
    client.postCloseConnect();
    QTRY_COMPARE(log.count("disconnected"), 2);
    QCOMPARE(log.count("connectFail"), 0);
}

void TestSignalingClient::messagesBecomeSignals() {
    FakeServer fake;
    SignalingClient client;
    ClientLog log(&client);
    QVERIFY(connectTo(fake, client, log));

    fake.send(testmsg::sdp("sdp", "{me}", "offer", "v=0 a", "{host}"));
    fake.send(testmsg::sdp("sdp", "{me}", "Offer", "v=0 b", "{host}"));
    Json::Value bare;
    bare["type"] = "data";
    bare["sender"] = "{host}";
    bare["data"]["data_type"] = "sdp";
    fake.send(bare);
    Json::Value ice = testmsg::ice("ice_candidate", "{me}", "candidate:1");
    ice["sender"] = "{host}";
    fake.send(ice);
    Json::Value users;
    users["type"] = "data";
    users["data"]["data_type"] = "allUser";
    users["data"]["data"] = Json::Value();
    fake.send(users);
    users["data"]["data"][0]["id"] = "{a}";
    users["data"]["data"][0]["nickname"] = "\xe5\xbc\xa0";
    users["data"]["data"][0]["devicetype"] = "1";
    users["data"]["data"][1]["id"] = "{b}";
    users["data"]["data"][1]["nickname"] = "b";
    users["data"]["data"][1]["devicetype"] = 1;
    fake.send(users);
    Json::Value share = testmsg::request("share");
    share["sender"] = "{phone}";
    fake.send(share);
    Json::Value stop = testmsg::request("stop_share");
    stop["sender"] = "{phone}";
    fake.send(stop);
    Json::Value shareSdp = testmsg::sdp("share_screen_sdp", "{sid}", "offer", "v=0 s", "{phone}");
    fake.send(shareSdp);
    Json::Value shareIce = testmsg::ice("share_screen_ice_candidate", "{sid}", "candidate:2");
    shareIce["sender"] = "{phone}";
    fake.send(shareIce);
    Json::Value shareId;
    shareId["type"] = "data";
    shareId["target"] = "{sid}";
    shareId["data"]["data_type"] = "share_id";
    shareId["data"]["id"] = "{sid}";
    fake.send(shareId);
    Json::Value unknownCtrl = testmsg::request("agree_share");
    fake.send(unknownCtrl);

    const QStringList expected{
        "connected",
        "sdp|1|v=0 a|{host}",
        "sdp|2|v=0 b|{host}",
        "sdp|2||{host}",
        "ice|candidate:1|1|video0|{host}",
        "users|",
        QString::fromUtf8("users|{a}/\xe5\xbc\xa0/1,{b}/b/0"),
        "requestShare|{phone}",
        "closeShare|{phone}",
        "shareSdp|1|v=0 s|{phone}",
        "shareIce|candidate:2|1|video0|{phone}",
    };
    QTRY_COMPARE(log.events, expected);
    QTest::qWait(200);
    QCOMPARE(log.events, expected);
    QCOMPARE(client.ownerId(), QString());
    QCOMPARE(client.myId(), QString());
}

void TestSignalingClient::garbageDroppedLaterMessagesHandled() {
    FakeServer fake;
    SignalingClient client;
    ClientLog log(&client);
    QVERIFY(connectTo(fake, client, log));
    fake.socket->sendTextMessage(QStringLiteral("this is not json"));
    fake.socket->sendTextMessage(QStringLiteral("{\"type\":\"data\",\"data\":"));
    fake.socket->sendTextMessage(QStringLiteral("[\"data\"]"));
    fake.socket->sendTextMessage(QStringLiteral("{\"type\":\"other\",\"data\":{\"data_type\":\"sdp\"}}"));
    fake.socket->sendTextMessage(QStringLiteral("{\"type\":\"data\",\"data\":5}"));
    fake.socket->sendBinaryMessage(QByteArray("{\"type\":\"data\",\"data\":{\"data_type\":\"sdp\"}}"));
    fake.socket->sendTextMessage(
        text(testmsg::sdp("sdp", "", "offer", std::string(1536 * 1024, 'z'), "{big}")));
    fake.send(testmsg::sdp("sdp", "{me}", "answer", "v=0 after", "{host}"));
    QTRY_COMPARE(log.events, (QStringList{"connected", "sdp|2|v=0 after|{host}"}));
    QTest::qWait(100);
    QCOMPARE(log.events.size(), 2);
}

void TestSignalingClient::sendingWhileDisconnectedIsDropped() {
    FakeServer fake;
    SignalingClient client;
    ClientLog log(&client);
    client.sendText(QStringLiteral("early"));
    client.requestAllUser();
    client.cutOff(QStringLiteral("{x}"));
    QVERIFY(connectTo(fake, client, log));
    client.sendText(QStringLiteral("late"));
    QTRY_VERIFY(fake.received.contains(QStringLiteral("late")));
    QVERIFY(!fake.received.contains(QStringLiteral("early")));
    QCOMPARE(fake.countRequests("allUser"), 0);
    QCOMPARE(fake.countRequests("cut_off"), 0);
}

void TestSignalingClient::requestsHaveTheirForm() {
    FakeServer fake;
    SignalingClient client;
    ClientLog log(&client);
    QVERIFY(connectTo(fake, client, log));
    client.requestAllUser();
    client.cutOff(QStringLiteral("{victim}"));
    QTRY_COMPARE(fake.countRequests("cut_off"), 1);
    QCOMPARE(fake.countRequests("allUser"), 1);
    for (const QString &t : fake.received) {
        if (t.contains("cut_off")) {
            QCOMPARE(t,
                     QStringLiteral("{\"data\":{\"data\":null,\"data_type\":\"request\",\"id\":\"{victim}\","
                                    "\"request_data\":\"cut_off\"},\"error\":\"\",\"error_code\":0,"
                                    "\"sender\":\"\",\"target\":\"\",\"type\":\"ctrl\"}\n"));
        }
    }
}

void TestSignalingClient::endToEndThroughServer() {
    SignalingServer server;
    bool started = false;
    QObject context;
    connect(&server, &SignalingServer::sigStarted, &context, [&] { started = true; });
    server.postStartListen(0);
    QTRY_VERIFY(started);
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/zu_remote_ctrl").arg(server.listeningPort()));

    SignalingClient host;
    ClientLog hostLog(&host);
    host.postConnectServer(url);
    QTRY_VERIFY(!host.ownerId().isEmpty());
    QCOMPARE(host.ownerId(), host.myId());

    auto attendee = std::make_unique<SignalingClient>();
    ClientLog attendeeLog(attendee.get());
    attendee->setNickName(QStringLiteral("li"));
    attendee->postConnectServer(url);
    QTRY_COMPARE(attendee->ownerId(), host.myId());
    const QString attendeeId = attendee->myId();
    QVERIFY(!attendeeId.isEmpty());
    QTRY_VERIFY(hostLog.events.contains(QStringLiteral("users|%1/li/0").arg(attendeeId)));

    attendee->sendText(
        text(testmsg::sdp("sdp", host.ownerId().toStdString(), "offer", "v=0 offer", "{lie}")));
    QTRY_VERIFY(hostLog.events.contains(QStringLiteral("sdp|1|v=0 offer|%1").arg(attendeeId)));
    host.sendText(text(testmsg::ice("ice_candidate", attendeeId.toStdString(), "candidate:7")));
    QTRY_VERIFY(attendeeLog.events.contains(QStringLiteral("ice|candidate:7|1|video0|%1").arg(host.myId())));

    attendee->requestAllUser();
    QTRY_COMPARE(attendeeLog.count("users|"), 2);

    host.cutOff(attendeeId);
    QTRY_COMPARE(attendeeLog.count("disconnected"), 1);
    QTRY_VERIFY(hostLog.events.last() == QStringLiteral("users|"));

    // Host leaving closes the members it owns.
    attendee->postConnectServer(url);
    QTRY_COMPARE(attendeeLog.count("connected"), 2);
    host.postCloseConnect();
    QTRY_COMPARE(hostLog.count("disconnected"), 1);
    QTRY_COMPARE(attendeeLog.count("disconnected"), 2);
    attendee.reset();
}

void TestSignalingClient::destroyWhileConnected() {
    SignalingServer server;
    bool started = false;
    QObject context;
    connect(&server, &SignalingServer::sigStarted, &context, [&] { started = true; });
    server.postStartListen(0);
    QTRY_VERIFY(started);
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/zu_remote_ctrl").arg(server.listeningPort()));
    for (int i = 0; i < 3; ++i) {
        auto client = std::make_unique<SignalingClient>();
        ClientLog log(client.get());
        client->postConnectServer(url);
        QTRY_COMPARE(log.count("connected"), 1);
        client.reset();
    }
    // And one still connecting when destroyed.
    auto connecting = std::make_unique<SignalingClient>();
    connecting->postConnectServer(url);
    connecting.reset();
}

QTEST_GUILESS_MAIN(TestSignalingClient)
#include "tst_signalingclient.moc"
