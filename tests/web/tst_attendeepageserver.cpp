// The attendee page's HTTP server over real sockets in the test namespace: the page and its
// assets, refusals of everything else, and requests that are not HTTP at all.

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "support/testsupport.h"
#include "web/attendeepageserver.h"

namespace {

struct Reply {
    int status = 0;
    QByteArray raw, headers, body;
};

// Sends raw bytes and reads until the server closes the connection (or the time runs out).
Reply exchange(quint16 port, const QByteArray &request, int timeoutMs = 5000) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(testsupport::addressA()), port);
    if (socket.waitForConnected(timeoutMs) && socket.write(request) > 0)
        socket.waitForDisconnected(timeoutMs);
    Reply r;
    r.raw = socket.readAll();
    const int split = r.raw.indexOf("\r\n\r\n");
    if (r.raw.startsWith("HTTP/1.") && split >= 0) {
        r.status = r.raw.mid(9, 3).toInt();
        r.headers = r.raw.left(split);
        r.body = r.raw.mid(split + 4);
    }
    return r;
}

QByteArray request(const QByteArray &path, const QByteArray &method = "GET") {
    return method + " " + path + " HTTP/1.1\r\nHost: page\r\nConnection: close\r\n\r\n";
}

}  // namespace

class TestAttendeePageServer : public QObject {
    Q_OBJECT
    Reply get(const QByteArray &path, const QByteArray &method = "GET") {
        return exchange(m_server.port(), request(path, method));
    }
    AttendeePageServer m_server{0};

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY(m_server.start() && m_server.port() != 0);
    }

    void serves_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QString>("file");  // empty: Debian's MD5 library, with the digest of bytes exported
        // The query carries options for the page; it does not change what is served.
        const char *const rows[][3] = {{"/", "text/html; charset=utf-8", "index.html"},
                                       {"/index.html", "text/html", "index.html"},
                                       {"/?port=6000", "text/html", "index.html"},
                                       {"/attendee.js", "text/javascript", "attendee.js"},
                                       {"/transfer.js", "text/javascript", "transfer.js"},
                                       {"/attendee.css", "text/css", "attendee.css"},
                                       {"/icon.svg", "image/svg+xml", "icon.svg"},
                                       {"/md5.js", "text/javascript", ""}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QByteArray(row[0]) << QByteArray(row[1]) << QString(row[2]);
    }

    void serves() {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, type);
        QFETCH(QString, file);
        const Reply r = get(path);
        QCOMPARE(r.status, 200);
        QVERIFY2(r.headers.contains("Content-Type: " + type), r.headers.constData());
        if (file.isEmpty())
            QVERIFY(r.body.contains("md5Bytes") && r.body.contains("function rstrMD5"));
        else
            QCOMPARE(r.body, testsupport::readFile(ZUSHARE_WEB_PAGE_DIR "/" + file));
        const Reply head = get(path, "HEAD");
        QVERIFY(head.status == 200 && head.body.isEmpty());
        QVERIFY(head.headers.contains("Content-Length: " + QByteArray::number(r.body.size())));
    }

    void refuses_data() {
        // 404 (or 400), 405 with the methods allowed, or 0 for any refusal or a closed connection.
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        for (const char *path : {"/etc/passwd", "/../attendee.js", "/web/index.html", "//attendee.js",
                                 "/attendee.js/", "/index.htm", "/ATTENDEE.JS", "/%2e%2e/etc/passwd",
                                 "/zu_remote_ctrl", "/favicon.ico", "/md5.js.map", "*"})
            QTest::newRow(path) << request(path) << 404;
        for (const char *method : {"POST", "PUT", "DELETE"})
            QTest::newRow(method) << QByteArray(method) +
                                         " /index.html HTTP/1.1\r\nHost: page\r\n"
                                         "Content-Length: 5\r\nConnection: close\r\n\r\nhello"
                                  << 405;
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary += char((i * 37 + 11) & 255);
        QTest::newRow("binary") << binary << 0;
        QTest::newRow("blank lines") << QByteArray("\r\n\r\n\r\n") << 0;
        QTest::newRow("no path") << QByteArray("GET\r\n\r\n") << 0;
        QTest::newRow("HTTP/9.9") << QByteArray("GET / HTTP/9.9\r\n\r\n") << 0;
        QTest::newRow("negative length")
            << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: -5\r\n\r\n") << 0;
        QTest::newRow("huge path") << "GET /" + QByteArray(200000, 'a') + " HTTP/1.1\r\nHost: a\r\n\r\n" << 0;
        QTest::newRow("huge header") << "GET / HTTP/1.1\r\n" + QByteArray(100000, 'X') + ": y\r\n\r\n" << 0;
        QTest::newRow("NUL") << QByteArray("G\0ET / HTTP/1.1\r\n\r\n", 20) << 0;
    }

    void refuses() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const int notFound = m_server.requestsNotFound();
        const Reply r = exchange(m_server.port(), bytes, 3000);
        const QByteArray what = bytes.left(60) + " -> " + r.raw.left(60);
        QVERIFY2(!r.body.contains("<video") && !r.body.contains("root:"), what.constData());
        if (status == 404) {
            QVERIFY2(r.status == 404 || r.status == 400, what.constData());
            QCOMPARE(m_server.requestsNotFound(), notFound + (r.status == 404));
        } else if (status == 405) {
            QVERIFY(r.status == 405 && r.headers.contains("Allow: GET, HEAD"));
        } else {
            QVERIFY2(r.status == 0 || r.status >= 400, what.constData());
        }
        QCOMPARE(get("/").status, 200);
    }

    void slowClientsDoNotBlockOthers() {
        const quint16 port = m_server.port();
        // A client that opened a request and never finishes it does not block the others.
        QTcpSocket stalled, trickle;
        stalled.connectToHost(QHostAddress(testsupport::addressA()), port);
        QVERIFY(stalled.waitForConnected(5000) && stalled.write("GET / HTTP/1.1\r\nHost: pa") > 0 &&
                stalled.flush());
        // A well-formed head with a broken body is answered from the head; the body is dropped.
        exchange(port, "GET / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 3000);
        QCOMPARE(get("/attendee.js").status, 200);
        // A byte now and then, below any inactivity time-out, once held a connection for ever.
        trickle.connectToHost(QHostAddress(testsupport::addressA()), port);
        QVERIFY(trickle.waitForConnected(5000));
        QElapsedTimer held;
        held.start();
        const QByteArray head = "GET / HTTP/1.1\r\nHost: a\r\nX-Slow: " + QByteArray(100, 'x');
        for (int i = 0; i < head.size() && trickle.state() == QAbstractSocket::ConnectedState; ++i) {
            trickle.write(head.mid(i, 1));
            (void)QTest::qWaitFor([&] { return trickle.state() != QAbstractSocket::ConnectedState; }, 1000);
        }
        QCOMPARE(trickle.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(held.elapsed() < (AttendeePageServer::kRequestDeadlineSeconds + 3) * 1000);
        QCOMPARE(get("/").status, 200);
    }

    void urlNamesAddressAndPort() {
        AttendeePageServer server;
        QCOMPARE(server.url("192.168.1.20"), QString("http://192.168.1.20:5677/"));
        const QString lan = AttendeePageServer::lanAddress();
        QVERIFY2(lan == testsupport::addressA() || lan == testsupport::addressB(), qPrintable(lan));
        QCOMPARE(server.url(), QString("http://%1:5677/").arg(lan));
    }

    void stopsAndStartsAgain() {
        const quint16 port = m_server.port();
        m_server.stop();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress(testsupport::addressA()), port);
        QVERIFY(!socket.waitForConnected(2000));
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::AnyIPv4, 0));
        AttendeePageServer taken(squatter.serverPort());
        QVERIFY(!taken.start() && !taken.isRunning() && taken.port() == 0);
        QVERIFY(m_server.start());
        QCOMPARE(get("/").status, 200);
    }
};

QTEST_GUILESS_MAIN(TestAttendeePageServer)
#include "tst_attendeepageserver.moc"
