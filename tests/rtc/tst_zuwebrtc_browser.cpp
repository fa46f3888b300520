// Headless Chromium as an attendee: it offers (receive-only video and one data channel), the engine
// answers with the screen stream. The test relays the signaling over DevTools; the media goes over the
// test namespace's veth pair, with Chromium's default mDNS hiding of its addresses.

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <mutex>

#include "rtc/gst/zuwebrtc_testing.h"
#include "rtc/zuwebrtc.h"
#include "support/testsupport.h"
#include "web/cdpbrowser.h"

namespace {

constexpr int kWidth = 640, kHeight = 360;

std::vector<uint8_t> fill(size_t n, int a, int b) {
    std::vector<uint8_t> m(n);
    for (size_t i = 0; i < n; ++i)
        m[i] = static_cast<uint8_t>((i * a + b) & 255);
    return m;
}

// The answering engine peer; its callbacks come on the engine's own threads.
struct EnginePeer {
    const int pc = CreatePeerConnection(0, 0, 0, 0, 0);
    std::mutex mutex;
    QJsonArray toPage;
    std::atomic<int> ready{0}, closed{0}, good{0}, bad{0};
    uint8_t buffer[ZUWEBRTC_RECEIVE_BUFFER];

    static EnginePeer &of(void *u) { return *static_cast<EnginePeer *>(u); }
    void post(const QJsonObject &o) {
        std::lock_guard<std::mutex> lock(mutex);
        toPage.append(o);
    }
    QJsonArray take() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(toPage, {});
    }
    static void onSdp(const char *t, const char *s, void *u, int) { of(u).post({{"type", t}, {"sdp", s}}); }
    static void onIce(const char *c, int m, const char *mid, void *u, int) {
        of(u).post({{"candidate", c}, {"mline", m}, {"mid", mid}});
    }
    static void onReady(void *u, int) { of(u).ready++; }
    static void onClosed(void *u, int) { of(u).closed++; }
    // The page sends 17408 bytes, then 1024, and nothing more.
    static void onData(uint8_t *data, int length, void *u) {
        EnginePeer &e = of(u);
        const int k = e.good + e.bad;
        const bool right =
            std::vector<uint8_t>(data, data + length) == (k ? fill(1024, 13, 5) : fill(17408, 7, 3));
        (k < 2 && right ? e.good : e.bad)++;
    }
    EnginePeer() {
        AddStream(pc, 1, 0);
        AddDataChannel(pc);
        RegisterOnLocalSdpReadytoSend(pc, onSdp, this, pc);
        RegisterOnIceCandiateReadytoSend(pc, onIce, this, pc);
        RegisterOnLocalDataChannelReady(pc, onReady, this, pc);
        RegisterOnPeerClosed(pc, onClosed, this, pc);
        RegisterOnDataFromDataChannelReady(pc, onData, buffer, this, pc);
    }
    ~EnginePeer() { ClosePeerConnection(pc); }
};

}  // namespace

class TestBrowserPeer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { zuengine::testing::useSyntheticPicture(kWidth, kHeight, 30); }

    void browserAttendeeReceivesTheScreen_data() {
        QTest::addColumn<QString>("codec");
        QTest::addColumn<bool>("crash");
        QTest::newRow("vp8, the page closes its channel") << "vp8" << false;
        QTest::newRow("h264, the browser crashes") << "h264" << true;
    }
    void browserAttendeeReceivesTheScreen() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QFETCH(QString, codec);
        QFETCH(bool, crash);
        if (CdpBrowser::chromiumPath().isEmpty())
            QSKIP("Debian's chromium package is not installed");
        CdpBrowser browser;
        QString error;
        QVERIFY2(browser.launch(kWidth, kHeight, &error), qPrintable(error));
        QVERIFY(browser.navigate(QUrl::fromLocalFile(ZUSHARE_BROWSER_PAGE).toString()));
        const QByteArray offer = browser.evaluate("offer('" + codec + "')").toString().toUtf8();
        QVERIFY2(offer.startsWith("v=0"), qPrintable(browser.output()));
        EnginePeer engine;
        QCOMPARE(SetRemoteDescription(engine.pc, "offer", offer.constData()), ZUWEBRTC_OK);
        QCOMPARE(CreateAnswer(engine.pc), ZUWEBRTC_OK);
        // Hands the engine's news to the page and the page's candidates to the engine.
        QJsonObject status;
        int hidden = 0;
        const auto pump = [&] {
            const QJsonDocument out(engine.take());
            status = browser.evaluate("pump(" + out.toJson(QJsonDocument::Compact) + ")").toObject();
            for (const QJsonValue c : status.value("candidates").toArray()) {
                const QByteArray line = c["candidate"].toString().toUtf8();
                hidden += line.contains(".local ");
                AddIceCandidate(engine.pc, line.constData(), c["mline"].toInt(),
                                qPrintable(c["mid"].toString()));
            }
            return status;
        };
        const auto report = [&] { return QJsonDocument(status).toJson() + browser.output(); };
        QTRY_VERIFY2_WITH_TIMEOUT(pump().value("frames").toInt() > 30, qPrintable(report()), 45000);
        QVERIFY(hidden > 0);  // the mode real browsers run in: we connect through peer-reflexive candidates
        QVERIFY(status.value("width").toInt() == kWidth && status.value("height").toInt() == kHeight);
        QTRY_VERIFY2_WITH_TIMEOUT(pump().value("codec").toString().contains(codec, Qt::CaseInsensitive),
                                  qPrintable(report()), 5000);
        QCOMPARE(QString(zuengine::testing::sendCodec(engine.pc)), codec.toUpper());
        // The synthetic picture's quadrant colours in RGB (BT.601, limited range).
        QTRY_VERIFY_WITH_TIMEOUT(pump().value("samples").toArray().size() == 4, 5000);
        const QJsonArray s = status.value("samples").toArray();
        for (int q = 0; q < 4; ++q) {
            const zuengine::YuvColour c = zuengine::testing::syntheticColour(q);
            const double y = 1.164 * (c.y - 16), u = c.u - 128, v = c.v - 128;
            const double rgb[3] = {y + 1.596 * v, y - 0.392 * u - 0.813 * v, y + 2.017 * u};
            for (int k = 0; k < 3; ++k)
                QVERIFY2(std::abs(s[q][k].toInt() - qBound(0, int(rgb[k]), 255)) < 50, qPrintable(report()));
        }
        // The browser made the data channel and the engine adopted it: 17408 and 1024 bytes both ways.
        QTRY_VERIFY_WITH_TIMEOUT(engine.ready == 1 && engine.good == 2, 10000);
        const std::vector<uint8_t> big = fill(17408, 11, 1), small = fill(1024, 17, 2);
        QCOMPARE(SendDataViaDataChannel(engine.pc, big.data(), 17408), ZUWEBRTC_OK);
        QCOMPARE(SendDataViaDataChannel(engine.pc, small.data(), 1024), ZUWEBRTC_OK);
        QTRY_VERIFY2_WITH_TIMEOUT(pump().value("gotBig").toBool() && status.value("gotSmall").toBool(),
                                  qPrintable(report()), 10000);
        QVERIFY2(status.value("badMessage").toString().isEmpty() && engine.bad == 0 && engine.ready == 1,
                 qPrintable(report()));
        // The browser leaving is noticed: from the channel's closing while its media still flows, or by
        // the silence when it vanishes without a word.
        if (crash)
            browser.call("Browser.crash", {}, false, 5000);
        else
            browser.evaluate("channel.close()");
        QTRY_COMPARE_WITH_TIMEOUT(engine.closed.load(), 1, 10000);
    }
};

QTEST_GUILESS_MAIN(TestBrowserPeer)
#include "tst_zuwebrtc_browser.moc"
