#include <QtTest>

#include "scan/scandatagram.h"

class TestScanDatagram : public QObject {
    Q_OBJECT
private slots:
    void writesCompactSortedWithLineFeedAndFreshIds() {
        const QString id = QStringLiteral("{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}");
        QCOMPARE(ScanDatagram::encode(QLatin1String(ScanDatagram::kClientType), id),
                 QByteArray("{\"msg_id\":\"{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}\","
                            "\"msg_type\":\"zu_screen_share_client_broadcast\"}\n"));
        QCOMPARE(ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), id),
                 QByteArray("{\"msg_id\":\"{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}\","
                            "\"msg_type\":\"zu_screen_share_server_broadcast\"}\n"));
        const QString fresh = ScanDatagram::newId();
        const QRegularExpression uuid("^\\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\\}$");
        QVERIFY2(uuid.match(fresh).hasMatch(), qPrintable(fresh));
        QVERIFY(fresh != ScanDatagram::newId());
    }

    void parses_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");  // empty: read, as a query, an answer or neither
        QTest::addColumn<int>("kind");     // 1 query, 2 answer
        QTest::addColumn<QString>("id");   // null: none
        const auto read = [](const char *name, const QByteArray &b, int kind, const QString &id = {}) {
            QTest::newRow(name) << b << QString() << kind << id;
        };
        const auto refused = [](const char *name, const QByteArray &b, const char *why) {
            QTest::newRow(name) << b << QString(why) << 0 << QString();
        };
        const QString id = ScanDatagram::newId();
        read("what it writes", ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), id), 2, id);
        read("blanks, other members", " { \"x\": 1, \"msg_type\" : \"zu_screen_share_client_broadcast\" } ",
             1);
        read("id not a string", "{\"msg_type\":\"zu_screen_share_client_broadcast\",\"msg_id\":7}", 1);
        read("case matters", "{\"msg_type\":\"ZU_SCREEN_SHARE_CLIENT_BROADCAST\"}", 0);
        read("utf-8 id", "{\"msg_id\":\"\xe4\xb8\xad\",\"msg_type\":\"zu_screen_share_server_broadcast\"}", 2,
             QString::fromUtf8("\xe4\xb8\xad"));
        refused("empty", QByteArray(), "not JSON");
        refused("text", "hello", "not JSON");
        refused("truncated", "{\"msg_type\":\"zu_scr", "not JSON");
        refused("nested too deep", QByteArray(1000, '['), "not JSON");
        refused("array", "[\"zu_screen_share_client_broadcast\"]", "not an object");
        refused("number", "5679", "not an object");
        refused("no type", "{\"msg_id\":\"x\"}", "no msg_type");
        refused("type not string", "{\"msg_type\":1}", "no msg_type");
        refused("bad utf-8", "{\"msg_type\":\"zu_screen_share_client_broadcast\",\"x\":\"\xff\xfe\"}",
                "not UTF-8");
        refused("cut utf-8", "{\"msg_type\":\"zu_screen_share_client_broadcast\"}\xe4\xb8", "not UTF-8");
        refused(
            "too large",
            "{\"msg_type\":\"zu_screen_share_client_broadcast\"}" + QByteArray(ScanDatagram::kMaxSize, ' '),
            "too large");
    }

    void parses() {
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
};

QTEST_GUILESS_MAIN(TestScanDatagram)
#include "tst_scandatagram.moc"
