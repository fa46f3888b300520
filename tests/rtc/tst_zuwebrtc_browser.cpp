// Headless Chromium offers as an attendee (mDNS-hidden addresses, signaling relayed over DevTools), the
// engine answers with the screen stream over the test namespace's veth pair.

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "enginepair.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "support/testsupport.h"
#include "web/cdpbrowser.h"

using enginetest::fill;
constexpr int kWidth = 640, kHeight = 360;

class TestBrowserPeer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ShareSyntheticPicture(kWidth, kHeight, 30); }

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
        // The answering engine peer, without another endpoint: its answer and candidates go to the page.
        enginetest::Endpoint engine;
        engine.pc = CreatePeerConnection(0, 0, 0, 0, 0);
        AddStream(engine.pc, 1, 0);
        AddDataChannel(engine.pc);
        engine.registerAll();
        QCOMPARE(SetRemoteDescription(engine.pc, "offer", offer.constData()), ZUWEBRTC_OK);
        QCOMPARE(CreateAnswer(engine.pc), ZUWEBRTC_OK);
        QJsonObject status;
        int hidden = 0;
        const auto pump = [&] {
            QJsonArray out;
            for (const std::string &sdp : engine.take(engine.sdps))
                out.append(QJsonObject{{"type", QString::fromStdString(sdp).section('\n', 0, 0)},
                                       {"sdp", QString::fromStdString(sdp).section('\n', 1)}});
            for (const auto &c : engine.take(engine.heldCandidates))
                out.append(QJsonObject{{"candidate", QString::fromStdString(c.first)}, {"mline", c.second}});
            status = browser.evaluate("pump(" + QJsonDocument(out).toJson(QJsonDocument::Compact) + ")")
                         .toObject();
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
        QTRY_VERIFY_WITH_TIMEOUT(engine.ready == 1 && engine.copy(engine.messages).size() >= 2, 10000);
        QVERIFY(engine.copy(engine.messages) ==
                (std::vector<std::vector<uint8_t>>{fill(17408, 7, 3), fill(1024, 13, 5)}));
        for (const std::vector<uint8_t> &m : {fill(17408, 11, 1), fill(1024, 17, 2)})
            QCOMPARE(SendDataViaDataChannel(engine.pc, m.data(), int(m.size())), ZUWEBRTC_OK);
        QTRY_VERIFY2_WITH_TIMEOUT(pump().value("gotBig").toBool() && status.value("gotSmall").toBool(),
                                  qPrintable(report()), 10000);
        QVERIFY2(status.value("badMessage").toString().isEmpty() && !engine.badBuffer && engine.ready == 1 &&
                     engine.copy(engine.messages).size() == 2,
                 qPrintable(report()));
        // Leaving is noticed: by the channel's closing while media flows, or by the silence of a crash.
        if (crash)
            browser.call("Browser.crash", {}, false, 5000);
        else
            browser.evaluate("channel.close()");
        QTRY_COMPARE_WITH_TIMEOUT(engine.closed.load(), 1, 10000);
    }
};

QTEST_GUILESS_MAIN(TestBrowserPeer)
#include "tst_zuwebrtc_browser.moc"
