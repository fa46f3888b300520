// Headless Chromium in the test namespace: the page's file receiver fed with packages made by the
// product's transfer code, then, phone-sized, joining shares of `zushare-cli host --synthetic`.
#include <QJsonArray>
#include <QWebSocket>
#include <QtTest>

#include <cstring>
#include <memory>

#include "cdpbrowser.h"
#include "support/testsupport.h"
#include "transfer/transferprotocol.h"
#include "web/attendeepageserver.h"

using namespace transferprotocol;

// Checks that print the page's state, the host's output and the browser's on failure.
#define CHECK(condition) QVERIFY2(condition, qPrintable(report()))
#define BECOMES(pageState, timeoutMs) \
    QTRY_VERIFY2_WITH_TIMEOUT(state() == pageState, qPrintable(report()), timeoutMs)

namespace {

const QString kNickname = QStringLiteral("网页观众"), kFileName = QStringLiteral("会议 资料.bin");

struct Tool : QProcess {
    explicit Tool(const QStringList &args) { start(ZUSHARE_CLI, args); }
    ~Tool() override {
        kill();
        waitForFinished(10000);
    }
    // The last capture of the first line that matches, or "" after the time-out.
    QString waitFor(const QString &pattern, int timeoutMs) {
        const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
        QRegularExpressionMatch m;
        (void)QTest::qWaitFor([&] { return (m = re.match(read())).hasMatch(); }, timeoutMs);
        return m.hasMatch() ? m.captured(m.lastCapturedIndex()) : QString();
    }
    QString read() { return QString::fromUtf8(out_ += readAllStandardOutput()); }
    QString report() { return read() + " || " + QString::fromUtf8(readAllStandardError().right(1500)); }
    QByteArray out_;
};

// A control package as a sender sends it, or with kReceiveResponse as a receiver answers.
QByteArray send(const std::string &data, const std::string &name, int64_t n, const char *t = kSendRequest) {
    QByteArray p(kControlPackageSize, '\0');
    writeControl(reinterpret_cast<uint8_t *>(p.data()), t, data, name, n);
    return p;
}

QByteArray dataPackage(const QByteArray &chunk, bool damaged = false) {
    QByteArray p(kDataPackageSize, '\0');
    std::memcpy(p.data() + kHeaderSize, chunk.constData(), size_t(chunk.size()));
    sealData(reinterpret_cast<uint8_t *>(p.data()), uint32_t(chunk.size()));
    if (damaged)
        p.data()[kHeaderSize + chunk.size() / 2] ^= 0x40;
    return p;
}

QByteArray bytes(int n, quint32 seed) {  // random but for up to three zero bytes at the end
    QByteArray b(n, '\0');
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(b.data()), n / 4);
    return b;
}

// Feeds a fresh receiver the packages (base64) and gives back its answers, its events and what it saved.
const char kFeed[] = R"((async (packages) => {
    const answers = [], events = [], say = (e) => events.push(e), b64 = a => btoa(String.fromCharCode(...a));
    let blob;
    const receiver = new ZuTransfer.FileReceiver((p) => answers.push(b64(p)), {
        begin: (f) => say('begin ' + f.length), progress: (f) => say('progress ' + f.received),
        complete: (f, b) => { say('complete ' + f.saveAs + ' ' + b.size); blob = b; },
        fail: (f, reason) => say('fail ' + reason) });
    for (const p of packages)
        receiver.onPackage(Uint8Array.from(atob(p), c => c.charCodeAt(0)).buffer);
    return { answers, events, saved: blob && b64(new Uint8Array(await blob.arrayBuffer())) };
})(%1))";

}  // namespace

// One browser; after the receiver it follows two shares step by step, each step building on the last.
class TestBrowserAttendee : public QObject {
    Q_OBJECT

    QJsonValue js(const QString &expression) { return browser_.evaluate(expression); }
    QJsonValue byId(const QString &idAndProperty) { return js("document.getElementById('" + idAndProperty); }
    QString state() { return js("document.body.dataset.state").toString(); }
    QString notice() { return byId("notice-title').textContent").toString(); }
    QString report() {
        return QString("page state %1, notice '%2'\nhost: %3\nchromium: %4")
            .arg(state(), notice(), host_ ? host_->report() : QString(), browser_.output());
    }
    bool share(const QStringList &options) {
        host_ = std::make_unique<Tool>(QStringList{"host", "--synthetic", "--port", "0", "--no-discovery"} +
                                       options);
        signalingPort_ = host_->waitFor("^share started on port (\\d+)$", 20000);
        webPort_ = host_->waitFor("^attendee page http://\\S+:(\\d+)/$", 5000);
        url_ = QString("http://%1:%2/?port=%3").arg(testsupport::addressA(), webPort_, signalingPort_);
        return !signalingPort_.isEmpty() && !webPort_.isEmpty();
    }
    // Opens the share's page, where the nickname is the remembered one, types one if none, and joins.
    bool join(const QString &remembered) {
        if (!browser_.navigate(url_) || state() != "join" || byId("nickname').value") != remembered)
            return false;
        if (remembered.isEmpty()) {  // typed as a user types it
            byId("nickname').focus()");
            browser_.call("Input.insertText", {{"text", kNickname}});
        }
        return byId("join-button').click(), true").toBool();
    }

    CdpBrowser browser_;
    AttendeePageServer server_{0};  // the page alone, for its receiver
    std::unique_ptr<Tool> host_;
    QString signalingPort_, webPort_, url_, memberId_;
    QTemporaryDir work_;
    const QByteArray content_ = bytes(16384 * 6 + 4321, 20261207);  // six chunks and a short seventh

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        if (CdpBrowser::chromiumPath().isEmpty())
            QSKIP("Debian's chromium package is not installed");
        QString error;
        QVERIFY2(browser_.launch(390, 844, &error), qPrintable(error));
        QVERIFY(server_.start() && browser_.navigate(server_.url(testsupport::addressA())));
    }

    // The page in the browser's language: Chinese where it prefers Chinese, else English.
    void speaksTheBrowsersLanguage_data() {
        QTest::addColumn<QString>("languages");  // as Accept-Language gives them
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QStringList>("texts");  // title, heading, join button, nickname's placeholder
        const QStringList chinese{"观看共享", "加入共享", "加入", "昵称"};
        const QStringList english{"Watch share", "Join the share", "Join", "Nickname"};
        QTest::newRow("Chinese") << "zh-CN"
                                 << "zh-CN" << chinese;
        QTest::newRow("English") << "en-US"
                                 << "en" << english;
        QTest::newRow("neither") << "de-DE,fr"
                                 << "en" << english;
        QTest::newRow("Chinese after French") << "fr-FR,zh-TW"
                                              << "zh-CN" << chinese;
        QTest::newRow("English before Chinese") << "en-GB,zh-CN"
                                                << "en" << english;
    }
    void speaksTheBrowsersLanguage() {
        QFETCH(QString, languages);
        QFETCH(QString, lang);
        QFETCH(QStringList, texts);
        CdpBrowser browser;
        QString error;
        QVERIFY2(browser.launch(390, 844, &error, languages), qPrintable(error));
        const QJsonObject phone{{"width", 390}, {"height", 844}, {"deviceScaleFactor", 1}, {"mobile", true}};
        QVERIFY(!browser.call("Emulation.setDeviceMetricsOverride", phone).contains("error"));
        QVERIFY(browser.navigate(server_.url(testsupport::addressA())));
        QCOMPARE(browser.evaluate("document.documentElement.lang").toString(), lang);
        QStringList shown;
        for (const char *text : {"document.title", "document.getElementById('notice-title').textContent",
                                 "document.getElementById('join-button').textContent",
                                 "document.getElementById('nickname').placeholder"})
            shown << browser.evaluate(text).toString();
        QCOMPARE(shown, texts);
        const QString visible = browser.evaluate("document.body.innerText").toString();
        QVERIFY2(visible.contains(QRegularExpression("\\p{Han}")) == lang.startsWith("zh"),
                 qPrintable(visible));
        const QString shots = qEnvironmentVariable("ZU_SCREENSHOT_DIR");  // the guide's pictures
        if (!shots.isEmpty() && !languages.contains(',')) {
            const QByteArray png = QByteArray::fromBase64(
                browser.call("Page.captureScreenshot").value("data").toString().toLatin1());
            QFile file(QDir(shots).filePath("web-" + lang.left(2) + ".png"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png) == png.size());
        }
    }

    // The answers the receiver sends (their kinds) and the events it tells the page, '|' between them.
    void receives_data() {
        QTest::addColumn<QByteArrayList>("packages");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QByteArray>("saved");
        const auto row = [](const char *name, const QByteArrayList &packages, const char *answers,
                            const char *events, const QByteArray &saved = {}) {
            QTest::newRow(name) << packages << QString(answers).split('|', Qt::SkipEmptyParts)
                                << QString(events).split('|', Qt::SkipEmptyParts) << saved;
        };
        // A damaged chunk is asked for again and stored once; the name is saved without its folder.
        const char *name = "报告 ü/x.bin";
        const QByteArray file = bytes(16385, 1), last = file.mid(16384);
        row("repeated chunk",
            {send(kBegin, name, 16385), dataPackage(file.left(16384)), dataPackage(last, true),
             dataPackage(last), send(kComplete, name, 16385)},
            "begin|continue|repeat|continue|complete",
            "begin 16385|progress 16384|progress 16385|complete x.bin 16385", file);
        // After five damaged copies the file is abandoned and takes nothing more.
        QByteArrayList damaged{send(kBegin, "a.txt", 5000)};
        for (int i = 0; i < 5; ++i)
            damaged << dataPackage(bytes(5000, 2), true);
        row("five damaged copies", damaged << dataPackage(bytes(5000, 2)) << send(kComplete, "a.txt", 5000),
            "begin|repeat|repeat|repeat|repeat", "begin 5000|fail damaged");
        row("empty file", {send(kBegin, "empty", 0), send(kComplete, "empty", 0)}, "begin|complete",
            "begin 0|complete empty 0");
        QByteArray noLength(kControlPackageSize, '\0'), otherTag = send(kBegin, "x", 1);
        std::memcpy(noLength.data(), "ctrl", 5);
        const char json[] = "{\"data\":\"begin\",\"name\":\"x\",\"type\":\"send_req\"}\n";
        std::memcpy(noLength.data() + kJsonOffset, json, sizeof json - 1);
        std::memcpy(otherTag.data(), "ctrX", 4);
        row("outside a file",
            {dataPackage(bytes(100, 3)), noLength, otherTag, send(kBegin, "x", -1),
             send(kBegin, "x", 1, kReceiveResponse)},
            "", "");
        // A chunk length whose package would exceed 20480 bytes is not read, nor one not in digits.
        QByteArray tooLong = dataPackage(bytes(100, 4)), notDigits = tooLong;
        std::memcpy(tooLong.data() + kLengthOffset, "19457", 5);
        std::memcpy(notDigits.data() + kLengthOffset, "1x0", 3);
        row("bad chunk lengths",
            {send(kBegin, "big", 30000), tooLong, notDigits, send(kCancel, "big", 30000)}, "begin",
            "begin 30000|fail cancelled");
        // The complete of a short file is not confirmed.
        row("short file",
            {send(kBegin, "short", 4000), dataPackage(bytes(3000, 5)), send(kComplete, "short", 4000)},
            "begin|continue", "begin 4000|progress 3000|fail incomplete");
        row("chunk beyond the length", {send(kBegin, "long", 100), dataPackage(bytes(101, 6))}, "begin",
            "begin 100|fail too long");
    }

    void receives() {
        QFETCH(QByteArrayList, packages);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, events);
        QFETCH(QByteArray, saved);
        QJsonArray encoded;
        for (const QByteArray &p : packages)
            encoded << QString::fromLatin1(p.toBase64());
        const QJsonObject got = js(QString(kFeed).arg(QString(QJsonDocument(encoded).toJson()))).toObject();
        ControlMessage file;  // answers name the file of the first package
        readControl(reinterpret_cast<const uint8_t *>(packages[0].constData()), size_t(packages[0].size()),
                    file);
        QStringList want;  // byte for byte what the desktop receiver writes
        for (const QString &answer : answers)
            want << send(answer.toStdString(), file.name, file.length, kReceiveResponse).toBase64();
        QCOMPARE(got.value("answers").toVariant().toStringList(), want);
        QCOMPARE(got.value("events").toVariant().toStringList(), events);
        QCOMPARE(QByteArray::fromBase64(got.value("saved").toString().toLatin1()), saved);
    }

    void waitsWhileTheShareIsFullThenJoinsAndWatches() {
        QFile sent(work_.filePath(kFileName));
        QVERIFY(sent.open(QIODevice::WriteOnly) && sent.write(content_) == content_.size() && sent.flush());
        QVERIFY(QDir().mkpath(work_.filePath("browser")));
        CHECK(share({"--size", "640x360", "--fps", "30", "--web-port", "0", "--send", sent.fileName()}));
        // Five attendees already there: the share is full.
        auto others = std::make_unique<QWebSocket[]>(5);
        int greeted = 0;
        for (int i = 0; i < 5; ++i) {
            connect(&others[i], &QWebSocket::textMessageReceived, this,
                    [&greeted](const QString &t) { greeted += t.contains("\"data_type\":\"id\""); });
            others[i].open(QUrl("ws://127.0.0.1:" + signalingPort_ + "/zu_remote_ctrl"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(greeted, 5, 10000);
        const QJsonObject phone{{"width", 390}, {"height", 844}, {"deviceScaleFactor", 2}, {"mobile", true}};
        QVERIFY(!browser_.call("Emulation.setDeviceMetricsOverride", phone).contains("error"));
        const QJsonObject downloads{{"behavior", "allow"}, {"downloadPath", work_.filePath("browser")}};
        QVERIFY(!browser_.call("Browser.setDownloadBehavior", downloads, false).contains("error"));
        CHECK(join(QString()));
        BECOMES("full", 10000);
        QCOMPARE(notice(), QStringLiteral("共享人数已满"));
        // Room again: the page retries on its own and joins.
        others.reset();
        BECOMES("watching", 30000);
        memberId_ = host_->waitFor("^member joined (\\{[0-9a-f-]+\\}) " + kNickname + " desktop$", 10000);
        CHECK(!memberId_.isEmpty());
        // The host's picture fills the window.
        QTRY_COMPARE_WITH_TIMEOUT(byId("screen').videoWidth").toInt(), 640, 10000);
        QCOMPARE(byId("screen').videoHeight").toInt(), 360);
        const QString rect = "screen').getBoundingClientRect()";
        QVERIFY(byId(rect + ".width").toInt() == 390 && byId(rect + ".height").toInt() == 844);
    }

    // The host sends its file to the new member; the page checks every chunk and saves it.
    void savesTheHostsFileByteForByte() {
        QVERIFY(!memberId_.isEmpty());
        CHECK(!host_->waitFor("^transfer done " + QRegularExpression::escape(memberId_), 60000).isEmpty());
        const QString saved = QDir(work_.filePath("browser")).filePath(kFileName);
        QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo(saved).size() == content_.size(), qPrintable(report()), 20000);
        QCOMPARE(testsupport::readFile(saved), content_);
        QCOMPARE(js("document.querySelector('#download-list li').dataset.state").toString(), QString("done"));
    }

    void saysThatTheShareEnded() {
        QVERIFY(!memberId_.isEmpty());
        host_->terminate();
        QVERIFY(host_->waitForFinished(15000));
        BECOMES("ended", 10000);
        QVERIFY(notice() == QStringLiteral("共享已结束") && !byId("rejoin').hidden").toBool());
        QTest::qWait(4000);  // nothing to wait for: what is checked is that the page does not retry
        QCOMPARE(state(), QString("ended"));
    }

    // The next share serves the page from the same address, where the page remembers the nickname.
    void waitsToBeLetInThenHearsTheHost() {
        QVERIFY(!memberId_.isEmpty());
        CHECK(share({"--size", "320x240", "--web-port", webPort_, "--admit", "ask", "--synthetic-sound"}));
        CHECK(join(kNickname));
        CHECK(!host_->waitFor("^waiting \\S+ " + kNickname + " \\S+ browser \\(1 waiting\\): admit", 20000)
                   .isEmpty());
        BECOMES("admission", 10000);
        QTest::qWait(2000);  // nothing to wait for: what is checked is that no picture comes
        QVERIFY(byId("screen').videoWidth").toInt() == 0 && state() == "admission");
        host_->write("y\n");
        BECOMES("watching", 20000);
        QTRY_COMPARE_WITH_TIMEOUT(byId("screen').videoWidth").toInt(), 320, 10000);
        // The sound waits for a tap; then its strongest frequency is the host's tone.
        QTRY_VERIFY_WITH_TIMEOUT(!byId("sound').hidden").toBool(), 10000);
        QVERIFY(byId("hear').paused").toBool() && byId("sound').click(), true").toBool());
        QTRY_VERIFY(!byId("hear').paused").toBool());
        const QJsonValue peak = js(R"((async () => {
            const ctx = new AudioContext(), analyser = ctx.createAnalyser(), level = new Float32Array(4096);
            analyser.fftSize = 8192;
            ctx.createMediaStreamSource(document.getElementById('hear').srcObject).connect(analyser);
            await new Promise((done) => setTimeout(done, 1500));
            analyser.getFloatFrequencyData(level);
            const above = level.subarray(1);
            return (1 + above.indexOf(Math.max(...above))) * ctx.sampleRate / analyser.fftSize;
        })())");
        QVERIFY2(std::abs(peak.toDouble() - 440) < 15, qPrintable(peak.toVariant().toString() + " Hz"));
        browser_.close();
    }
};

QTEST_GUILESS_MAIN(TestBrowserAttendee)
#include "tst_browserattendee.moc"
