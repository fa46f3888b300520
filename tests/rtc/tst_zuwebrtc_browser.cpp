// Headless Chromium as an attendee: it offers (receive-only video and one data channel), the engine
// answers with the screen stream. Signaling goes through a WebSocket on loopback; the media over
// the test namespace's veth pair, with Chromium's default mDNS hiding of its addresses.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <mutex>

#include "rtc/gst/zuwebrtc_testing.h"
#include "rtc/zuwebrtc.h"
#include "support/testsupport.h"

namespace {

constexpr int kWidth = 640, kHeight = 360;

std::vector<uint8_t> fill(size_t n, int a, int b) {
    std::vector<uint8_t> m(n);
    for (size_t i = 0; i < n; ++i)
        m[i] = static_cast<uint8_t>((i * a + b) & 255);
    return m;
}

QString chromiumPath() {
    for (const char *p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (QFileInfo::exists(p))
            return p;
    return {};
}

}  // namespace

class TestBrowserPeer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void browserAttendeeReceivesTheScreen_data();
    void browserAttendeeReceivesTheScreen();

private:
    void onText(const QString &text);
    void sendJson(const QJsonObject &o);

    static void onSdp(const char *type, const char *sdp, void *user, int);
    static void onIce(const char *candidate, int mline, const char *mid, void *user, int);
    static void onReady(void *user, int);
    static void onClosed(void *user, int);
    static void onData(uint8_t *buffer, int length, void *user);

    QWebSocketServer *server_ = nullptr;
    QWebSocket *socket_ = nullptr;
    QProcess *chromium_ = nullptr;
    QTemporaryDir *profile_ = nullptr;
    int pc_ = 0;
    int mdnsCandidates_ = 0, browserCandidates_ = 0;
    QJsonObject status_;
    QStringList pageLog_;
    std::atomic<int> ready_{0}, closed_{0};
    std::mutex mutex_;
    std::vector<std::vector<uint8_t>> received_;
    uint8_t buffer_[ZUWEBRTC_RECEIVE_BUFFER];
};

void TestBrowserPeer::initTestCase() {
    zuengine::testing::useSyntheticPicture(kWidth, kHeight, 30);
}

void TestBrowserPeer::cleanup() {
    if (pc_ > 0)
        ClosePeerConnection(pc_);
    pc_ = 0;
    if (chromium_) {
        chromium_->kill();
        chromium_->waitForFinished(10000);
        delete chromium_;
        chromium_ = nullptr;
    }
    delete socket_;
    socket_ = nullptr;
    delete server_;
    server_ = nullptr;
    delete profile_;
    profile_ = nullptr;
    status_ = {};
    pageLog_.clear();
    mdnsCandidates_ = browserCandidates_ = 0;
    ready_ = 0;
    closed_ = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
}

void TestBrowserPeer::browserAttendeeReceivesTheScreen_data() {
    QTest::addColumn<QString>("codec");
    QTest::newRow("vp8") << "vp8";
    QTest::newRow("h264") << "h264";
}

void TestBrowserPeer::sendJson(const QJsonObject &o) {
    if (socket_)
        socket_->sendTextMessage(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
}

void TestBrowserPeer::onText(const QString &text) {
    const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = m.value("type").toString();
    if (type == "offer") {
        pc_ = CreatePeerConnection(0, 0, 0, 0, 0);
        AddStream(pc_, 1, 0);
        AddDataChannel(pc_);
        RegisterOnLocalSdpReadytoSend(pc_, onSdp, this, pc_);
        RegisterOnIceCandiateReadytoSend(pc_, onIce, this, pc_);
        RegisterOnLocalDataChannelReady(pc_, onReady, this, pc_);
        RegisterOnPeerClosed(pc_, onClosed, this, pc_);
        RegisterOnDataFromDataChannelReady(pc_, onData, buffer_, this, pc_);
        QCOMPARE(SetRemoteDescription(pc_, "offer", m.value("sdp").toString().toUtf8().constData()),
                 ZUWEBRTC_OK);
        QCOMPARE(CreateAnswer(pc_), ZUWEBRTC_OK);
    } else if (type == "candidate") {
        if (m.value("candidate").toString().contains(".local "))
            mdnsCandidates_++;
        browserCandidates_++;
        AddIceCandidate(pc_, m.value("candidate").toString().toUtf8().constData(), m.value("mline").toInt(),
                        m.value("mid").toString().toUtf8().constData());
    } else if (type == "status") {
        status_ = m;
    } else if (type == "log") {
        pageLog_ << m.value("text").toString();
    }
}

void TestBrowserPeer::onSdp(const char *type, const char *sdp, void *user, int) {
    auto *self = static_cast<TestBrowserPeer *>(user);
    QJsonObject o{{"type", QString(type)}, {"sdp", QString(sdp)}};
    QMetaObject::invokeMethod(
        self, [self, o] { self->sendJson(o); }, Qt::QueuedConnection);
}

void TestBrowserPeer::onIce(const char *candidate, int mline, const char *mid, void *user, int) {
    auto *self = static_cast<TestBrowserPeer *>(user);
    QJsonObject o{
        {"type", "candidate"}, {"candidate", QString(candidate)}, {"mline", mline}, {"mid", QString(mid)}};
    QMetaObject::invokeMethod(
        self, [self, o] { self->sendJson(o); }, Qt::QueuedConnection);
}

void TestBrowserPeer::onReady(void *user, int) {
    static_cast<TestBrowserPeer *>(user)->ready_++;
}

void TestBrowserPeer::onClosed(void *user, int) {
    static_cast<TestBrowserPeer *>(user)->closed_++;
}

void TestBrowserPeer::onData(uint8_t *buffer, int length, void *user) {
    auto *self = static_cast<TestBrowserPeer *>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->received_.emplace_back(buffer, buffer + length);
}

void TestBrowserPeer::browserAttendeeReceivesTheScreen() {
    ZU_REQUIRE_TEST_NAMESPACE();
    QFETCH(QString, codec);
    const QString chromium = chromiumPath();
    if (chromium.isEmpty())
        QSKIP("Debian's chromium package is not installed");

    server_ = new QWebSocketServer("signaling", QWebSocketServer::NonSecureMode);
    QVERIFY(server_->listen(QHostAddress::LocalHost, 0));
    connect(server_, &QWebSocketServer::newConnection, this, [this] {
        socket_ = server_->nextPendingConnection();
        connect(socket_, &QWebSocket::textMessageReceived, this, &TestBrowserPeer::onText);
    });
    profile_ = new QTemporaryDir();
    const QString page = QString(ZUSHARE_BROWSER_PAGE);
    const QString url =
        QString("file://%1?ws=ws://127.0.0.1:%2&codec=%3").arg(page).arg(server_->serverPort()).arg(codec);
    chromium_ = new QProcess();
    chromium_->setProcessChannelMode(QProcess::MergedChannels);
    chromium_->start(chromium,
                     {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--autoplay-policy=no-user-gesture-required", "--allow-file-access-from-files",
                      "--user-data-dir=" + profile_->path(), url});
    QVERIFY(chromium_->waitForStarted(10000));

    auto report = [this] {
        return QString("status %1\npage log: %2\nchromium: %3")
            .arg(QString::fromUtf8(QJsonDocument(status_).toJson(QJsonDocument::Compact)))
            .arg(pageLog_.join(" | "))
            .arg(QString::fromUtf8(chromium_->readAll().right(3000)));
    };
    QTRY_VERIFY2_WITH_TIMEOUT(status_.value("frames").toInt() > 30, qPrintable(report()), 45000);
    qInfo("browser candidates: %d, of which %d hidden behind mDNS names", browserCandidates_,
          mdnsCandidates_);
    QVERIFY(mdnsCandidates_ > 0);  // the mode real browsers run in: we connect through peer-reflexive ones
    QCOMPARE(status_.value("width").toInt(), kWidth);
    QCOMPARE(status_.value("height").toInt(), kHeight);
    QVERIFY2(status_.value("codec").toString().contains(codec, Qt::CaseInsensitive), qPrintable(report()));
    QCOMPARE(QString(zuengine::testing::sendCodec(pc_)), codec.toUpper());

    // The picture is the synthetic one: compare the quadrant colours (BT.601, limited range).
    QTRY_VERIFY_WITH_TIMEOUT(status_.value("samples").toArray().size() == 4, 5000);
    const QJsonArray samples = status_.value("samples").toArray();
    for (int q = 0; q < 4; ++q) {
        zuengine::YuvColour c = zuengine::testing::syntheticColour(q);
        const double y = 1.164 * (c.y - 16), u = c.u - 128, v = c.v - 128;
        const int expected[3] = {qBound(0, int(y + 1.596 * v), 255),
                                 qBound(0, int(y - 0.392 * u - 0.813 * v), 255),
                                 qBound(0, int(y + 2.017 * u), 255)};
        const QJsonArray rgb = samples.at(q).toArray();
        for (int k = 0; k < 3; ++k)
            QVERIFY2(std::abs(rgb.at(k).toInt() - expected[k]) < 50,
                     qPrintable(QString("quadrant %1 channel %2: %3, expected %4")
                                    .arg(q)
                                    .arg(k)
                                    .arg(rgb.at(k).toInt())
                                    .arg(expected[k])));
    }

    // Data channel: the browser created it, the engine adopted it; 17408 and 1024 bytes both ways.
    QTRY_COMPARE_WITH_TIMEOUT(ready_.load(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return received_.size() >= 2;
        }(),
        10000);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        QCOMPARE(received_.size(), size_t(2));
        QVERIFY(received_[0] == fill(17408, 7, 3));
        QVERIFY(received_[1] == fill(1024, 13, 5));
    }
    std::vector<uint8_t> big = fill(17408, 11, 1), small = fill(1024, 17, 2);
    QCOMPARE(SendDataViaDataChannel(pc_, big.data(), 17408), ZUWEBRTC_OK);
    QCOMPARE(SendDataViaDataChannel(pc_, small.data(), 1024), ZUWEBRTC_OK);
    QTRY_VERIFY2_WITH_TIMEOUT(status_.value("gotBig").toBool() && status_.value("gotSmall").toBool(),
                              qPrintable(report()), 10000);
    QCOMPARE(status_.value("badMessage").toString(), QString());
    QCOMPARE(ready_.load(), 1);

    // The browser going away is noticed.
    chromium_->kill();
    chromium_->waitForFinished(10000);
    QTRY_COMPARE_WITH_TIMEOUT(closed_.load(), 1, 10000);
}

QTEST_GUILESS_MAIN(TestBrowserPeer)
#include "tst_zuwebrtc_browser.moc"
