// A phone-sized headless Chromium joins a share of `zushare-cli host --synthetic` through the page
// the host serves: it waits while the share is full, watches the synthetic picture, is listed as a
// member, saves the file the host sends byte for byte, watches beside a desktop attendee, and says
// that the share ended when the host quits; with a host that asks before someone watches, it says
// that it waits and gets no picture until the host lets it in, and then hears the host's tone once
// tapped for sound. Everything runs inside the test namespace.

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include "cdpbrowser.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "support/testsupport.h"

namespace {

constexpr int kWidth = 640, kHeight = 360;
const QString kNickname = QStringLiteral("网页观众");
const QString kFileName = QStringLiteral("会议 资料.bin");

// A tool process whose standard output is kept line by line.
class Tool {
public:
    bool start(const QStringList &args) {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(ZUSHARE_CLI, args);
        return m_process.waitForStarted(10000);
    }
    QStringList lines() {
        m_buffer += m_process.readAllStandardOutput();
        m_errors += m_process.readAllStandardError();
        return QString::fromUtf8(m_buffer).split('\n', Qt::SkipEmptyParts);
    }
    // The first capture of the first line that matches, or "" after the time-out.
    QString waitFor(const QString &pattern, int timeoutMs) {
        const QRegularExpression re(pattern);
        QElapsedTimer clock;
        clock.start();
        do {
            for (const QString &line : lines()) {
                const auto m = re.match(line);
                if (m.hasMatch())
                    return m.lastCapturedIndex() >= 1 ? m.captured(1) : line;
            }
            QTest::qWait(50);
        } while (clock.elapsed() < timeoutMs);
        return {};
    }
    QString report() { return lines().join(" | ") + " || " + QString::fromUtf8(m_errors.right(1500)); }
    void write(const QByteArray &line) { m_process.write(line + "\n"); }
    void terminate() { m_process.terminate(); }
    bool waitForFinished(int ms) { return m_process.waitForFinished(ms); }
    ~Tool() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

private:
    QProcess m_process;
    QByteArray m_buffer, m_errors;
};

QByteArray randomBytes(int n) {
    QByteArray b(n, '\0');
    QRandomGenerator rng(20261207);
    for (int i = 0; i < n; ++i)
        b[i] = char(rng.bounded(256));
    return b;
}

}  // namespace

class TestBrowserAttendee : public QObject {
    Q_OBJECT

private slots:
    void phoneBrowserJoinsWatchesAndReceivesAFile();
    void waitsToBeLetInThenHearsTheHost();

private:
    QString state() { return m_browser.evaluate("document.body.dataset.state").toString(); }
    QString report(Tool &host) {
        return QString("page state %1, notice '%2'\nhost: %3\nchromium: %4")
            .arg(state(),
                 m_browser.evaluate("document.getElementById('notice-title').textContent").toString(),
                 host.report(), m_browser.output());
    }

    CdpBrowser m_browser;
};

void TestBrowserAttendee::phoneBrowserJoinsWatchesAndReceivesAFile() {
    ZU_REQUIRE_TEST_NAMESPACE();
    if (CdpBrowser::chromiumPath().isEmpty())
        QSKIP("Debian's chromium package is not installed");

    QTemporaryDir work;
    const QString sent = work.filePath(kFileName);
    // Six chunks and a short seventh, with bytes of every value.
    const QByteArray content = randomBytes(16384 * 6 + 4321);
    {
        QFile f(sent);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const QString browserDownloads = work.filePath("browser");
    const QString desktopDownloads = work.filePath("desktop");
    QVERIFY(QDir().mkpath(browserDownloads));

    Tool host;
    QVERIFY(host.start({"host", "--synthetic", "--size", QString("%1x%2").arg(kWidth).arg(kHeight), "--fps",
                        "30", "--port", "0", "--web-port", "0", "--no-discovery", "--send", sent}));
    const QString signalingPort = host.waitFor("^share started on port (\\d+)$", 20000);
    QVERIFY2(!signalingPort.isEmpty(), qPrintable(host.report()));
    const QString pageUrl = host.waitFor("^attendee page (http://\\S+/)$", 5000);
    QVERIFY2(!pageUrl.isEmpty(), qPrintable(host.report()));
    const QString webPort = QRegularExpression(":(\\d+)/$").match(pageUrl).captured(1);
    QVERIFY(webPort.toInt() > 0);

    // Five attendees already there: the share is full.
    std::vector<std::unique_ptr<QWebSocket>> others;
    int greeted = 0;
    for (int i = 0; i < 5; ++i) {
        others.push_back(std::make_unique<QWebSocket>());
        connect(others.back().get(), &QWebSocket::textMessageReceived, this, [&greeted](const QString &t) {
            if (t.contains("\"data_type\":\"id\""))
                ++greeted;
        });
        others.back()->open(QUrl(QString("ws://127.0.0.1:%1/zu_remote_ctrl").arg(signalingPort)));
    }
    QTRY_COMPARE_WITH_TIMEOUT(greeted, 5, 10000);

    QString error;
    QVERIFY2(m_browser.launch(390, 844, &error), qPrintable(error));
    QVERIFY(!m_browser
                 .call("Emulation.setDeviceMetricsOverride",
                       {{"width", 390}, {"height", 844}, {"deviceScaleFactor", 2}, {"mobile", true}})
                 .contains("error"));
    QVERIFY(!m_browser
                 .call("Browser.setDownloadBehavior",
                       {{"behavior", "allow"}, {"downloadPath", browserDownloads}, {"eventsEnabled", true}},
                       false)
                 .contains("error"));
    const QString url = QString("http://%1:%2/?port=%3").arg(testsupport::addressA(), webPort, signalingPort);
    QVERIFY2(m_browser.navigate(url), qPrintable(m_browser.output()));
    QCOMPARE(state(), QString("join"));
    QCOMPARE(m_browser.evaluate("document.getElementById('nickname').value").toString(), QString());

    // The nickname typed as a user types it, then the join button.
    m_browser.evaluate("document.getElementById('nickname').focus()");
    m_browser.call("Input.insertText", {{"text", kNickname}});
    QVERIFY(m_browser.evaluate("document.getElementById('join-button').click(), true").toBool());
    QTRY_VERIFY2_WITH_TIMEOUT(state() == "full", qPrintable(report(host)), 10000);
    QCOMPARE(m_browser.evaluate("document.getElementById('notice-title').textContent").toString(),
             QStringLiteral("共享人数已满"));

    // Room again: the page retries on its own and joins.
    others.clear();
    QTRY_VERIFY2_WITH_TIMEOUT(state() == "watching", qPrintable(report(host)), 30000);
    const QString memberId =
        host.waitFor("^member joined (\\{[0-9a-f-]+\\}) " + kNickname + " desktop$", 10000);
    QVERIFY2(!memberId.isEmpty(), qPrintable(host.report()));
    QCOMPARE(m_browser.evaluate("localStorage.getItem('zushare.nickname')").toString(), kNickname);

    // Full window, the host's picture.
    QTRY_COMPARE_WITH_TIMEOUT(m_browser.evaluate("document.getElementById('screen').videoWidth").toInt(),
                              kWidth, 10000);
    QCOMPARE(m_browser.evaluate("document.getElementById('screen').videoHeight").toInt(), kHeight);
    QCOMPARE(m_browser.evaluate("document.getElementById('screen').getBoundingClientRect().width").toInt(),
             390);
    QCOMPARE(m_browser.evaluate("document.getElementById('screen').getBoundingClientRect().height").toInt(),
             844);
    const QString sample = R"((() => {
        const v = document.getElementById('screen');
        const c = document.createElement('canvas');
        c.width = v.videoWidth; c.height = v.videoHeight;
        const g = c.getContext('2d', { willReadFrequently: true });
        g.drawImage(v, 0, 0);
        const w = c.width, h = c.height;
        return [[w / 4, h / 4], [3 * w / 4, h / 4], [w / 4, 3 * h / 4], [3 * w / 4, 3 * h / 4]]
            .map(([x, y]) => Array.from(g.getImageData(Math.floor(x), Math.floor(y), 1, 1).data.slice(0, 3)));
    })())";
    const QJsonArray samples = m_browser.evaluate(sample).toArray();
    QCOMPARE(samples.size(), 4);
    for (int q = 0; q < 4; ++q) {
        const zuengine::YuvColour c = zuengine::testing::syntheticColour(q);
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

    // The host sends its file to the new member; the page checks every chunk and saves it.
    QVERIFY2(!host.waitFor("^transfer done " + QRegularExpression::escape(memberId), 60000).isEmpty(),
             qPrintable(report(host)));
    const QString saved = QDir(browserDownloads).filePath(kFileName);
    QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo(saved).size() == content.size(), qPrintable(report(host)), 20000);
    QCOMPARE(testsupport::readFile(saved), content);
    QCOMPARE(m_browser.evaluate("document.querySelector('#download-list li').dataset.state").toString(),
             QString("done"));
    QCOMPARE(m_browser.evaluate("document.querySelector('#download-list progress').value").toInt(),
             content.size());

    // A desktop attendee joins and watches beside the browser; both keep their pictures.
    Tool desktop;
    QVERIFY(desktop.start({"watch", testsupport::addressA(), "--nickname", "desk", "--port", signalingPort,
                           "--downloads", desktopDownloads}));
    QVERIFY2(!host.waitFor("^member joined \\S+ desk desktop$", 15000).isEmpty(), qPrintable(host.report()));
    const QString desktopSaved = QDir(desktopDownloads).filePath(kFileName);
    QTRY_VERIFY2_WITH_TIMEOUT(
        QFileInfo(desktopSaved).size() == content.size(),
        qPrintable(QDir(desktopDownloads).entryList().join(", ") + " | " +
                   desktop.lines().filter(QRegularExpression("^(?!frames)")).join(" | ")),
        60000);
    QCOMPARE(testsupport::readFile(QDir(desktopDownloads).filePath(kFileName)), content);
    QVERIFY2(!desktop.waitFor("^frames fps=\\S+ size=640x360", 15000).isEmpty(),
             qPrintable(desktop.report()));
    const int before =
        m_browser.evaluate("document.getElementById('screen').getVideoPlaybackQuality().totalVideoFrames")
            .toInt();
    QTest::qWait(1500);
    QVERIFY(m_browser.evaluate("document.getElementById('screen').getVideoPlaybackQuality().totalVideoFrames")
                .toInt() > before + 10);
    QCOMPARE(state(), QString("watching"));
    desktop.terminate();
    QVERIFY(desktop.waitForFinished(15000));

    // The host quits: the page says so and stays there.
    host.terminate();
    QVERIFY(host.waitForFinished(15000));
    QTRY_VERIFY2_WITH_TIMEOUT(state() == "ended", qPrintable(report(host)), 10000);
    QCOMPARE(m_browser.evaluate("document.getElementById('notice-title').textContent").toString(),
             QStringLiteral("共享已结束"));
    QVERIFY(!m_browser.evaluate("document.getElementById('rejoin').hidden").toBool());
    QTest::qWait(4000);
    QCOMPARE(state(), QString("ended"));

    // The nickname is remembered for the next visit (the page comes from the browser's cache: the
    // server is gone with the share, so a fresh page server serves it again here).
    Tool again;
    QVERIFY(again.start({"host", "--synthetic", "--size", "320x240", "--port", "0", "--web-port", webPort,
                         "--no-discovery"}));
    QVERIFY2(!again.waitFor("^attendee page http", 20000).isEmpty(), qPrintable(again.report()));
    QVERIFY(m_browser.navigate(url));
    QCOMPARE(m_browser.evaluate("document.getElementById('nickname').value").toString(), kNickname);
    again.terminate();
    QVERIFY(again.waitForFinished(15000));
    m_browser.close();
}

void TestBrowserAttendee::waitsToBeLetInThenHearsTheHost() {
    ZU_REQUIRE_TEST_NAMESPACE();
    if (CdpBrowser::chromiumPath().isEmpty())
        QSKIP("Debian's chromium package is not installed");
    Tool host;
    QVERIFY(host.start({"host", "--synthetic", "--size", "320x240", "--port", "0", "--web-port", "0",
                        "--no-discovery", "--admit", "ask", "--synthetic-sound"}));
    const QString signalingPort = host.waitFor("^share started on port (\\d+)$", 20000);
    const QString pageUrl = host.waitFor("^attendee page (http://\\S+/)$", 5000);
    QVERIFY2(!signalingPort.isEmpty() && !pageUrl.isEmpty(), qPrintable(host.report()));
    QString error;
    QVERIFY2(m_browser.launch(640, 480, &error), qPrintable(error));
    const QString webPort = QRegularExpression(":(\\d+)/$").match(pageUrl).captured(1);
    QVERIFY(m_browser.navigate(
        QString("http://%1:%2/?port=%3").arg(testsupport::addressA(), webPort, signalingPort)));
    m_browser.evaluate("document.getElementById('nickname').value = 'guest'");
    QVERIFY(m_browser.evaluate("document.getElementById('join-button').click(), true").toBool());

    QVERIFY2(!host.waitFor("^waiting \\S+ guest \\S+ browser \\(1 waiting\\): admit", 20000).isEmpty(),
             qPrintable(report(host)));
    QTRY_VERIFY2_WITH_TIMEOUT(state() == "admission", qPrintable(report(host)), 10000);
    QCOMPARE(m_browser.evaluate("document.getElementById('notice-text').textContent").toString(),
             QStringLiteral("正在等待主持人允许你观看…"));
    // Nothing to wait for: what is checked is that no picture comes.
    QTest::qWait(2000);
    QCOMPARE(m_browser.evaluate("document.getElementById('screen').videoWidth").toInt(), 0);
    QCOMPARE(state(), QString("admission"));

    host.write("y");
    QTRY_VERIFY2_WITH_TIMEOUT(state() == "watching", qPrintable(report(host)), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(m_browser.evaluate("document.getElementById('screen').videoWidth").toInt(), 320,
                              10000);

    // The sound waits for a tap; then its strongest frequency is the host's tone.
    QTRY_VERIFY_WITH_TIMEOUT(!m_browser.evaluate("document.getElementById('sound').hidden").toBool(), 10000);
    QVERIFY(m_browser.evaluate("document.getElementById('hear').paused").toBool());
    QVERIFY(m_browser.evaluate("document.getElementById('sound').click(), true").toBool());
    QTRY_VERIFY(!m_browser.evaluate("document.getElementById('hear').paused").toBool());
    const double peak = m_browser
                            .evaluate(R"((async () => {
        const ctx = new AudioContext();
        const analyser = ctx.createAnalyser();
        analyser.fftSize = 8192;
        ctx.createMediaStreamSource(document.getElementById('hear').srcObject).connect(analyser);
        await new Promise((done) => setTimeout(done, 1500));
        const level = new Float32Array(analyser.frequencyBinCount);
        analyser.getFloatFrequencyData(level);
        let best = 1;
        for (let i = 2; i < level.length; ++i) if (level[i] > level[best]) best = i;
        return best * ctx.sampleRate / analyser.fftSize;
    })())")
                            .toDouble();
    QVERIFY2(std::abs(peak - 440) < 15, qPrintable(QString("strongest frequency %1 Hz").arg(peak)));
    m_browser.close();
}

QTEST_GUILESS_MAIN(TestBrowserAttendee)
#include "tst_browserattendee.moc"
