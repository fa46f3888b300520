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
using Subnets = QMap<int, QList<int>>;
using Datagrams = QList<QNetworkDatagram>;

namespace {

const quint16 kPort = 5679;
const QString kHost1 = QStringLiteral("10.77.1.1");
// Stands in a table for an answer that carries the id of the other side's own datagrams.
const QByteArray kOwnId = "own id";

QByteArray query(const QString &id = ScanDatagram::newId()) {
    return ScanDatagram::encode(QLatin1String(ScanDatagram::kClientType), id);
}

QByteArray answer(const QString &id = ScanDatagram::newId()) {
    return ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), id);
}

QString idOf(const QNetworkDatagram &d) {
    ScanDatagram parsed;
    return ScanDatagram::parse(d.data(), parsed) && parsed.isServer() ? parsed.msgId : QString();
}

// A bare UDP socket in one host of the LAN, playing the other side by hand.
struct Peer : QObject {
    Peer(const TestLan &lan, int host, quint16 port,
         QAbstractSocket::BindMode mode = QAbstractSocket::ShareAddress) {
        TestLan::Enter in(lan, host);
        bound = in.ok() && socket.bind(QHostAddress::AnyIPv4, port, mode);
        connect(&socket, &QUdpSocket::readyRead, this, [this] {
            while (socket.hasPendingDatagrams())
                received << socket.receiveDatagram();
        });
    }
    void send(const QByteArray &bytes, quint16 port, const QString &to = "255.255.255.255") {
        socket.writeDatagram(bytes, QHostAddress(to), port);
    }
    // What came from host 1 (a peer's own broadcasts come back too).
    Datagrams fromHost1() const {
        Datagrams result;
        for (const auto &d : received)
            if (QHostAddress(d.senderAddress().toIPv4Address()).toString() == kHost1)
                result << d;
        return result;
    }

    bool bound = false;
    QUdpSocket socket;
    Datagrams received;
};

template <class T>
std::unique_ptr<T> makeIn(const TestLan *lan, int host) {
    const std::unique_ptr<TestLan::Enter> in(lan ? new TestLan::Enter(*lan, host) : nullptr);
    return std::make_unique<T>();
}

// Made in one host of the LAN (or outside any), its signals taken in the test's thread.
struct Responder : QObject {
    Responder(const TestLan *lan, int host) : server(makeIn<ScanServer>(lan, host)) {
        connect(server.get(), &ScanServer::sigListeningSuccess, this, [this] { ++success; });
        connect(server.get(), &ScanServer::sigListeningFail, this, [this] { ++fail; });
        connect(server.get(), &ScanServer::sigStop, this, [this] { ++stop; });
        connect(server.get(), &ScanServer::siglocalIp, this, [this](const QString &ip) { ips << ip; });
    }
    bool start() { return server->postStartListening(kPort); }

    std::unique_ptr<ScanServer> server;
    int success = 0, fail = 0, stop = 0;
    QStringList ips;
};

struct Scanner : QObject {
    Scanner(const TestLan *lan, int host) : client(makeIn<ScanClient>(lan, host)) {
        connect(client.get(), &ScanClient::sigShareListRefreshed, this,
                [this](const QStringList &h) { lists << h; });
    }
    QSet<QString> last() const {
        return lists.isEmpty() ? QSet<QString>() : QSet<QString>(lists.last().begin(), lists.last().end());
    }

    std::unique_ptr<ScanClient> client;
    QList<QStringList> lists;
};

}  // namespace

#define LAN_UP(lan, ...)         \
    ZU_REQUIRE_TEST_NAMESPACE(); \
    TestLan lan(__VA_ARGS__);    \
    QVERIFY2(lan.isUp(), qPrintable(lan.errorString()))

class TestScan : public QObject {
    Q_OBJECT
private slots:
    void stopBeforeStartOnlyEmitsStop() {
        Responder r(nullptr, 0);
        QVERIFY(r.server->postStopListening());
        QTRY_COMPARE(r.stop, 1);
        QCOMPARE(r.success + r.fail + r.ips.size(), 0);
        Scanner s(nullptr, 0);
        QVERIFY(s.client->postStopScan() && s.client->postStopScan());
        // Destroying one never started must not wait for a flag nobody sets: a hang is the ctest time-out.
        { ScanServer never; }
    }

    void responderAnnouncesItselfAtEachStart() {
        LAN_UP(lan, 2);
        Peer listener(lan, 2, kPort);
        QVERIFY(listener.bound);
        Responder r(&lan, 1);
        for (int start = 1; start <= 2; ++start) {
            QVERIFY(r.start());
            QTRY_COMPARE(r.success, start);
            QTRY_COMPARE(listener.fromHost1().size(), start);
        }
        QTRY_COMPARE(r.ips, (QStringList{kHost1, kHost1}));
        QCOMPARE(r.fail, 0);
        const Datagrams sent = listener.fromHost1();
        for (const QNetworkDatagram &d : sent)
            QVERIFY(d.senderPort() == kPort && d.data().endsWith('\n') && idOf(d).size() == 38);
        QVERIFY(idOf(sent[0]) != idOf(sent[1]));
    }

    void responderFailsOnTakenPort() {
        LAN_UP(lan, 1);
        Peer taken(lan, 1, kPort, QAbstractSocket::DontShareAddress);
        QVERIFY(taken.bound);
        Responder r(&lan, 1);
        r.start();
        QTRY_COMPARE(r.fail, 1);
        QCOMPARE(r.success, 0);
        QTest::qWait(300);  // nothing to wait for: what is checked is that nothing is sent
        QVERIFY(r.ips.isEmpty() && taken.fromHost1().isEmpty());
    }

    void responderIgnoresAndRateLimits_data() {
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<quint16>("fromPort");
        QTest::newRow("garbage") << QByteArrayList{"\xff\xfe",
                                                   "{\"msg_type\":[\"zu_screen_share_client_broadcast\"]}",
                                                   "{\"msg_type\":\"Zu_screen_share_client_broadcast\"}",
                                                   query() + QByteArray(4000, ' ')}
                                 << quint16(5680);
        QTest::newRow("another host's announcement") << QByteArrayList{answer()} << kPort;
        // Its own id from another machine would move the address the host page shows.
        QTest::newRow("its own id from another host") << QByteArrayList{kOwnId} << kPort;
    }

    void responderIgnoresAndRateLimits() {
        QFETCH(QByteArrayList, datagrams);
        QFETCH(quint16, fromPort);
        LAN_UP(lan, 3);
        Responder r(&lan, 1);
        r.start();
        QTRY_COMPARE(r.ips.size(), 1);
        Peer sender(lan, 2, fromPort), asker(lan, 2, 5686);
        Peer bystander(lan, 3, 5686);  // another scanner on the asker's port hears the answer too
        QVERIFY(sender.bound && asker.bound && bystander.bound);
        // Without "msg_id" a query is answered all the same.
        asker.send("{\"msg_type\":\"zu_screen_share_client_broadcast\"}", kPort);
        QTRY_VERIFY(!asker.fromHost1().isEmpty() && !bystander.fromHost1().isEmpty());
        const QString id = idOf(asker.fromHost1().first());
        QCOMPARE(id.size(), 38);
        for (const QByteArray &d : datagrams) {
            sender.send(d == kOwnId ? answer(id) : d, kPort);
            sender.send(d == kOwnId ? answer(id) : d, kPort, kHost1);
        }
        // A query after them: once its answer is in, an answer to them would be in too.
        asker.received.clear();
        asker.send(query(), kPort);
        QTRY_VERIFY(!asker.fromHost1().isEmpty());
        QTest::qWait(200);
        QVERIFY(sender.fromHost1().isEmpty());
        QCOMPARE(r.ips, QStringList{kHost1});
        // Every answer carries the responder's own id, not the asker's, and comes from its port.
        for (const auto &d : asker.fromHost1() + bystander.fromHost1())
            QVERIFY(idOf(d) == id && d.senderPort() == kPort);
        // A flood is answered a few times only: each answer comes twice (subnet and limited broadcast),
        // and the flood may straddle two seconds.
        asker.received.clear();
        for (int i = 0; i < 60; ++i)
            asker.send(query(), kPort, kHost1);
        QTRY_VERIFY(!asker.fromHost1().isEmpty());
        QTest::qWait(300);
        QVERIFY(asker.fromHost1().size() <= 2 * 2 * ScanServer::kAnswersPerSourcePerSecond);
    }

    void scannerFindsResponders_data() {
        QTest::addColumn<Subnets>("subnets");
        QTest::addColumn<QList<int>>("responders");
        QTest::addColumn<int>("scanner");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one host") << Subnets{} << QList<int>{1} << 2 << QStringList{kHost1};
        QTest::newRow("two hosts") << Subnets{} << QList<int>{1, 3} << 2 << QStringList{kHost1, "10.77.1.3"};
        // Host 1 has its default route on 10.77.1.0/24 and is also on 10.77.2.0/24, host 2 only there.
        const Subnets two{{1, {1, 2}}, {2, {2}}};
        QTest::newRow("answer into second subnet") << two << QList<int>{1} << 2 << QStringList{"10.77.2.1"};
        QTest::newRow("query into second subnet") << two << QList<int>{2} << 1 << QStringList{"10.77.2.2"};
    }

    void scannerFindsResponders() {
        QFETCH(Subnets, subnets);
        QFETCH(QList<int>, responders);
        QFETCH(int, scanner);
        QFETCH(QStringList, expected);
        LAN_UP(lan, qMax(scanner, responders.last()), subnets);
        std::vector<std::unique_ptr<Responder>> running;
        for (int host : responders) {
            running.push_back(std::make_unique<Responder>(&lan, host));
            running.back()->start();
            QTRY_COMPARE(running.back()->ips, QStringList{lan.address(host)});
        }
        Scanner s(&lan, scanner);
        QVERIFY(s.client->postStartScan());
        const QSet<QString> all(expected.begin(), expected.end());
        QTRY_COMPARE(s.last(), all);
        // A refresh starts a new list and finds every host again.
        const int before = s.lists.size();
        QVERIFY(s.client->postRefresh());
        QTRY_VERIFY(s.lists.size() > before && s.last() == all);
        for (const QStringList &list : s.lists) {
            const QSet<QString> hosts(list.begin(), list.end());
            QVERIFY2(!list.isEmpty() && hosts.size() == list.size() && all.contains(hosts),
                     qPrintable(list.join(' ')));
        }
    }

    void scannerListsEachAnswer_data() {
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<int>("lists");
        const QByteArray once = answer();
        // The scanner once listed a host at its first answer only.
        QTest::newRow("same answer twice") << QByteArrayList{once, once} << 2;
        QTest::newRow("its own id") << QByteArrayList{kOwnId, answer()} << 1;
        QTest::newRow("garbage")
            << QByteArrayList{query(), "{\"msg_type\":\"zu_screen_share_server_broadcast\"}",
                              "{\"msg_id\":5,\"msg_type\":\"zu_screen_share_server_broadcast\"}",
                              answer() + QByteArray(4000, ' '), answer()}
            << 1;
    }

    void scannerListsEachAnswer() {
        QFETCH(QByteArrayList, datagrams);
        QFETCH(int, lists);
        LAN_UP(lan, 2);
        Peer responder(lan, 1, kPort);
        QVERIFY(responder.bound);
        QElapsedTimer clock;
        clock.start();
        Scanner s(&lan, 2);
        s.client->postStartScan();
        QTRY_VERIFY(!responder.received.isEmpty());
        const QNetworkDatagram q = responder.received.first();
        ScanDatagram parsed;
        QVERIFY(ScanDatagram::parse(q.data(), parsed) && parsed.isQuery() && parsed.hasMsgId);
        for (const QByteArray &d : datagrams)
            responder.send(d == kOwnId ? answer(parsed.msgId) : d, q.senderPort());
        QTRY_COMPARE(s.lists.size(), lists);
        // Nothing more comes; after a repeated answer, the empty-list timer (due about a second after
        // the start) finds a list and stays quiet too.
        QTest::qWait(lists > 1 ? int(qMax<qint64>(300, 1600 - clock.elapsed())) : 300);
        QCOMPARE(s.lists.size(), lists);
        for (const QStringList &list : s.lists)
            QCOMPARE(list, QStringList{kHost1});
    }

    // Each sweep without a host ends with its empty list, one cut short by a refresh too; a refresh
    // while not scanning, before the start or after the stop, sends nothing.
    void sweepWithoutHostEmitsEmptyList() {
        LAN_UP(lan, 2);
        Peer responder(lan, 1, kPort);  // hears the queries, never answers
        QVERIFY(responder.bound);
        Scanner s(&lan, 2);
        s.client->postRefresh();
        QTest::qWait(1500);
        QVERIFY(responder.received.isEmpty() && s.lists.isEmpty());
        QElapsedTimer clock;
        clock.start();
        s.client->postStartScan();
        QTest::qWait(300);
        s.client->postRefresh();
        QTRY_COMPARE_WITH_TIMEOUT(s.lists.size(), 2, 5000);
        QVERIFY(clock.elapsed() >= 900);  // the second came at the end of a sweep
        QVERIFY(s.lists[0].isEmpty() && s.lists[1].isEmpty() && !responder.received.isEmpty());
        s.client->postStopScan();
        QTest::qWait(300);  // for a query already on its way
        const int seen = responder.received.size();
        s.client->postRefresh();
        QTest::qWait(2000);
        QCOMPARE(responder.received.size(), seen);
        QCOMPARE(s.lists.size(), 2);
    }

    void scannerTakesAFreePortOrNone() {
        LAN_UP(lan, 2);
        Peer responder(lan, 1, kPort);
        QVERIFY(responder.bound);
        std::vector<std::unique_ptr<Peer>> taken;  // ports 5680 to 5688, bound as another program would
        for (quint16 port = 5680; port <= 5688; ++port) {
            taken.push_back(std::make_unique<Peer>(lan, 2, port, QAbstractSocket::DontShareAddress));
            QVERIFY(taken.back()->bound);
        }
        Scanner s(&lan, 2);
        s.client->postStartScan();
        s.client->postRefresh();
        QTest::qWait(1500);
        QVERIFY(responder.received.isEmpty() && s.lists.isEmpty());
        // With its last port given back, the next start scans from it.
        taken.back().reset();
        s.client->postStartScan();
        QTRY_VERIFY(!responder.received.isEmpty());
        for (const auto &q : responder.received)
            QCOMPARE(q.senderPort(), quint16(5688));
        responder.send(answer(), 5688);
        QTRY_COMPARE(s.last(), QSet<QString>{kHost1});
    }
};

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
