// Headless Chromium, phone-sized, joins shares of `zushare-cli host --synthetic` through the page
// the host serves, inside the test namespace.

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include "cdpbrowser.h"
#include "support/testsupport.h"

// Checks that print the page's state, the host's output and the browser's on failure.
#define CHECK(condition) QVERIFY2(condition, qPrintable(report()))
#define BECOMES(pageState, timeoutMs) \
    QTRY_VERIFY2_WITH_TIMEOUT(state() == pageState, qPrintable(report()), timeoutMs)

namespace {

constexpr int kWidth = 640, kHeight = 360;
const QString kNickname = QStringLiteral("网页观众");
const QString kFileName = QStringLiteral("会议 资料.bin");

struct Tool : QProcess {
    explicit Tool(const QStringList &args) { start(ZUSHARE_CLI, args); }
    ~Tool() override {
        kill();
        waitForFinished(10000);
    }
    // The first capture of the first line that matches, or "" after the time-out.
    QString waitFor(const QString &pattern, int timeoutMs) {
        const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
        QRegularExpressionMatch m;
        (void)QTest::qWaitFor([&] { return (m = re.match(read())).hasMatch(); }, timeoutMs);
        return m.hasMatch() ? m.captured(m.lastCapturedIndex()) : QString();
    }
    QString read() { return QString::fromUtf8(m_out += readAllStandardOutput()); }
    QString report() { return read() + " || " + QString::fromUtf8(readAllStandardError().right(1500)); }
    QByteArray m_out;
};

QByteArray randomBytes(int n) {
    QByteArray b(n, '\0');
    QRandomGenerator rng(20261207);
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}

}  // namespace

// One browser follows two shares step by step; a step builds on the ones before it.
class TestBrowserAttendee : public QObject {
    Q_OBJECT

    QJsonValue js(const QString &expression) { return m_browser.evaluate(expression); }
    QJsonValue byId(const QString &idAndProperty) { return js("document.getElementById('" + idAndProperty); }
    QString state() { return js("document.body.dataset.state").toString(); }
    QString notice() { return byId("notice-title').textContent").toString(); }
    QString report() {
        return QString("page state %1, notice '%2'\nhost: %3\nchromium: %4")
            .arg(state(), notice(), m_host ? m_host->report() : QString(), m_browser.output());
    }
    bool share(const QStringList &options) {
        m_host = std::make_unique<Tool>(QStringList{"host", "--synthetic", "--port", "0", "--no-discovery"} +
                                        options);
        m_signalingPort = m_host->waitFor("^share started on port (\\d+)$", 20000);
        m_webPort = m_host->waitFor("^attendee page http://\\S+:(\\d+)/$", 5000);
        m_url = QString("http://%1:%2/?port=%3").arg(testsupport::addressA(), m_webPort, m_signalingPort);
        return !m_signalingPort.isEmpty() && !m_webPort.isEmpty();
    }

    CdpBrowser m_browser;
    std::unique_ptr<Tool> m_host;
    QString m_signalingPort, m_webPort, m_url, m_memberId;
    QTemporaryDir m_work;
    const QByteArray m_content = randomBytes(16384 * 6 + 4321);  // six chunks and a short seventh

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        if (CdpBrowser::chromiumPath().isEmpty())
            QSKIP("Debian's chromium package is not installed");
        QString error;
        QVERIFY2(m_browser.launch(390, 844, &error), qPrintable(error));
    }

    void waitsWhileTheShareIsFullThenJoinsAndWatches() {
        QFile sent(m_work.filePath(kFileName));
        QVERIFY(sent.open(QIODevice::WriteOnly) && sent.write(m_content) == m_content.size() && sent.flush());
        QVERIFY(QDir().mkpath(m_work.filePath("browser")));
        CHECK(share({"--size", QString("%1x%2").arg(kWidth).arg(kHeight), "--fps", "30", "--web-port", "0",
                     "--send", sent.fileName()}));
        // Five attendees already there: the share is full.
        std::vector<std::unique_ptr<QWebSocket>> others;
        int greeted = 0;
        for (int i = 0; i < 5; ++i) {
            others.push_back(std::make_unique<QWebSocket>());
            connect(others.back().get(), &QWebSocket::textMessageReceived, this,
                    [&greeted](const QString &t) { greeted += t.contains("\"data_type\":\"id\""); });
            others.back()->open(QUrl("ws://127.0.0.1:" + m_signalingPort + "/zu_remote_ctrl"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(greeted, 5, 10000);
        const QJsonObject phone{{"width", 390}, {"height", 844}, {"deviceScaleFactor", 2}, {"mobile", true}};
        QVERIFY(!m_browser.call("Emulation.setDeviceMetricsOverride", phone).contains("error"));
        const QJsonObject downloads{{"behavior", "allow"}, {"downloadPath", m_work.filePath("browser")}};
        QVERIFY(!m_browser.call("Browser.setDownloadBehavior", downloads, false).contains("error"));
        QVERIFY2(m_browser.navigate(m_url), qPrintable(m_browser.output()));
        QCOMPARE(state(), QString("join"));
        QCOMPARE(byId("nickname').value").toString(), QString());
        // Typed as a user types it.
        byId("nickname').focus()");
        m_browser.call("Input.insertText", {{"text", kNickname}});
        QVERIFY(byId("join-button').click(), true").toBool());
        BECOMES("full", 10000);
        QCOMPARE(notice(), QStringLiteral("共享人数已满"));
        // Room again: the page retries on its own and joins.
        others.clear();
        BECOMES("watching", 30000);
        m_memberId = m_host->waitFor("^member joined (\\{[0-9a-f-]+\\}) " + kNickname + " desktop$", 10000);
        CHECK(!m_memberId.isEmpty());
        // The host's picture fills the window.
        QTRY_COMPARE_WITH_TIMEOUT(byId("screen').videoWidth").toInt(), kWidth, 10000);
        QCOMPARE(byId("screen').videoHeight").toInt(), kHeight);
        QCOMPARE(byId("screen').getBoundingClientRect().width").toInt(), 390);
        QCOMPARE(byId("screen').getBoundingClientRect().height").toInt(), 844);
    }

    void savesTheHostsFileByteForByte() {
        QVERIFY(!m_memberId.isEmpty());
        // The host sends its file to the new member; the page checks every chunk and saves it.
        CHECK(!m_host->waitFor("^transfer done " + QRegularExpression::escape(m_memberId), 60000).isEmpty());
        const QString saved = QDir(m_work.filePath("browser")).filePath(kFileName);
        QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo(saved).size() == m_content.size(), qPrintable(report()), 20000);
        QCOMPARE(testsupport::readFile(saved), m_content);
        QCOMPARE(js("document.querySelector('#download-list li').dataset.state").toString(), QString("done"));
    }

    void saysThatTheShareEnded() {
        QVERIFY(!m_memberId.isEmpty());
        m_host->terminate();
        QVERIFY(m_host->waitForFinished(15000));
        BECOMES("ended", 10000);
        QCOMPARE(notice(), QStringLiteral("共享已结束"));
        QVERIFY(!byId("rejoin').hidden").toBool());
        QTest::qWait(4000);  // nothing to wait for: what is checked is that the page does not retry
        QCOMPARE(state(), QString("ended"));
    }

    // The next share serves the page from the same address, where the page remembers the nickname.
    void waitsToBeLetInThenHearsTheHost() {
        QVERIFY(!m_memberId.isEmpty());
        CHECK(share({"--size", "320x240", "--web-port", m_webPort, "--admit", "ask", "--synthetic-sound"}));
        QVERIFY(m_browser.navigate(m_url));
        QCOMPARE(byId("nickname').value").toString(), kNickname);
        QVERIFY(byId("join-button').click(), true").toBool());
        CHECK(!m_host->waitFor("^waiting \\S+ " + kNickname + " \\S+ browser \\(1 waiting\\): admit", 20000)
                   .isEmpty());
        BECOMES("admission", 10000);
        QCOMPARE(byId("notice-text').textContent").toString(), QStringLiteral("正在等待主持人允许你观看…"));
        QTest::qWait(2000);  // nothing to wait for: what is checked is that no picture comes
        QCOMPARE(byId("screen').videoWidth").toInt(), 0);
        QCOMPARE(state(), QString("admission"));
        m_host->write("y\n");
        BECOMES("watching", 20000);
        QTRY_COMPARE_WITH_TIMEOUT(byId("screen').videoWidth").toInt(), 320, 10000);
        // The sound waits for a tap; then its strongest frequency is the host's tone.
        QTRY_VERIFY_WITH_TIMEOUT(!byId("sound').hidden").toBool(), 10000);
        QVERIFY(byId("hear').paused").toBool());
        QVERIFY(byId("sound').click(), true").toBool());
        QTRY_VERIFY(!byId("hear').paused").toBool());
        const double peak = js(R"((async () => {
            const ctx = new AudioContext(), analyser = ctx.createAnalyser();
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
};

QTEST_GUILESS_MAIN(TestBrowserAttendee)
#include "tst_browserattendee.moc"
