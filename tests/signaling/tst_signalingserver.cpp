#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>
#include <vector>

#include "signaling/server/signalingserver.h"
#include "signaling/signalinglimits.h"
#include "support/testsupport.h"
#include "testpeer.h"

namespace {

const QRegularExpression kBracedUuid(
    QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));

std::string str(const QString &s) {
    return s.toStdString();
}

QString qstr(const Json::Value &v) {
    return QString::fromStdString(v.asString());
}

}  // namespace

class TestSignalingServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstClientIsItsOwnOwner();
    void seventhConnectionRefused();
    void twoPathsTwoOwners();
    void ownerDepartureClosesMembers();
    void senderIsStamped();
    void ownerAnswersEveryone();
    void memberListsFollowNicknames();
    void agreeShareGivesShareId();
    void refuseShareUsesShareId();
    void stopShareRouting();
    void cutOffOnlyFromOwner();
    void anotherPathHoldsNoAuthorityHere();
    void overlongNicknameIsRefused();
    void silentConnectionsAndForeignPagesAreRefused();
    void absentTargetsVanish();
    void projectingMemberDepartureStopsShare();
    void oversizedMessageDropped();
    void hugeMessageClosesOnlyItsConnection();
    void garbageDropped();
    void floodIsCutOffOthersKeepRelaying();
    void binaryAndPingFloodsAreCutOff_data();
    void binaryAndPingFloodsAreCutOff();
    void stalledFrameDoesNotHoldOthers();
    void acceptedSocketsSendWithoutDelay();
    void restartAndCloseListening();
    void portInUseFails();
    void destroyWithClientsConnected();

private:
    TestPeer *join(const QString &path = QStringLiteral("/zu_remote_ctrl"));
    bool startServer(SignalingServer &server, quint16 port, bool *failed = nullptr);

    std::unique_ptr<SignalingServer> m_server;
    quint16 m_port = 0;
    std::vector<std::unique_ptr<TestPeer>> m_peers;
};

void TestSignalingServer::initTestCase() {
    // The server listens on every IPv4 address, so it runs only in the private namespace.
    ZU_REQUIRE_TEST_NAMESPACE();
}

bool TestSignalingServer::startServer(SignalingServer &server, quint16 port, bool *failed) {
    bool started = false;
    bool startFailed = false;
    QObject context;
    connect(&server, &SignalingServer::sigStarted, &context, [&] { started = true; });
    connect(&server, &SignalingServer::sigStartFailed, &context, [&] { startFailed = true; });
    server.postStartListen(port);
    (void)QTest::qWaitFor([&] { return started || startFailed; }, 5000);
    if (failed) {
        *failed = startFailed;
    }
    return started;
}

void TestSignalingServer::init() {
    // Without the deadline for a nickname: on a loaded machine a test outlasts it and sees its
    // unnamed members closed. The deadline has a test of its own.
    signaling::RelayLimits limits;
    limits.nicknameDeadlineMs = 0;
    m_server = std::make_unique<SignalingServer>(limits);
    QVERIFY(startServer(*m_server, 0));
    m_port = m_server->listeningPort();
    QVERIFY(m_port != 0);
}

void TestSignalingServer::cleanup() {
    m_peers.clear();
    m_server.reset();
}

TestPeer *TestSignalingServer::join(const QString &path) {
    m_peers.push_back(std::make_unique<TestPeer>());
    TestPeer *peer = m_peers.back().get();
    peer->open(m_port, path);
    peer->waitId();
    return peer;
}

void TestSignalingServer::firstClientIsItsOwnOwner() {
    TestPeer *owner = join();
    QVERIFY(kBracedUuid.match(owner->id).hasMatch());
    const Json::Value greeting = owner->messages.first();
    QCOMPARE(qstr(greeting["type"]), QStringLiteral("data"));
    QCOMPARE(qstr(greeting["target"]), owner->id);

    owner->send(testmsg::request("owner"));
    QVERIFY(owner->waitFor("owner"));
    QCOMPARE(qstr(owner->last("owner")["data"]["id"]), owner->id);
    QCOMPARE(qstr(owner->last("owner")["target"]), owner->id);
}

void TestSignalingServer::seventhConnectionRefused() {
    for (int i = 0; i < 6; ++i) {
        QVERIFY(!join()->id.isEmpty());
    }
    auto seventh = std::make_unique<TestPeer>();
    seventh->open(m_port);
    QVERIFY(seventh->waitClosed());
    QCOMPARE(seventh->closeCode, int(QWebSocketProtocol::CloseCodeNormal));
    QVERIFY(seventh->messages.isEmpty());
    QVERIFY(seventh->id.isEmpty());

    // The six stay and keep being served.
    QTest::qWait(100);
    for (auto &peer : m_peers) {
        QVERIFY(!peer->closed);
    }
    m_peers[5]->send(testmsg::request("owner"));
    QVERIFY(m_peers[5]->waitFor("owner"));
    QCOMPARE(qstr(m_peers[5]->last("owner")["data"]["id"]), m_peers[0]->id);

    // A freed place is given to the next comer.
    m_peers[5]->socket.close();
    QVERIFY(m_peers[5]->waitClosed());
    QVERIFY(m_peers[0]->waitFor("allUser"));
    QVERIFY(!join()->id.isEmpty());
}

void TestSignalingServer::twoPathsTwoOwners() {
    TestPeer *a = join(QStringLiteral("/zu_remote_ctrl"));
    TestPeer *b = join(QStringLiteral("/other"));
    TestPeer *memberOfB = join(QStringLiteral("/other"));
    for (TestPeer *p : {a, b, memberOfB}) {
        p->send(testmsg::request("owner"));
        QVERIFY(p->waitFor("owner"));
    }
    QCOMPARE(qstr(a->last("owner")["data"]["id"]), a->id);
    QCOMPARE(qstr(b->last("owner")["data"]["id"]), b->id);
    QCOMPARE(qstr(memberOfB->last("owner")["data"]["id"]), b->id);
}

void TestSignalingServer::ownerDepartureClosesMembers() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    TestPeer *m2 = join();
    TestPeer *elsewhere = join(QStringLiteral("/elsewhere"));
    owner->socket.close();
    QVERIFY(m1->waitClosed());
    QVERIFY(m2->waitClosed());
    QCOMPARE(m1->closeCode, int(QWebSocketProtocol::CloseCodeNormal));
    QTest::qWait(100);
    QVERIFY(!elsewhere->closed);

    TestPeer *next = join();
    next->send(testmsg::request("owner"));
    QVERIFY(next->waitFor("owner"));
    QCOMPARE(qstr(next->last("owner")["data"]["id"]), next->id);
}

void TestSignalingServer::senderIsStamped() {
    TestPeer *owner = join();
    TestPeer *member = join();
    member->send(
        testmsg::sdp("sdp", str(owner->id), "offer", "v=0\r\n", "{00000000-0000-0000-0000-000000000000}"));
    QVERIFY(owner->waitFor("sdp"));
    const Json::Value got = owner->last("sdp");
    QCOMPARE(qstr(got["sender"]), member->id);
    QCOMPARE(qstr(got["target"]), owner->id);
    QCOMPARE(qstr(got["data"]["data"]["sdp"]), QStringLiteral("v=0\r\n"));
    QCOMPARE(qstr(got["data"]["data"]["sdp_type"]), QStringLiteral("offer"));

    owner->send(
        testmsg::ice("ice_candidate", str(member->id), "candidate:1 1 UDP 1 10.77.0.1 5000 typ host"));
    QVERIFY(member->waitFor("ice_candidate"));
    QCOMPARE(qstr(member->last("ice_candidate")["sender"]), owner->id);
    QCOMPARE(member->last("ice_candidate")["data"]["data"]["sdp_mline_index"].asInt(), 1);
}

void TestSignalingServer::ownerAnswersEveryone() {
    TestPeer *owner = join();
    TestPeer *member = join();
    Json::Value ask = testmsg::request("owner");
    ask["sender"] = "{forged}";
    member->send(ask);
    QVERIFY(member->waitFor("owner"));
    QCOMPARE(qstr(member->last("owner")["data"]["id"]), owner->id);
    QCOMPARE(qstr(member->last("owner")["target"]), member->id);
    QTest::qWait(100);
    QCOMPARE(owner->countOf("owner"), 0);
}

void TestSignalingServer::memberListsFollowNicknames() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    TestPeer *m2 = join();

    m1->send(testmsg::nickname("\xe5\xbc\xa0\xe4\xb8\x89"));
    for (TestPeer *p : {owner, m1, m2}) {
        QVERIFY(p->waitFor("allUser", 1));
        const Json::Value list = p->last("allUser");
        QCOMPARE(qstr(list["target"]), p->id);
        QCOMPARE(testmsg::userIds(list), QStringList{m1->id});
        QCOMPARE(qstr(list["data"]["data"][0]["nickname"]), QString::fromUtf8("\xe5\xbc\xa0\xe4\xb8\x89"));
        QCOMPARE(qstr(list["data"]["data"][0]["devicetype"]), QStringLiteral("0"));
    }

    // The owner naming itself still keeps it off the list.
    owner->send(testmsg::nickname("host"));
    QVERIFY(m2->waitFor("allUser", 2));
    QCOMPARE(testmsg::userIds(m2->last("allUser")), QStringList{m1->id});

    Json::Value mobile;
    mobile["type"] = "ctrl";
    mobile["data"]["data_type"] = "modify";
    mobile["data"]["data"]["modify_type"] = "devicetype";
    mobile["data"]["data"]["data"] = "1";
    m2->send(mobile);
    m2->send(testmsg::nickname("phone"));
    QVERIFY(owner->waitFor("allUser", 3));
    QStringList ids = testmsg::userIds(owner->last("allUser"));
    ids.sort();
    QStringList expected{m1->id, m2->id};
    expected.sort();
    QCOMPARE(ids, expected);
    for (const Json::Value &u : owner->last("allUser")["data"]["data"]) {
        QCOMPARE(qstr(u["devicetype"]), QString(qstr(u["id"]) == m2->id ? "1" : "0"));
    }

    m2->send(testmsg::request("allUser"));
    QVERIFY(m2->waitFor("allUser", 4));
    QCOMPARE(testmsg::userIds(m2->last("allUser")).size(), 2);
    QTest::qWait(100);
    QCOMPARE(owner->countOf("allUser"), 3);

    m1->socket.close();
    QVERIFY(owner->waitFor("allUser", 4));
    QVERIFY(m2->waitFor("allUser", 5));
    QCOMPARE(testmsg::userIds(owner->last("allUser")), QStringList{m2->id});
    QCOMPARE(qstr(m2->last("allUser")["target"]), m2->id);
}

void TestSignalingServer::agreeShareGivesShareId() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    TestPeer *m2 = join();

    m1->send(testmsg::request("share", "{somewhere}"));
    QVERIFY(owner->waitFor("share"));
    QCOMPARE(qstr(owner->last("share")["sender"]), m1->id);
    QCOMPARE(qstr(owner->last("share")["target"]), owner->id);

    owner->send(testmsg::request("agree_share", str(m1->id)));
    QVERIFY(m1->waitFor("share_id"));
    const Json::Value shareMsg = m1->last("share_id");
    const QString shareId = qstr(shareMsg["target"]);
    QVERIFY(kBracedUuid.match(shareId).hasMatch());
    QCOMPARE(qstr(shareMsg["data"]["id"]), shareId);
    QCOMPARE(qstr(shareMsg["sender"]), owner->id);
    QCOMPARE(qstr(shareMsg["type"]), QStringLiteral("data"));
    QVERIFY(shareId != m1->id);

    owner->send(testmsg::sdp("share_screen_sdp", str(m1->id), "answer", "v=0 share"));
    QVERIFY(m1->waitFor("share_screen_sdp"));
    QCOMPARE(qstr(m1->last("share_screen_sdp")["target"]), shareId);
    QCOMPARE(qstr(m1->last("share_screen_sdp")["sender"]), owner->id);

    m1->send(testmsg::ice("share_screen_ice_candidate", "", "candidate:9"));
    QVERIFY(owner->waitFor("share_screen_ice_candidate"));
    QCOMPARE(qstr(owner->last("share_screen_ice_candidate")["sender"]), m1->id);
    QCOMPARE(qstr(owner->last("share_screen_ice_candidate")["target"]), owner->id);

    QTest::qWait(100);
    QCOMPARE(m2->countOf("share_id"), 0);
    QCOMPARE(m2->countOf("share_screen_sdp"), 0);
}

void TestSignalingServer::refuseShareUsesShareId() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    owner->send(testmsg::request("refuse_share", str(m1->id)));
    QVERIFY(m1->waitFor("refuse_share"));
    QCOMPARE(qstr(m1->last("refuse_share")["target"]), QString());
    QCOMPARE(qstr(m1->last("refuse_share")["sender"]), owner->id);

    owner->send(testmsg::request("agree_share", str(m1->id)));
    QVERIFY(m1->waitFor("share_id"));
    const QString shareId = qstr(m1->last("share_id")["target"]);
    owner->send(testmsg::request("refuse_share", str(m1->id)));
    QVERIFY(m1->waitFor("refuse_share", 2));
    QCOMPARE(qstr(m1->last("refuse_share")["target"]), shareId);
}

void TestSignalingServer::stopShareRouting() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    m1->send(testmsg::request("stop_share", "{nobody}"));
    QVERIFY(owner->waitFor("stop_share"));
    QCOMPARE(qstr(owner->last("stop_share")["sender"]), m1->id);
    owner->send(testmsg::request("stop_share", str(m1->id)));
    QVERIFY(m1->waitFor("stop_share"));
    QCOMPARE(qstr(m1->last("stop_share")["sender"]), owner->id);
}

void TestSignalingServer::cutOffOnlyFromOwner() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    TestPeer *m2 = join();
    m1->send(testmsg::nickname("one"));
    m2->send(testmsg::nickname("two"));
    QVERIFY(m1->waitFor("allUser", 2));

    m1->send(testmsg::request("cut_off", "", str(m2->id)));
    m1->send(testmsg::request("cut_off", "", str(owner->id)));
    QTest::qWait(200);
    QVERIFY(!m2->closed);
    QVERIFY(!owner->closed);

    const int before = m1->countOf("allUser");
    owner->send(testmsg::request("cut_off", "", str(m2->id)));
    QVERIFY(m2->waitClosed());
    QCOMPARE(m2->closeCode, int(QWebSocketProtocol::CloseCodeNormal));
    QVERIFY(m1->waitFor("allUser", before + 1));
    QCOMPARE(testmsg::userIds(m1->last("allUser")), QStringList{m1->id});
    QVERIFY(!m1->closed);
    QVERIFY(!owner->closed);
}

// The owner of a second path (any stranger can open one) and a member speaking for the server.
void TestSignalingServer::anotherPathHoldsNoAuthorityHere() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    TestPeer *intruder = join(QStringLiteral("/elsewhere"));
    m1->send(testmsg::nickname("one"));
    intruder->send(testmsg::nickname("intruder"));
    QVERIFY(m1->waitFor("allUser"));
    QVERIFY(owner->waitFor("allUser"));
    QTRY_COMPARE(testmsg::userIds(owner->last("allUser")), QStringList{m1->id});
    intruder->send(testmsg::request("allUser"));
    QVERIFY(intruder->waitFor("allUser"));
    QCOMPARE(testmsg::userIds(intruder->last("allUser")), QStringList());

    for (const char *request : {"agree_share", "refuse_share", "stop_share"}) {
        intruder->send(testmsg::request(request, str(m1->id)));
    }
    intruder->send(testmsg::request("cut_off", "", str(owner->id)));
    intruder->send(testmsg::request("cut_off", "", str(m1->id)));
    intruder->send(testmsg::sdp("sdp", str(m1->id), "offer", "v=0 intruder"));
    for (const char *serverOnly : {"id", "owner", "allUser", "share_id"}) {
        Json::Value forged;
        forged["type"] = "data";
        forged["target"] = str(owner->id);
        forged["data"]["data_type"] = serverOnly;
        forged["data"]["data"]["id"] = str(m1->id);
        m1->send(forged);
    }
    // A message that is relayed, sent last: once it is there, everything before it was handled.
    m1->send(testmsg::sdp("sdp", str(owner->id), "offer", "v=0 member"));
    QVERIFY(owner->waitFor("sdp"));
    QVERIFY(!owner->closed && !m1->closed);
    for (const char *type : {"share_id", "refuse_share", "stop_share", "sdp"}) {
        QVERIFY2(m1->countOf(type) == 0, type);
    }
    QCOMPARE(owner->countOf("id"), 1);  // its own greeting
    QCOMPARE(owner->countOf("owner"), 0);
    QCOMPARE(owner->countOf("share_id"), 0);
    for (const Json::Value &message : owner->messages) {
        QCOMPARE(qstr(message["sender"]).isEmpty(), message["data"]["data_type"].asString() != "sdp");
    }
}

void TestSignalingServer::overlongNicknameIsRefused() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    m1->send(testmsg::nickname("one"));
    QVERIFY(owner->waitFor("allUser"));
    const std::string longest(signaling::kMaxNicknameChars, 'x');
    m1->send(testmsg::nickname(longest + "y"));
    m1->send(testmsg::nickname(std::string(1 << 16, '\x01')));
    m1->send(testmsg::nickname(longest));
    QVERIFY(owner->waitFor("allUser", 2));
    QTest::qWait(100);
    QCOMPARE(owner->countOf("allUser"), 2);
    QCOMPARE(qstr(owner->last("allUser")["data"]["data"][0]["nickname"]), QString::fromStdString(longest));
}

void TestSignalingServer::silentConnectionsAndForeignPagesAreRefused() {
    // A server of its own with a short deadline for setting a nickname; short, but long enough for
    // a loaded machine to get the named member's nickname there in time (300 ms was not).
    signaling::RelayLimits limits;
    limits.nicknameDeadlineMs = 1500;
    SignalingServer server(limits);
    QVERIFY(startServer(server, 0));
    const quint16 port = server.listeningPort();
    TestPeer owner;
    owner.open(port);
    QVERIFY(!owner.waitId().isEmpty());
    TestPeer named, silent;
    named.open(port);
    silent.open(port);
    QVERIFY(!named.waitId().isEmpty() && !silent.waitId().isEmpty());
    named.send(testmsg::nickname("named"));
    QVERIFY(silent.waitClosed());
    QCOMPARE(silent.closeCode, int(QWebSocketProtocol::CloseCodePolicyViolated));
    QTest::qWait(limits.nicknameDeadlineMs);
    QVERIFY(!named.closed && !owner.closed);

    // Any other web page is refused at the handshake; the attendee page's own origin is not.
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/zu_remote_ctrl").arg(port));
    QWebSocket foreign(QStringLiteral("http://pages.example"));
    QWebSocket ownPage(QStringLiteral("http://127.0.0.1:5677"));
    bool foreignConnected = false;
    bool foreignEnded = false;
    connect(&foreign, &QWebSocket::connected, this, [&] { foreignConnected = true; });
    connect(&foreign, &QWebSocket::disconnected, this, [&] { foreignEnded = true; });
    foreign.open(url);
    ownPage.open(url);
    QTRY_COMPARE(ownPage.state(), QAbstractSocket::ConnectedState);
    QTRY_VERIFY(foreignEnded);
    QVERIFY(!foreignConnected);
}

void TestSignalingServer::absentTargetsVanish() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    const std::string ghost = "{11111111-2222-3333-4444-555555555555}";
    m1->send(testmsg::sdp("sdp", ghost, "offer", "x"));
    owner->send(testmsg::request("agree_share", ghost));
    owner->send(testmsg::request("refuse_share", ghost));
    owner->send(testmsg::request("cut_off", "", ghost));
    owner->send(testmsg::sdp("share_screen_sdp", ghost, "offer", "x"));
    for (int i = 0; i < 10; ++i) {
        m1->send(testmsg::request("stop_share", ghost));
    }
    m1->send(testmsg::request("owner"));
    QVERIFY(m1->waitFor("owner"));
    QTest::qWait(100);
    QCOMPARE(m1->messages.size(), 2);      // "id" and "owner" only
    QCOMPARE(owner->messages.size(), 11);  // "id" and the ten stop_share notices
    // The table did not grow: four more still fit, the fifth does not.
    for (int i = 0; i < 4; ++i) {
        QVERIFY(!join()->id.isEmpty());
    }
    TestPeer extra;
    extra.open(m_port);
    QVERIFY(extra.waitClosed());
    QVERIFY(extra.id.isEmpty());
}

void TestSignalingServer::projectingMemberDepartureStopsShare() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    TestPeer *m2 = join();
    owner->send(testmsg::request("agree_share", str(m1->id)));
    QVERIFY(m1->waitFor("share_id"));
    m1->socket.close();
    QVERIFY(owner->waitFor("stop_share"));
    const Json::Value stop = owner->last("stop_share");
    QCOMPARE(qstr(stop["sender"]), m1->id);
    QCOMPARE(qstr(stop["target"]), owner->id);
    QCOMPARE(qstr(stop["type"]), QStringLiteral("ctrl"));
    QVERIFY(m2->waitFor("allUser"));
    QVERIFY(owner->waitFor("allUser"));

    // A member that never projected leaves without a stop notice.
    m2->socket.close();
    QVERIFY(owner->waitFor("allUser", 2));
    QCOMPARE(owner->countOf("stop_share"), 1);
}

void TestSignalingServer::oversizedMessageDropped() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    TestPeer *m2 = join();
    const std::string big(1536 * 1024, 'a');
    m1->send(testmsg::sdp("sdp", str(owner->id), "offer", big));
    // An SDP of realistic size passes.
    const std::string ordinary(64 * 1024, 'b');
    m1->send(testmsg::sdp("sdp", str(owner->id), "offer", ordinary));
    QVERIFY(owner->waitFor("sdp"));
    QCOMPARE(owner->last("sdp")["data"]["data"]["sdp"].asString().size(), ordinary.size());
    QTest::qWait(100);
    QCOMPARE(owner->countOf("sdp"), 1);
    QVERIFY(!m1->closed);
    m2->send(testmsg::request("owner"));
    QVERIFY(m2->waitFor("owner"));
}

void TestSignalingServer::hugeMessageClosesOnlyItsConnection() {
    TestPeer *owner = join();
    TestPeer *flooder = join();
    TestPeer *m2 = join();
    flooder->sendRaw(QString(9 * 1024 * 1024, QLatin1Char('x')));
    QVERIFY(flooder->waitClosed(15000));
    // The close frame (1009) can be lost when the server resets a connection that is still
    // writing to it, so only the closing itself is certain.
    QVERIFY(flooder->closeCode == int(QWebSocketProtocol::CloseCodeTooMuchData) ||
            flooder->closeCode == int(QWebSocketProtocol::CloseCodeNormal));
    m2->send(testmsg::sdp("sdp", str(owner->id), "offer", "still here"));
    QVERIFY(owner->waitFor("sdp"));
    QVERIFY(!m2->closed);
}

void TestSignalingServer::garbageDropped() {
    TestPeer *owner = join();
    TestPeer *m1 = join();
    const QStringList junk{
        QStringLiteral("not json at all"),
        QStringLiteral("{\"type\":"),
        QStringLiteral("[1,2,3]"),
        QStringLiteral("42"),
        QStringLiteral("null"),
        QStringLiteral("{\"type\":\"ctrl\"}"),
        QStringLiteral("{\"type\":\"ctrl\",\"data\":{\"data_type\":\"modify\"}}"),
        QStringLiteral("{\"type\":\"ctrl\",\"data\":{\"data_type\":\"modify\",\"data\":[]}}"),
        QStringLiteral("{\"type\":\"ctrl\",\"data\":{\"data_type\":\"request\",\"request_data\":7}}"),
        QStringLiteral("{\"type\":\"ctrl\",\"data\":{\"data_type\":\"request\",\"request_data\":\"x\"}}"),
        QStringLiteral("{\"type\":\"DATA\",\"target\":\"%1\"}").arg(owner->id),
        QStringLiteral("{\"type\":\"data\",\"data\":\"text\"}"),
        QString::fromUtf8("\xff\xfe\x00 \xc3\x28", 6)};
    for (const QString &text : junk) {
        m1->sendRaw(text);
    }
    m1->socket.sendBinaryMessage(QByteArray("\x00\x01{\"type\":\"ctrl\"}", 17));
    m1->socket.sendBinaryMessage(QByteArray(1000, '\x7f'));
    m1->send(testmsg::request("owner"));
    QVERIFY(m1->waitFor("owner"));
    QTest::qWait(100);
    QCOMPARE(m1->messages.size(), 2);
    QCOMPARE(owner->messages.size(), 1);
    QVERIFY(!m1->closed);
}

void TestSignalingServer::floodIsCutOffOthersKeepRelaying() {
    TestPeer *owner = join();
    TestPeer *flooder = join();
    TestPeer *member = join();
    // Named, so that on a slow machine the deadline for a nickname cannot close them first.
    flooder->send(testmsg::nickname("flood"));
    member->send(testmsg::nickname("neighbour"));
    QVERIFY(owner->waitFor("allUser", 2));
    const std::string body(4000, 'f');
    const std::string ghost = "{11111111-2222-3333-4444-555555555555}";
    const int sent = 1500;  // about three times the burst a connection may have relayed at once
    for (int i = 0; i < sent; ++i) {
        flooder->sendRaw(QStringLiteral("not json %1").arg(i));
        flooder->send(testmsg::sdp("sdp", ghost, "offer", body));
        flooder->send(testmsg::sdp("sdp", str(owner->id), "offer", body));
    }
    // The neighbour speaks while the flood is still arriving and is relayed all the same.
    member->send(testmsg::sdp("sdp", str(owner->id), "offer", "neighbour"));
    QVERIFY(flooder->waitClosed(30000));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const Json::Value &m : owner->messages) {
                const Json::Value &body = m["data"]["data"];
                if (body.isObject() && body["sdp"].asString() == "neighbour") {
                    return qstr(m["sender"]) == member->id;
                }
            }
            return false;
        }(),
        20000);
    const int relayed = owner->countOf("sdp") - 1;
    QVERIFY2(relayed > 0 && relayed < sent, qPrintable(QString::number(relayed)));
    QVERIFY(!member->closed);
    QVERIFY(!owner->closed);

    // The flooder's place is free again and the others go on as before.
    QVERIFY(owner->waitFor("allUser", 3));
    QVERIFY(!join()->id.isEmpty());
    member->send(testmsg::sdp("sdp", str(owner->id), "offer", "after the flood"));
    QTRY_VERIFY_WITH_TIMEOUT(owner->last("sdp")["data"]["data"]["sdp"].asString() == "after the flood",
                             10000);
}

void TestSignalingServer::binaryAndPingFloodsAreCutOff_data() {
    QTest::addColumn<bool>("ping");
    QTest::newRow("binary frames") << false;
    QTest::newRow("pings") << true;
}

void TestSignalingServer::binaryAndPingFloodsAreCutOff() {
    QFETCH(bool, ping);
    TestPeer *owner = join();
    TestPeer *flooder = join();
    flooder->send(testmsg::nickname("flood"));  // so that only the flood can close it
    for (int i = 0; i < 6000; ++i) {
        if (ping) {
            flooder->socket.ping(QByteArray(125, 'p'));
        } else {
            flooder->socket.sendBinaryMessage(QByteArray(1000, 'b'));
        }
    }
    QVERIFY(flooder->waitClosed(30000));
    QCOMPARE(flooder->closeCode, int(QWebSocketProtocol::CloseCodePolicyViolated));
    QVERIFY(!owner->closed);
}

void TestSignalingServer::stalledFrameDoesNotHoldOthers() {
    TestPeer *owner = join();
    TestPeer *member = join();
    // A raw participant that completes the handshake, then sends half a frame and goes quiet.
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, m_port);
    QVERIFY(raw.waitForConnected(5000));
    raw.write(
        "GET /zu_remote_ctrl HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
        "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Sec-WebSocket-Version: 13\r\n\r\n");
    QByteArray reply;
    QTRY_VERIFY((reply += raw.readAll()).contains("\r\n\r\n"));
    QVERIFY(reply.startsWith("HTTP/1.1 101"));
    const char header[] = {char(0x81), char(0x80 | 100), 1, 2, 3, 4};
    raw.write(header, sizeof header);
    raw.write("0123456789");
    raw.flush();
    QTest::qWait(50);

    member->send(testmsg::sdp("sdp", str(owner->id), "offer", "past the staller"));
    QVERIFY(owner->waitFor("sdp", 1, 10000));
    // A worker thread that sat waiting for the rest of the frame would have given up on the
    // staller (closing it) before it got to the neighbour's message.
    QCOMPARE(raw.state(), QAbstractSocket::ConnectedState);
    QVERIFY(!raw.readAll().contains(char(0x88)));
}

void TestSignalingServer::acceptedSocketsSendWithoutDelay() {
    join();
    join();
    // The server runs in this process: find its accepted sockets among our descriptors.
    int accepted = 0;
    for (int fd = 0; fd < 4096; ++fd) {
        sockaddr_in local{};
        sockaddr_in peer{};
        socklen_t localSize = sizeof local;
        socklen_t peerSize = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) != 0 ||
            local.sin_family != AF_INET || ntohs(local.sin_port) != m_port ||
            getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0) {
            continue;
        }
        int noDelay = 0;
        socklen_t size = sizeof noDelay;
        QCOMPARE(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
        QVERIFY(noDelay != 0);
        ++accepted;
    }
    QCOMPARE(accepted, 2);
}

void TestSignalingServer::restartAndCloseListening() {
    TestPeer *owner = join();
    bool closedSeen = false;
    QObject context;
    connect(m_server.get(), &SignalingServer::sigClosed, &context, [&] { closedSeen = true; });

    // Listening again replaces the listening socket; accepted connections stay.
    QVERIFY(startServer(*m_server, m_port));
    QCOMPARE(m_server->listeningPort(), m_port);
    TestPeer *second = join();
    QVERIFY(!second->id.isEmpty());

    m_server->postCloseConnect();
    QTRY_VERIFY(closedSeen);
    QCOMPARE(m_server->listeningPort(), quint16(0));
    second->send(testmsg::request("owner"));
    QVERIFY(second->waitFor("owner"));
    QCOMPARE(qstr(second->last("owner")["data"]["id"]), owner->id);
    owner->send(testmsg::request("owner"));
    QVERIFY(owner->waitFor("owner"));
    QVERIFY(!owner->closed);

    TestPeer late;
    late.open(m_port);
    QVERIFY(late.waitClosed());
    QVERIFY(!late.everConnected);
}

void TestSignalingServer::portInUseFails() {
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
    SignalingServer other;
    bool failed = false;
    QVERIFY(!startServer(other, blocker.serverPort(), &failed));
    QVERIFY(failed);
    QCOMPARE(other.listeningPort(), quint16(0));
}

void TestSignalingServer::destroyWithClientsConnected() {
    TestPeer *owner = join();
    TestPeer *member = join();
    member->send(testmsg::nickname("bye"));
    QVERIFY(owner->waitFor("allUser"));
    m_server.reset();
    QVERIFY(owner->waitClosed());
    QVERIFY(member->waitClosed());
}

QTEST_GUILESS_MAIN(TestSignalingServer)
#include "tst_signalingserver.moc"
