#include <QtTest>

#include "scan/scandatagram.h"

class TestScanDatagram : public QObject {
    Q_OBJECT
private slots:
    void writesCompactSortedWithLineFeed();
    void newIdIsBracedLowerCaseUuid();
    void readsWhatItWrites();
    void readsLeniently();
    void refuses_data();
    void refuses();
};

void TestScanDatagram::writesCompactSortedWithLineFeed() {
    const QString id = QStringLiteral("{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}");
    QCOMPARE(ScanDatagram::encode(QLatin1String(ScanDatagram::kClientType), id),
             QByteArray("{\"msg_id\":\"{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}\","
                        "\"msg_type\":\"zu_screen_share_client_broadcast\"}\n"));
    QCOMPARE(ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), id),
             QByteArray("{\"msg_id\":\"{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}\","
                        "\"msg_type\":\"zu_screen_share_server_broadcast\"}\n"));
}

void TestScanDatagram::newIdIsBracedLowerCaseUuid() {
    const QRegularExpression form(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));
    const QString a = ScanDatagram::newId();
    const QString b = ScanDatagram::newId();
    QCOMPARE(a.size(), 38);
    QVERIFY2(form.match(a).hasMatch(), qPrintable(a));
    QVERIFY(a != b);
}

void TestScanDatagram::readsWhatItWrites() {
    const QString id = ScanDatagram::newId();
    ScanDatagram d;
    QVERIFY(ScanDatagram::parse(ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), id), d));
    QVERIFY(d.isServer());
    QVERIFY(!d.isQuery());
    QVERIFY(d.hasMsgId);
    QCOMPARE(d.msgId, id);
}

void TestScanDatagram::readsLeniently() {
    ScanDatagram d;
    // Blanks, other members, no line feed, no id: still a query.
    QVERIFY(ScanDatagram::parse(" { \"x\": 1, \"msg_type\" : \"zu_screen_share_client_broadcast\" } ", d));
    QVERIFY(d.isQuery());
    QVERIFY(!d.hasMsgId);
    QVERIFY(ScanDatagram::parse("{\"msg_type\":\"zu_screen_share_client_broadcast\",\"msg_id\":7}", d));
    QVERIFY(d.isQuery());
    QVERIFY(!d.hasMsgId);
    // Case matters.
    QVERIFY(ScanDatagram::parse("{\"msg_type\":\"ZU_SCREEN_SHARE_CLIENT_BROADCAST\"}", d));
    QVERIFY(!d.isQuery());
    QVERIFY(!d.isServer());
    // Non-ASCII text is fine as long as it is UTF-8.
    QVERIFY(ScanDatagram::parse(
        "{\"msg_id\":\"\xe4\xb8\xad\",\"msg_type\":\"zu_screen_share_server_broadcast\"}", d));
    QCOMPARE(d.msgId, QString::fromUtf8("\xe4\xb8\xad"));
}

void TestScanDatagram::refuses_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("why");
    QTest::newRow("empty") << QByteArray() << "not JSON";
    QTest::newRow("text") << QByteArray("hello") << "not JSON";
    QTest::newRow("truncated") << QByteArray("{\"msg_type\":\"zu_scr") << "not JSON";
    QTest::newRow("nested too deep") << QByteArray(1000, '[') << "not JSON";
    QTest::newRow("array") << QByteArray("[\"zu_screen_share_client_broadcast\"]") << "not an object";
    QTest::newRow("number") << QByteArray("5679") << "not an object";
    QTest::newRow("no type") << QByteArray("{\"msg_id\":\"x\"}") << "no msg_type";
    QTest::newRow("type not string") << QByteArray("{\"msg_type\":1}") << "no msg_type";
    QTest::newRow("bad utf-8")
        << QByteArray("{\"msg_type\":\"zu_screen_share_client_broadcast\",\"x\":\"\xff\xfe\"}")
        << "not UTF-8";
    QTest::newRow("cut utf-8") << QByteArray("{\"msg_type\":\"zu_screen_share_client_broadcast\"}\xe4\xb8")
                               << "not UTF-8";
    QByteArray padded = "{\"msg_type\":\"zu_screen_share_client_broadcast\"}";
    padded.append(ScanDatagram::kMaxSize, ' ');
    QTest::newRow("too large") << padded << "too large";
}

void TestScanDatagram::refuses() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, why);
    ScanDatagram d;
    QString reason;
    QVERIFY(!ScanDatagram::parse(bytes, d, &reason));
    QCOMPARE(reason, why);
    QVERIFY(!d.isQuery() && !d.isServer());
}

QTEST_GUILESS_MAIN(TestScanDatagram)
#include "tst_scandatagram.moc"
