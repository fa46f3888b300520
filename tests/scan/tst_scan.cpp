#include <QtTest>

#include <QNetworkDatagram>
#include <QUdpSocket>

#include "scan/scanclient.h"
#include "scan/scandatagram.h"
#include "scan/scanserver.h"
#include "support/testlan.h"
#include "support/testsupport.h"

using testsupport::TestLan;
using Datagrams = QList<QNetworkDatagram>;

namespace {

const quint16 kPort = 5679;
const QString kHost1 = QStringLiteral("10.77.1.1");
const QByteArray kOwnId = "own id";  // stands in a table for an answer with the other side's own id

const auto query = [](const QString &id = ScanDatagram::newId()) {
    return ScanDatagram::encode(ScanDatagram::kClientType, id);
};
const auto answer = [](const QString &id = ScanDatagram::newId()) {
    return ScanDatagram::encode(ScanDatagram::kServerType, id);
};

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
    // What came from the given host (a peer's own broadcasts come back too).
    Datagrams from(const QString &host = kHost1) const {
        Datagrams result;
        std::copy_if(received.begin(), received.end(), std::back_inserter(result), [&](auto &d) {
            return QHostAddress(d.senderAddress().toIPv4Address()).toString() == host;
        });
        return result;
    }

    bool bound = false;
    QUdpSocket socket;
    Datagrams received;
};

// Made in one host of the LAN (or outside any), its signals taken in the test's thread.
template <class T>
std::unique_ptr<T> makeIn(const TestLan *lan, int host) {
    const std::unique_ptr<TestLan::Enter> in(lan ? new TestLan::Enter(*lan, host) : nullptr);
    return std::make_unique<T>();
}

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

class TestScan : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ZU_REQUIRE_TEST_NAMESPACE(); }

    // What goes out byte for byte: compact, keys sorted, a line feed; a fresh id each time.
    void datagramsAreWrittenExactly() {
        const QString id = QStringLiteral("{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}");
        for (const auto &[type, side] :
             {std::pair{ScanDatagram::kClientType, "client"}, {ScanDatagram::kServerType, "server"}}) {
            QCOMPARE(ScanDatagram::encode(QLatin1String(type), id),
                     QString(R"({"msg_id":"%1","msg_type":"zu_screen_share_%2_broadcast"})"
                             "\n")
                         .arg(id, side)
                         .toUtf8());
        }
        const QString fresh = ScanDatagram::newId();
        const QRegularExpression uuid("^\\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\\}$");
        QVERIFY(uuid.match(fresh).hasMatch() && fresh != ScanDatagram::newId());
    }

    void datagramsAreRead_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");  // empty: read, as a query, an answer or neither
        QTest::addColumn<int>("kind");     // 1 query, 2 answer
        QTest::addColumn<QString>("id");   // null: none
        const auto row = [](const char *name, const QByteArray &b, const char *why, int kind = 0,
                            const QString &id = {}) {
            QTest::newRow(name) << b << QString(why) << kind << id;
        };
        const QByteArray q = "\"msg_type\":\"zu_screen_share_client_broadcast\"";
        const QString id = ScanDatagram::newId();
        row("what it writes", answer(id), "", 2, id);
        row("blanks, other members", " { \"x\": 1, " + q + " } ", "", 1);
        row("id not a string", "{" + q + ",\"msg_id\":7}", "", 1);
        row("case matters", "{\"msg_type\":\"ZU_SCREEN_SHARE_CLIENT_BROADCAST\"}", "");
        row("utf-8 id", "{\"msg_id\":\"\xe4\xb8\xad\",\"msg_type\":\"zu_screen_share_server_broadcast\"}", "",
            2, QString::fromUtf8("\xe4\xb8\xad"));
        for (const char *text : {"", "hello", "{\"msg_type\":\"zu_scr"}) {
            row(*text ? text : "empty", text, "not JSON");
        }
        row("nested too deep", QByteArray(1000, '['), "not JSON");
        row("array", "[\"zu_screen_share_client_broadcast\"]", "not an object");
        row("number", "5679", "not an object");
        row("no type", "{\"msg_id\":\"x\"}", "no msg_type");
        row("type not string", "{\"msg_type\":1}", "no msg_type");
        row("bad utf-8", "{" + q + ",\"x\":\"\xff\xfe\"}", "not UTF-8");
        row("cut utf-8", "{" + q + "}\xe4\xb8", "not UTF-8");
        row("too large", "{" + q + "}" + QByteArray(ScanDatagram::kMaxSize, ' '), "too large");
    }

    void datagramsAreRead() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        QFETCH(int, kind);
        QFETCH(QString, id);
        ScanDatagram d;
        QString reason;
        QCOMPARE(ScanDatagram::parse(bytes, d, &reason), why.isEmpty());
        QCOMPARE(reason, why);
        QCOMPARE(int(d.isQuery()) + 2 * int(d.isServer()), kind);
        QCOMPARE(d.hasMsgId, !id.isNull());
        QCOMPARE(d.msgId, id);
    }

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

    void responderAnswersOnlyQueries_data() {
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<quint16>("fromPort");
        const QByteArray typeNotString = "{\"msg_type\":[\"zu_screen_share_client_broadcast\"]}";
        QTest::newRow("garbage") << QByteArrayList{typeNotString, query() + QByteArray(4000, ' ')}
                                 << quint16(5680);
        QTest::newRow("another host's announcement") << QByteArrayList{answer()} << kPort;
        // Its own id from another machine would move the address the host page shows.
        QTest::newRow("its own id from another host") << QByteArrayList{kOwnId} << kPort;
    }

    // Announces itself at each start, answers only queries, with its id to the asker's port (heard by a
    // bystander too); another, its port taken, fails and sends nothing.
    void responderAnswersOnlyQueries() {
        QFETCH(QByteArrayList, datagrams);
        QFETCH(quint16, fromPort);
        TestLan lan(3);  // a peer is bound only on a LAN that is up
        Peer sender(lan, 2, fromPort), asker(lan, 2, 5686), listener(lan, 2, kPort), bystander(lan, 3, 5686);
        Peer taken(lan, 3, kPort, QAbstractSocket::DontShareAddress);
        QVERIFY2(sender.bound && asker.bound && listener.bound && bystander.bound && taken.bound,
                 qPrintable(lan.errorString()));
        Responder r(&lan, 1), blocked(&lan, 3);
        for (int start = 1; start <= 2; ++start) {
            QVERIFY(r.start());
            QTRY_VERIFY(r.success == start && listener.from().size() == start);
        }
        QTRY_COMPARE(r.ips, (QStringList{kHost1, kHost1}));
        const Datagrams announced = listener.from();
        for (const QNetworkDatagram &d : announced)
            QVERIFY(d.senderPort() == kPort && d.data().endsWith('\n') && idOf(d).size() == 38);
        QVERIFY(r.fail == 0 && idOf(announced[0]) != idOf(announced[1]));
        blocked.start();
        QTRY_COMPARE(blocked.fail, 1);
        sender.received.clear();
        asker.send("{\"msg_type\":\"zu_screen_share_client_broadcast\"}", kPort);  // without "msg_id"
        QTRY_VERIFY(!asker.from().isEmpty() && !bystander.from().isEmpty());
        const QString id = idOf(asker.from().first());
        QCOMPARE(id.size(), 38);
        for (const QByteArray &d : datagrams) {
            sender.send(d == kOwnId ? answer(id) : d, kPort);
            sender.send(d == kOwnId ? answer(id) : d, kPort, kHost1);
        }
        // A query after them: once its answer is in, an answer to them would be in too.
        asker.received.clear();
        asker.send(query(), kPort);
        QTRY_VERIFY(!asker.from().isEmpty());
        QTest::qWait(300);  // what is checked is that nothing more is sent
        QVERIFY(sender.from().isEmpty() && r.ips == (QStringList{kHost1, kHost1}));
        QVERIFY(blocked.success == 0 && blocked.ips.isEmpty() && listener.from(lan.address(3)).isEmpty());
        for (const auto &d : asker.from() + bystander.from())
            QVERIFY(idOf(d) == id && d.senderPort() == kPort);
    }

    // Host 1 has its default route on 10.77.1.0/24 and is also on 10.77.2.0/24, host 2 only there.
    void scannerFindsResponders_data() {
        QTest::addColumn<int>("responder");
        QTest::addColumn<int>("scanner");
        QTest::addColumn<QString>("expected");
        QTest::newRow("answer into second subnet") << 1 << 2 << QString("10.77.2.1");
        QTest::newRow("query into second subnet") << 2 << 1 << QString("10.77.2.2");
    }

    void scannerFindsResponders() {
        QFETCH(int, responder);
        QFETCH(int, scanner);
        QFETCH(QString, expected);
        TestLan lan(2, {{1, {1, 2}}, {2, {2}}});
        QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
        Responder r(&lan, responder);
        r.start();
        QTRY_COMPARE(r.ips, QStringList{lan.address(responder)});
        Scanner s(&lan, scanner);
        QVERIFY(s.client->postStartScan());
        QTRY_COMPARE(s.last(), QSet<QString>{expected});
        // A refresh starts a new list that finds the host again; no list is empty or holds it twice.
        const int before = s.lists.size();
        QVERIFY(s.client->postRefresh());
        QTRY_VERIFY(s.lists.size() > before && s.last() == QSet<QString>{expected});
        for (const QStringList &list : s.lists)
            QCOMPARE(list, QStringList{expected});
    }

    void scannerListsEachAnswer_data() {
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<int>("lists");
        const QByteArray once = answer();
        // The scanner once listed a host at its first answer only.
        QTest::newRow("same answer twice") << QByteArrayList{once, once} << 2;
        QTest::newRow("its own id") << QByteArrayList{kOwnId, answer()} << 1;
        const QByteArray noId = "{\"msg_type\":\"zu_screen_share_server_broadcast\"}";
        QTest::newRow("garbage") << QByteArrayList{query(), noId, answer() + QByteArray(4000, ' '), answer()}
                                 << 1;
    }

    void scannerListsEachAnswer() {
        QFETCH(QByteArrayList, datagrams);
        QFETCH(int, lists);
        TestLan lan(2);
        Peer responder(lan, 1, kPort);
        QVERIFY2(responder.bound, qPrintable(lan.errorString()));
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
        // Nothing more; after a repeated answer the empty-list timer (1 s after the start) stays quiet too.
        QTest::qWait(lists > 1 ? int(qMax<qint64>(300, 1600 - clock.elapsed())) : 300);
        QCOMPARE(s.lists, QVector<QStringList>(lists, QStringList{kHost1}).toList());
    }

    // From the first free port or none; a sweep ends with its list; stopped, a refresh sends nothing.
    void sweepsFromAFreePortOrNone() {
        TestLan lan(2);
        Peer responder(lan, 1, kPort);  // hears the queries, answers by hand
        QVERIFY2(responder.bound, qPrintable(lan.errorString()));
        std::vector<std::unique_ptr<Peer>> taken;  // ports 5680 to 5688, bound as another program would
        for (quint16 port = 5680; port <= 5688; ++port) {
            taken.push_back(std::make_unique<Peer>(lan, 2, port, QAbstractSocket::DontShareAddress));
            QVERIFY(taken.back()->bound);
        }
        Scanner s(&lan, 2);
        s.client->postStartScan();
        QTest::qWait(1500);
        QVERIFY(responder.received.isEmpty() && s.lists.isEmpty());
        taken.back().reset();
        QElapsedTimer clock;
        clock.start();
        s.client->postStartScan();
        QTRY_COMPARE_WITH_TIMEOUT(s.lists.size(), 1, 5000);
        QVERIFY(clock.elapsed() >= 900 && s.lists[0].isEmpty() && !responder.received.isEmpty());
        for (const auto &q : responder.received)
            QCOMPARE(q.senderPort(), quint16(5688));
        responder.send(answer(), 5688);
        QTRY_COMPARE(s.last(), QSet<QString>{kHost1});
        s.client->postStopScan();
        QTest::qWait(300);  // for a query already on its way
        const int seen = responder.received.size(), lists = s.lists.size();
        s.client->postRefresh();
        QTest::qWait(2000);
        QVERIFY(responder.received.size() == seen && s.lists.size() == lists);
    }
};

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
