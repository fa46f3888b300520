// The attendee page's HTTP server over real sockets in the test namespace: the page and its
// assets, 404 outside them, and requests that are not HTTP at all.

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "support/testsupport.h"
#include "web/attendeepageserver.h"

namespace {

struct Reply {
    int status = 0;
    QByteArray headers;
    QByteArray body;
};

// Sends raw bytes and reads until the server closes the connection (or the time runs out).
QByteArray exchange(quint16 port, const QByteArray &request, int timeoutMs = 5000) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(testsupport::addressA()), port);
    if (!socket.waitForConnected(timeoutMs))
        return "no connection";
    socket.write(request);
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < timeoutMs) {
        socket.waitForReadyRead(100);
        got += socket.readAll();
    }
    got += socket.readAll();
    return got;
}

Reply parse(const QByteArray &raw) {
    Reply r;
    const int split = raw.indexOf("\r\n\r\n");
    if (!raw.startsWith("HTTP/1.") || split < 0)
        return r;
    r.status = raw.mid(9, 3).toInt();
    r.headers = raw.left(split);
    r.body = raw.mid(split + 4);
    return r;
}

Reply get(quint16 port, const QByteArray &path, const QByteArray &method = "GET") {
    return parse(
        exchange(port, method + " " + path + " HTTP/1.1\r\nHost: page\r\nConnection: close\r\n\r\n"));
}

}  // namespace

class TestAttendeePageServer : public QObject {
    Q_OBJECT

private slots:
    void servesThePageAndItsAssets();
    void pathsOutsideTheAssetsGet404();
    void onlyReadingMethods();
    void malformedRequestsDoNotDisturbIt();
    void takenPortIsReported();
    void stopsListening();
    void urlNamesAddressAndPort();
};

void TestAttendeePageServer::servesThePageAndItsAssets() {
    ZU_REQUIRE_TEST_NAMESPACE();
    AttendeePageServer server(0);
    QVERIFY(server.start());
    QVERIFY(server.port() != 0);

    const Reply root = get(server.port(), "/");
    QCOMPARE(root.status, 200);
    QVERIFY(root.headers.contains("Content-Type: text/html; charset=utf-8"));
    QVERIFY(root.body.contains("<video id=\"screen\""));
    QVERIFY(root.body.contains("src=\"md5.js\""));
    QCOMPARE(get(server.port(), "/index.html").body, root.body);
    // The query carries options for the page; it does not change what is served.
    QCOMPARE(get(server.port(), "/?port=6000").body, root.body);

    const Reply script = get(server.port(), "/attendee.js");
    QCOMPARE(script.status, 200);
    QVERIFY(script.headers.contains("Content-Type: text/javascript"));
    QVERIFY(script.body.contains("/zu_remote_ctrl"));
    QCOMPARE(script.body, testsupport::readFile(ZUSHARE_WEB_PAGE_DIR "/attendee.js"));

    // Debian's MD5 library, with the digest of byte strings exported.
    const Reply md5 = get(server.port(), "/md5.js");
    QCOMPARE(md5.status, 200);
    QVERIFY(md5.body.contains("md5Bytes"));
    QVERIFY(md5.body.contains("function rstrMD5"));

    QCOMPARE(get(server.port(), "/transfer.js").status, 200);
    QVERIFY(get(server.port(), "/attendee.css").headers.contains("Content-Type: text/css"));
    QVERIFY(get(server.port(), "/icon.svg").headers.contains("Content-Type: image/svg+xml"));

    const Reply head = get(server.port(), "/", "HEAD");
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());
    QVERIFY(head.headers.contains(QByteArray("Content-Length: ") + QByteArray::number(root.body.size())));
}

void TestAttendeePageServer::pathsOutsideTheAssetsGet404() {
    ZU_REQUIRE_TEST_NAMESPACE();
    AttendeePageServer server(0);
    QVERIFY(server.start());
    const QList<QByteArray> outside = {"/etc/passwd",   "/../attendee.js",    "/web/index.html",
                                       "//attendee.js", "/attendee.js/",      "/index.htm",
                                       "/ATTENDEE.JS",  "/%2e%2e/etc/passwd", "/zu_remote_ctrl",
                                       "/favicon.ico",  "/md5.js.map",        "*"};
    for (const QByteArray &path : outside) {
        const Reply r = get(server.port(), path);
        QVERIFY2(r.status == 404 || r.status == 400, path.constData());
        QVERIFY2(!r.body.contains("<video"), path.constData());
        QVERIFY2(!r.body.contains("root:"), path.constData());
    }
    QVERIFY(server.requestsNotFound() >= outside.size() - 2);
}

void TestAttendeePageServer::onlyReadingMethods() {
    ZU_REQUIRE_TEST_NAMESPACE();
    AttendeePageServer server(0);
    QVERIFY(server.start());
    for (const QByteArray method : {"POST", "PUT", "DELETE"}) {
        const Reply r =
            parse(exchange(server.port(), method + " /index.html HTTP/1.1\r\nHost: page\r\n"
                                                   "Content-Length: 5\r\nConnection: close\r\n\r\nhello"));
        QCOMPARE(r.status, 405);
        QVERIFY(r.headers.contains("Allow: GET, HEAD"));
    }
    QCOMPARE(get(server.port(), "/").status, 200);
}

void TestAttendeePageServer::malformedRequestsDoNotDisturbIt() {
    ZU_REQUIRE_TEST_NAMESPACE();
    AttendeePageServer server(0);
    QVERIFY(server.start());
    const quint16 port = server.port();

    // A client that opened a request and never finishes it does not block the others.
    QTcpSocket stalled;
    stalled.connectToHost(QHostAddress(testsupport::addressA()), port);
    QVERIFY(stalled.waitForConnected(5000));
    stalled.write("GET / HTTP/1.1\r\nHost: pa");
    stalled.flush();

    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 37 + 11) & 255);
    const QList<QByteArray> garbage = {
        binary,
        "\r\n\r\n\r\n",
        "GET\r\n\r\n",
        "GET / HTTP/9.9\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: -5\r\n\r\n",
        "GET /" + QByteArray(200000, 'a') + " HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET / HTTP/1.1\r\n" + QByteArray(100000, 'X') + ": y\r\n\r\n",
        "G\0ET / HTTP/1.1\r\n\r\n",
    };
    for (const QByteArray &bytes : garbage) {
        const QByteArray answer = exchange(port, bytes, 3000);
        const Reply r = parse(answer);
        // Either a refusal or a closed connection; never the page for a broken request.
        QVERIFY2(r.status == 0 || r.status >= 400, (bytes.left(60) + " -> " + answer.left(60)).constData());
        QCOMPARE(get(port, "/").status, 200);
    }
    // A well-formed head with a broken body is answered from the head; the body is dropped.
    exchange(port, "GET / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 3000);
    QVERIFY(server.isRunning());
    QCOMPARE(get(port, "/attendee.js").status, 200);
    stalled.abort();

    // A byte now and then never reaches an inactivity time-out; the request's deadline ends it.
    QTcpSocket trickle;
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
    QVERIFY2(held.elapsed() < (AttendeePageServer::kRequestDeadlineSeconds + 3) * 1000,
             qPrintable(QString::number(held.elapsed())));
}

void TestAttendeePageServer::takenPortIsReported() {
    ZU_REQUIRE_TEST_NAMESPACE();
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::AnyIPv4, 0));
    AttendeePageServer server(squatter.serverPort());
    QVERIFY(!server.start());
    QVERIFY(!server.isRunning());
    QCOMPARE(server.port(), quint16(0));
}

void TestAttendeePageServer::stopsListening() {
    ZU_REQUIRE_TEST_NAMESPACE();
    AttendeePageServer server(0);
    QVERIFY(server.start());
    const quint16 port = server.port();
    QCOMPARE(get(port, "/").status, 200);
    server.stop();
    QVERIFY(!server.isRunning());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(testsupport::addressA()), port);
    QVERIFY(!socket.waitForConnected(2000));
    // And starts again, as a new share does.
    QVERIFY(server.start());
    QCOMPARE(get(server.port(), "/").status, 200);
}

void TestAttendeePageServer::urlNamesAddressAndPort() {
    AttendeePageServer server;
    QCOMPARE(AttendeePageServer::kPort, quint16(5677));
    QCOMPARE(server.url("192.168.1.20"), QString("http://192.168.1.20:5677/"));
    const QString lan = AttendeePageServer::lanAddress();
    QVERIFY(!lan.startsWith("127."));
    if (testsupport::inTestNamespace())
        QVERIFY2(lan == testsupport::addressA() || lan == testsupport::addressB(), qPrintable(lan));
    QCOMPARE(server.url(), QString("http://%1:5677/").arg(lan));
}

QTEST_GUILESS_MAIN(TestAttendeePageServer)
#include "tst_attendeepageserver.moc"
