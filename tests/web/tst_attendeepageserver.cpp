// The attendee page's HTTP server over real sockets in the test namespace, and its address's QR code.
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "support/testsupport.h"
#include "web/attendeepageqr.h"
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
    Reply r{0, socket.readAll(), {}, {}};
    const int split = r.raw.indexOf("\r\n\r\n");
    if (r.raw.startsWith("HTTP/1.") && split >= 0)
        r = {r.raw.mid(9, 3).toInt(), r.raw, r.raw.left(split), r.raw.mid(split + 4)};
    return r;
}

// rest: the end of the head, or more of it, its end and a body.
QByteArray request(const char *path, const char *method = "GET", const char *rest = "\r\n") {
    return QByteArray(method) + " " + path + " HTTP/1.1\r\nHost: page\r\nConnection: close\r\n" + rest;
}

}  // namespace

class TestAttendeePageServer : public QObject {
    Q_OBJECT
    AttendeePageServer server_{0};
    int getStatus() { return exchange(server_.port(), request("/")).status; }

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY(server_.start() && server_.port() != 0);
    }

    // One asset per content type; the query carries options for the page and changes nothing served.
    void serves_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QString>("file");  // empty: Debian's MD5 library, with the digest of bytes exported
        QTest::newRow("html") << "/?port=6000" << QByteArray("text/html; charset=utf-8") << "index.html";
        QTest::newRow("js") << "/attendee.js" << QByteArray("text/javascript") << "attendee.js";
        QTest::newRow("css") << "/attendee.css" << QByteArray("text/css") << "attendee.css";
        QTest::newRow("svg") << "/icon.svg" << QByteArray("image/svg+xml") << "icon.svg";
        QTest::newRow("md5") << "/md5.js" << QByteArray("text/javascript") << "";
    }

    void serves() {
        QFETCH(QString, path);
        QFETCH(QByteArray, type);
        QFETCH(QString, file);
        const Reply r = exchange(server_.port(), request(qPrintable(path)));
        QVERIFY2(r.status == 200 && r.headers.contains("Content-Type: " + type), r.headers.constData());
        if (file.isEmpty())
            QVERIFY(r.body.contains("md5Bytes") && r.body.contains("function rstrMD5"));
        else
            QCOMPARE(r.body, testsupport::readFile(ZUSHARE_WEB_PAGE_DIR "/" + file));
    }

    // 404 (or 400), 405 with the methods allowed, 200 from the head alone, or 0 for any refusal.
    void refuses_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        for (const char *path : {"/etc/passwd", "/../attendee.js", "/%2e%2e/etc/passwd", "/ATTENDEE.JS", "*"})
            QTest::newRow(path) << request(path) << 404;
        QTest::newRow("POST") << request("/index.html", "POST", "Content-Length: 5\r\n\r\nhello") << 405;
        QTest::newRow("bad chunk") << request("/icon.svg", "GET", "Transfer-Encoding: chunked\r\n\r\nzz\r\n")
                                   << 200;
        QTest::newRow("no path") << QByteArray("GET\r\n\r\n") << 0;
        QTest::newRow("HTTP/9.9") << QByteArray("GET / HTTP/9.9\r\n\r\n") << 0;
        QTest::newRow("negative length") << request("/", "GET", "Content-Length: -5\r\n\r\n") << 0;
        QTest::newRow("huge header") << "GET / HTTP/1.1\r\n" + QByteArray(100000, 'X') + ": y\r\n\r\n" << 0;
        QTest::newRow("NUL") << QByteArray("G\0ET / HTTP/1.1\r\n\r\n", 20) << 0;
    }

    void refuses() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const int notFound = server_.requestsNotFound();
        const Reply r = exchange(server_.port(), bytes, 3000);
        const QByteArray what = bytes.left(60) + " -> " + r.raw.left(60);
        QVERIFY2(!r.body.contains("<video") && !r.body.contains("root:"), what.constData());
        if (status == 404)
            QVERIFY2(r.status == 404 || r.status == 400, what.constData());
        else
            QVERIFY2(status ? r.status == status : r.status == 0 || r.status >= 400, what.constData());
        QCOMPARE(server_.requestsNotFound(), notFound + (r.status == 404));
        QVERIFY(status != 405 || r.headers.contains("Allow: GET, HEAD"));
        QCOMPARE(getStatus(), 200);
    }

    // A stalled request does not block the others; a byte now and then once held a connection for ever.
    void slowClientsDoNotBlockOthers() {
        QTcpSocket stalled, trickle;
        stalled.connectToHost(QHostAddress(testsupport::addressA()), server_.port());
        QVERIFY(stalled.waitForConnected(5000) && stalled.write("GET / HTTP/1.1\r\nHost: pa") > 0 &&
                stalled.flush());
        QCOMPARE(getStatus(), 200);
        trickle.connectToHost(QHostAddress(testsupport::addressA()), server_.port());
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
        QCOMPARE(getStatus(), 200);
    }

    // Stopped and started again it serves; on a port someone else holds it does not start.
    void restartsButNotOnATakenPort() {
        server_.stop();
        QVERIFY(server_.start() && getStatus() == 200);
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::AnyIPv4, 0));
        AttendeePageServer taken(squatter.serverPort());
        QVERIFY(!taken.start() && !taken.isRunning() && taken.port() == 0);
    }

    void qrCodeDecodesToTheAddress_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("size");
        QTest::newRow("lan") << "http://192.168.1.23:5677/" << 200;
        QTest::newRow("long address, small picture") << "http://172.31.255.254:65535/" << 90;
    }

    // Decoded by Debian's zbarimg (zbar-tools); no address, no picture.
    void qrCodeDecodesToTheAddress() {
        QFETCH(QString, url);
        QFETCH(int, size);
        const QString zbarimg = QStandardPaths::findExecutable("zbarimg");
        if (zbarimg.isEmpty())
            QSKIP("zbarimg (Debian's zbar-tools) is not installed");
        QTemporaryDir dir;
        QVERIFY(AttendeePageQr::render(url, size).save(dir.filePath("code.png")));
        QProcess zbar;
        zbar.start(zbarimg, {"--quiet", "--raw", "-Sdisable", "-Sqrcode.enable", dir.filePath("code.png")});
        QVERIFY(zbar.waitForFinished(20000));
        QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), url);
        int n = -1;
        QVERIFY(AttendeePageQr::modules("", &n).isEmpty() && n == 0 &&
                AttendeePageQr::render("", size).isNull());
    }
};

QTEST_GUILESS_MAIN(TestAttendeePageServer)
#include "tst_attendeepageserver.moc"
