#include <QtTest>

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <memory>

#include "scan/scanclient.h"
#include "scan/scandatagram.h"
#include "scan/scanserver.h"
#include "support/testlan.h"
#include "support/testsupport.h"

using testsupport::TestLan;

namespace {

const quint16 kServerPort = 5679;
const QString kAll = QStringLiteral("255.255.255.255");

QByteArray query(const QString &id) {
    return ScanDatagram::encode(QLatin1String(ScanDatagram::kClientType), id);
}

QByteArray serverDatagram(const QString &id) {
    return ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), id);
}

QString dotted(const QHostAddress &address) {
    return QHostAddress(address.toIPv4Address()).toString();
}

// A bare UDP socket in one host of the LAN, playing the other side by hand.
class Peer : public QObject {
public:
    Peer(const TestLan &lan, int host, quint16 port,
         QAbstractSocket::BindMode mode = QAbstractSocket::ShareAddress) {
        TestLan::Enter in(lan, host);
        bound = in.ok() && socket.bind(QHostAddress::AnyIPv4, port, mode);
        connect(&socket, &QUdpSocket::readyRead, this, [this] {
            while (socket.hasPendingDatagrams()) {
                received << socket.receiveDatagram();
            }
        });
    }
    void send(const QByteArray &bytes, const QString &to, quint16 port) {
        socket.writeDatagram(bytes, QHostAddress(to), port);
    }
    // Datagrams that came from a given address (own broadcasts come back too).
    QList<QNetworkDatagram> from(const QString &address) const {
        QList<QNetworkDatagram> result;
        for (const auto &d : received) {
            if (dotted(d.senderAddress()) == address) {
                result << d;
            }
        }
        return result;
    }
    QList<QNetworkDatagram> queries() const {
        QList<QNetworkDatagram> result;
        for (const auto &d : received) {
            ScanDatagram parsed;
            if (ScanDatagram::parse(d.data(), parsed) && parsed.isQuery()) {
                result << d;
            }
        }
        return result;
    }

    bool bound = false;
    QUdpSocket socket;
    QList<QNetworkDatagram> received;
};

// Signals of a responder, delivered to the test's thread.
class ServerWatch : public QObject {
public:
    explicit ServerWatch(ScanServer *server) {
        connect(server, &ScanServer::sigListeningSuccess, this, [this] { ++success; });
        connect(server, &ScanServer::sigListeningFail, this, [this] { ++fail; });
        connect(server, &ScanServer::sigStop, this, [this] { ++stop; });
        connect(server, &ScanServer::siglocalIp, this, [this](const QString &ip) { ips << ip; });
    }
    int success = 0;
    int fail = 0;
    int stop = 0;
    QStringList ips;
};

class ClientWatch : public QObject {
public:
    explicit ClientWatch(ScanClient *client) {
        clock.start();
        connect(client, &ScanClient::sigShareListRefreshed, this, [this](const QStringList &hosts) {
            lists << hosts;
            at << clock.elapsed();
        });
    }
    QSet<QString> last() const {
        return lists.isEmpty() ? QSet<QString>() : QSet<QString>(lists.last().begin(), lists.last().end());
    }
    QElapsedTimer clock;
    QList<QStringList> lists;
    QList<qint64> at;
};

std::unique_ptr<ScanServer> serverIn(const TestLan &lan, int host) {
    TestLan::Enter in(lan, host);
    return in.ok() ? std::make_unique<ScanServer>() : nullptr;
}

std::unique_ptr<ScanClient> clientIn(const TestLan &lan, int host) {
    TestLan::Enter in(lan, host);
    return in.ok() ? std::make_unique<ScanClient>() : nullptr;
}

// Host 2's scanner ports from 5680 up to `last`, bound exclusively as another program would;
// empty when one of them could not be bound.
std::vector<std::unique_ptr<Peer>> takeScannerPorts(const TestLan &lan, quint16 last) {
    std::vector<std::unique_ptr<Peer>> taken;
    for (quint16 port = 5680; port <= last; ++port) {
        taken.push_back(std::make_unique<Peer>(lan, 2, port, QAbstractSocket::DontShareAddress));
        if (!taken.back()->bound) {
            return {};
        }
    }
    return taken;
}

}  // namespace

#define LAN_UP(lan) QVERIFY2((lan).isUp(), qPrintable((lan).errorString()))

class TestScan : public QObject {
    Q_OBJECT
private slots:
    void stopWhileStoppedOnlyEmitsStop();
    void destroyNeverStarted();
    void responderReportsOwnAddress();
    void responderFailsOnTakenPort();
    void scannerFindsHost();
    void scannerListsTwoHosts();
    void twoAnswersFromOneHostListItOnce();
    void sweepWithoutHostEmitsOneEmptyList();
    void twoQuickSweepsEachEmitEmptyList();
    void answerIsBroadcastWithResponderId();
    void foreignAnnouncementGetsNoAnswer();
    void answerWithOwnIdIgnored();
    void strangersCannotMoveOrFloodTheResponder();
    void restartMakesNewId();
    void scannerFallsBackToLastPort();
    void scannerWithoutFreePortDoesNotScan();
    void refreshWhileNotScanningSendsNothing();
    void garbageIgnoredByResponder();
    void garbageIgnoredByScanner();
    void responderAnswersIntoSecondSubnet();
    void scannerQueriesSecondSubnet();
};

void TestScan::stopWhileStoppedOnlyEmitsStop() {
    ScanServer server;
    ServerWatch watch(&server);
    QVERIFY(server.postStopListening());
    QTRY_COMPARE(watch.stop, 1);
    QCOMPARE(watch.success + watch.fail, 0);
    QVERIFY(watch.ips.isEmpty());
    ScanClient client;
    QVERIFY(client.postStopScan());
    QVERIFY(client.postStopScan());
}

void TestScan::destroyNeverStarted() {
    QElapsedTimer clock;
    clock.start();
    { ScanServer server; }
    { ScanClient client; }
    // Destruction must not wait for a flag nobody will ever set; the ctest time-out catches a hang.
    QVERIFY(clock.isValid());
}

void TestScan::responderReportsOwnAddress() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    Peer listener(lan, 2, kServerPort);
    QVERIFY(listener.bound);
    auto server = serverIn(lan, 1);
    QVERIFY(server);
    ServerWatch watch(server.get());
    QVERIFY(server->postStartListening(kServerPort));
    QTRY_COMPARE(watch.success, 1);
    QTRY_COMPARE(watch.ips, QStringList{lan.address(1)});
    // The announcement went out as a broadcast to the responder's own port.
    QTRY_COMPARE(listener.from(lan.address(1)).size(), 1);
    const QNetworkDatagram announcement = listener.from(lan.address(1)).first();
    QCOMPARE(announcement.senderPort(), kServerPort);
    ScanDatagram parsed;
    QVERIFY(ScanDatagram::parse(announcement.data(), parsed));
    QVERIFY(parsed.isServer());
    QCOMPARE(parsed.msgId.size(), 38);
    QVERIFY(announcement.data().endsWith('\n'));
    QCOMPARE(watch.fail, 0);
}

void TestScan::responderFailsOnTakenPort() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(1);
    LAN_UP(lan);
    Peer taken(lan, 1, kServerPort, QAbstractSocket::DontShareAddress);
    QVERIFY(taken.bound);
    auto server = serverIn(lan, 1);
    ServerWatch watch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(watch.fail, 1);
    QCOMPARE(watch.success, 0);
    QTest::qWait(300);
    QVERIFY(watch.ips.isEmpty());
    QVERIFY(taken.from(lan.address(1)).isEmpty());
}

void TestScan::scannerFindsHost() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    auto server = serverIn(lan, 1);
    ServerWatch serverWatch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(serverWatch.ips.size(), 1);
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    QVERIFY(client->postStartScan());
    QTRY_COMPARE(watch.last(), QSet<QString>{lan.address(1)});
    for (const QStringList &list : watch.lists) {
        QCOMPARE(list, QStringList{lan.address(1)});
    }
    // A refresh empties the list and finds the host again.
    const int before = watch.lists.size();
    QVERIFY(client->postRefresh());
    QTRY_VERIFY(watch.lists.size() > before);
    QCOMPARE(watch.lists.last(), QStringList{lan.address(1)});
}

void TestScan::scannerListsTwoHosts() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(3);
    LAN_UP(lan);
    auto a = serverIn(lan, 1);
    auto c = serverIn(lan, 3);
    ServerWatch watchA(a.get());
    ServerWatch watchC(c.get());
    a->postStartListening(kServerPort);
    c->postStartListening(kServerPort);
    QTRY_COMPARE(watchA.ips, QStringList{lan.address(1)});
    QTRY_COMPARE(watchC.ips, QStringList{lan.address(3)});
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postStartScan();
    const QSet<QString> both{lan.address(1), lan.address(3)};
    QTRY_COMPARE(watch.last(), both);
    QCOMPARE(watch.lists.last().size(), 2);
}

void TestScan::twoAnswersFromOneHostListItOnce() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    Peer responder(lan, 1, kServerPort);
    QVERIFY(responder.bound);
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postStartScan();
    QTRY_VERIFY(!responder.queries().isEmpty());
    const quint16 port = responder.queries().first().senderPort();
    const QString id = ScanDatagram::newId();
    responder.send(serverDatagram(id), kAll, port);
    responder.send(serverDatagram(id), kAll, port);
    QTRY_COMPARE(watch.lists.size(), 2);
    QCOMPARE(watch.lists[0], QStringList{lan.address(1)});
    QCOMPARE(watch.lists[1], QStringList{lan.address(1)});
    // The empty-list timer finds a list and stays quiet.
    QTest::qWait(1500);
    QCOMPARE(watch.lists.size(), 2);
}

void TestScan::sweepWithoutHostEmitsOneEmptyList() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postStartScan();
    QTRY_COMPARE_WITH_TIMEOUT(watch.lists.size(), 1, 5000);
    QCOMPARE(watch.lists.first(), QStringList());
    QVERIFY2(watch.at.first() >= 900, qPrintable(QString::number(watch.at.first())));
    QTest::qWait(2000);
    QCOMPARE(watch.lists.size(), 1);
}

void TestScan::twoQuickSweepsEachEmitEmptyList() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(1);
    LAN_UP(lan);
    auto client = clientIn(lan, 1);
    ClientWatch watch(client.get());
    client->postStartScan();
    QTest::qWait(300);
    client->postRefresh();
    QTRY_COMPARE_WITH_TIMEOUT(watch.lists.size(), 2, 5000);
    QCOMPARE(watch.lists[0], QStringList());
    QCOMPARE(watch.lists[1], QStringList());
    QTest::qWait(1500);
    QCOMPARE(watch.lists.size(), 2);
}

void TestScan::answerIsBroadcastWithResponderId() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(3);
    LAN_UP(lan);
    auto server = serverIn(lan, 1);
    ServerWatch serverWatch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(serverWatch.ips.size(), 1);
    Peer asker(lan, 2, 5683);
    Peer bystander(lan, 3, 5683);  // another scanner on the same port hears the answer too
    QVERIFY(asker.bound && bystander.bound);
    const QString askerId = ScanDatagram::newId();
    // Without "msg_id" the query is answered all the same.
    asker.send("{\"msg_type\":\"zu_screen_share_client_broadcast\"}", kAll, kServerPort);
    QTRY_VERIFY(!asker.from(lan.address(1)).isEmpty());
    asker.send(query(askerId), kAll, kServerPort);
    QTRY_VERIFY(asker.from(lan.address(1)).size() >= 2);
    QTRY_VERIFY(!bystander.from(lan.address(1)).isEmpty());
    QSet<QString> ids;
    for (const auto &d : asker.from(lan.address(1)) + bystander.from(lan.address(1))) {
        ScanDatagram parsed;
        QVERIFY(ScanDatagram::parse(d.data(), parsed));
        QVERIFY(parsed.isServer());
        QCOMPARE(d.senderPort(), kServerPort);
        ids.insert(parsed.msgId);
    }
    QCOMPARE(ids.size(), 1);
    QVERIFY(!ids.contains(askerId));
}

void TestScan::foreignAnnouncementGetsNoAnswer() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    auto server = serverIn(lan, 1);
    ServerWatch watch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(watch.ips.size(), 1);
    Peer other(lan, 2, kServerPort);  // another host's responder port
    Peer asker(lan, 2, 5685);
    QVERIFY(other.bound && asker.bound);
    other.send(serverDatagram(ScanDatagram::newId()), kAll, kServerPort);
    // A query after it: once its answer is in, an answer to the announcement would be in too.
    asker.send(query(ScanDatagram::newId()), kAll, kServerPort);
    QTRY_VERIFY(!asker.from(lan.address(1)).isEmpty());
    QTest::qWait(200);
    QVERIFY(other.from(lan.address(1)).isEmpty());
    QCOMPARE(watch.ips.size(), 1);
}

void TestScan::strangersCannotMoveOrFloodTheResponder() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    auto server = serverIn(lan, 1);
    ServerWatch watch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(watch.ips.size(), 1);
    Peer forger(lan, 2, kServerPort);
    Peer asker(lan, 2, 5686);
    QVERIFY(forger.bound && asker.bound);
    asker.send(query(ScanDatagram::newId()), kAll, kServerPort);
    QTRY_VERIFY(!asker.from(lan.address(1)).isEmpty());
    ScanDatagram answer;
    QVERIFY(ScanDatagram::parse(asker.from(lan.address(1)).first().data(), answer));

    // The responder's own id from another machine would move the address the host page shows.
    forger.send(serverDatagram(answer.msgId), kAll, kServerPort);
    forger.send(serverDatagram(answer.msgId), lan.address(1), kServerPort);
    // A flood of queries from one source: a few a second are answered, the rest are not.
    asker.received.clear();
    constexpr int kFlood = 60;
    for (int i = 0; i < kFlood; ++i) {
        asker.send(query(ScanDatagram::newId()), lan.address(1), kServerPort);
    }
    QTRY_VERIFY(!asker.from(lan.address(1)).isEmpty());
    QTest::qWait(300);
    // Each answer reaches the asker twice (its subnet's broadcast and the limited one), and the
    // flood may straddle two seconds.
    const int answers = asker.from(lan.address(1)).size();
    QVERIFY2(answers <= 2 * 2 * ScanServer::kAnswersPerSourcePerSecond, qPrintable(QString::number(answers)));
    QCOMPARE(watch.ips, QStringList{lan.address(1)});
}

void TestScan::answerWithOwnIdIgnored() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    Peer responder(lan, 1, kServerPort);
    QVERIFY(responder.bound);
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postStartScan();
    QTRY_VERIFY(!responder.queries().isEmpty());
    const QNetworkDatagram q = responder.queries().first();
    ScanDatagram parsed;
    QVERIFY(ScanDatagram::parse(q.data(), parsed));
    QVERIFY(parsed.hasMsgId);
    responder.send(serverDatagram(parsed.msgId), kAll, q.senderPort());
    responder.send(serverDatagram(ScanDatagram::newId()), kAll, q.senderPort());
    QTRY_COMPARE(watch.lists.size(), 1);
    QTest::qWait(300);
    QCOMPARE(watch.lists.size(), 1);
    QCOMPARE(watch.lists.first(), QStringList{lan.address(1)});
}

void TestScan::restartMakesNewId() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    Peer listener(lan, 2, kServerPort);
    QVERIFY(listener.bound);
    auto server = serverIn(lan, 1);
    ServerWatch watch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(listener.from(lan.address(1)).size(), 1);
    server->postStartListening(kServerPort);
    QTRY_COMPARE(listener.from(lan.address(1)).size(), 2);
    QTRY_COMPARE(watch.ips.size(), 2);
    QCOMPARE(watch.success, 2);
    ScanDatagram first;
    ScanDatagram second;
    QVERIFY(ScanDatagram::parse(listener.from(lan.address(1))[0].data(), first));
    QVERIFY(ScanDatagram::parse(listener.from(lan.address(1))[1].data(), second));
    QVERIFY(first.msgId != second.msgId);
    // Replayed from host 2, neither id moves the responder's address: it is not one of its own.
    listener.send(serverDatagram(first.msgId), kAll, kServerPort);
    listener.send(serverDatagram(second.msgId), kAll, kServerPort);
    QTest::qWait(300);
    QCOMPARE(watch.ips.size(), 2);
}

void TestScan::scannerFallsBackToLastPort() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    Peer responder(lan, 1, kServerPort);
    QVERIFY(responder.bound);
    auto taken = takeScannerPorts(lan, 5687);
    QVERIFY(!taken.empty());
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postStartScan();
    QTRY_VERIFY(!responder.queries().isEmpty());
    for (const auto &q : responder.queries()) {
        QCOMPARE(q.senderPort(), quint16(5688));
    }
    responder.send(serverDatagram(ScanDatagram::newId()), kAll, 5688);
    QTRY_COMPARE(watch.last(), QSet<QString>{lan.address(1)});
}

void TestScan::scannerWithoutFreePortDoesNotScan() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    Peer responder(lan, 1, kServerPort);
    QVERIFY(responder.bound);
    auto taken = takeScannerPorts(lan, 5688);
    QVERIFY(!taken.empty());
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postStartScan();
    client->postRefresh();
    QTest::qWait(1500);
    QVERIFY(responder.queries().isEmpty());
    QVERIFY(watch.lists.isEmpty());
    // With one port given back, the next start scans from it.
    taken.front().reset();
    client->postStartScan();
    QTRY_VERIFY(!responder.queries().isEmpty());
    QCOMPARE(responder.queries().first().senderPort(), quint16(5680));
}

void TestScan::refreshWhileNotScanningSendsNothing() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    Peer responder(lan, 1, kServerPort);
    QVERIFY(responder.bound);
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postRefresh();
    QTest::qWait(1500);
    QVERIFY(responder.received.isEmpty());
    QVERIFY(watch.lists.isEmpty());
    client->postStartScan();
    QTRY_VERIFY(!responder.queries().isEmpty());
    // After a stop, refresh is silent again.
    client->postStopScan();
    QTRY_COMPARE(watch.lists.size(), 1);  // the first sweep's empty list
    const int seen = responder.received.size();
    client->postRefresh();
    QTest::qWait(1500);
    QCOMPARE(responder.received.size(), seen);
    QCOMPARE(watch.lists.size(), 1);
}

void TestScan::garbageIgnoredByResponder() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    auto server = serverIn(lan, 1);
    ServerWatch watch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(watch.ips.size(), 1);
    Peer asker(lan, 2, 5680);
    QVERIFY(asker.bound);
    QByteArray oversized = query(ScanDatagram::newId());
    oversized.append(4000, ' ');
    const QList<QByteArray> garbage{
        QByteArray(),
        QByteArray("\x00\x01\x02\xff", 4),
        QByteArray("{\"msg_type\":\"zu_screen_share_client_broad"),
        QByteArray("[{\"msg_type\":\"zu_screen_share_client_broadcast\"}]"),
        QByteArray("{\"msg_type\":[\"zu_screen_share_client_broadcast\"]}"),
        QByteArray("{\"msg_type\":\"Zu_screen_share_client_broadcast\"}"),
        QByteArray("{\"msg_type\":\"zu_screen_share_client_broadcast\",\"x\":\"\xc3\x28\"}"),
        oversized,
        QByteArray(8000, '{'),
    };
    for (const QByteArray &bytes : garbage) {
        asker.send(bytes, kAll, kServerPort);
    }
    QTest::qWait(500);
    QVERIFY(asker.from(lan.address(1)).isEmpty());
    QCOMPARE(watch.ips.size(), 1);
    // Still alive and answering.
    asker.send(query(ScanDatagram::newId()), kAll, kServerPort);
    QTRY_VERIFY(!asker.from(lan.address(1)).isEmpty());
}

void TestScan::garbageIgnoredByScanner() {
    ZU_REQUIRE_TEST_NAMESPACE();
    TestLan lan(2);
    LAN_UP(lan);
    Peer responder(lan, 1, kServerPort);
    QVERIFY(responder.bound);
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postStartScan();
    QTRY_VERIFY(!responder.queries().isEmpty());
    const quint16 port = responder.queries().first().senderPort();
    QByteArray oversized = serverDatagram(ScanDatagram::newId());
    oversized.append(4000, ' ');
    const QList<QByteArray> garbage{
        QByteArray("\xff\xfe\xfd"),
        query(ScanDatagram::newId()),
        QByteArray("{\"msg_type\":\"zu_screen_share_server_broadcast\"}"),
        QByteArray("{\"msg_id\":5,\"msg_type\":\"zu_screen_share_server_broadcast\"}"),
        QByteArray("{\"msg_id\":\"\xe4\xb8\",\"msg_type\":\"zu_screen_share_server_broadcast\"}"),
        oversized,
    };
    for (const QByteArray &bytes : garbage) {
        responder.send(bytes, kAll, port);
    }
    responder.send(serverDatagram(ScanDatagram::newId()), kAll, port);
    QTRY_COMPARE(watch.lists.size(), 1);
    QTest::qWait(300);
    QCOMPARE(watch.lists.size(), 1);
    QCOMPARE(watch.lists.first(), QStringList{lan.address(1)});
}

void TestScan::responderAnswersIntoSecondSubnet() {
    ZU_REQUIRE_TEST_NAMESPACE();
    // Host 1: default route on 10.77.1.0/24, also on 10.77.2.0/24. Host 2: only on 10.77.2.0/24.
    TestLan lan(2, {{1, {1, 2}}, {2, {2}}});
    LAN_UP(lan);
    auto server = serverIn(lan, 1);
    ServerWatch serverWatch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(serverWatch.ips, QStringList{lan.address(1, 1)});
    auto client = clientIn(lan, 2);
    ClientWatch watch(client.get());
    client->postStartScan();
    QTRY_COMPARE(watch.last(), QSet<QString>{lan.address(1, 2)});
}

void TestScan::scannerQueriesSecondSubnet() {
    ZU_REQUIRE_TEST_NAMESPACE();
    // The scanner's host has its default route on 10.77.1.0/24; the only host sharing is on 10.77.2.0/24.
    TestLan lan(2, {{1, {1, 2}}, {2, {2}}});
    LAN_UP(lan);
    auto server = serverIn(lan, 2);
    ServerWatch serverWatch(server.get());
    server->postStartListening(kServerPort);
    QTRY_COMPARE(serverWatch.ips, QStringList{lan.address(2)});
    auto client = clientIn(lan, 1);
    ClientWatch watch(client.get());
    client->postStartScan();
    QTRY_COMPARE(watch.last(), QSet<QString>{lan.address(2)});
}

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
