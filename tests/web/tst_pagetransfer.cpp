// The page's file receiver against the desktop program's own package layouts: packages are made
// by the product's transfer code, fed to the page's receiver in headless Chromium, and its answers
// read back with the same code.

#include <QtTest>

#include <cstring>

#include "cdpbrowser.h"
#include "support/testsupport.h"
#include "transfer/transferprotocol.h"
#include "web/attendeepageserver.h"

using namespace transferprotocol;

namespace {

QByteArray control(const std::string &type, const std::string &data, const std::string &name,
                   int64_t length) {
    QByteArray p(kControlPackageSize, '\0');
    writeControl(reinterpret_cast<uint8_t *>(p.data()), type, data, name, length);
    return p;
}

QByteArray dataPackage(const QByteArray &chunk, bool damaged = false) {
    QByteArray p(kDataPackageSize, '\0');
    std::memcpy(p.data() + kHeaderSize, chunk.constData(), size_t(chunk.size()));
    sealData(reinterpret_cast<uint8_t *>(p.data()), uint32_t(chunk.size()));
    if (damaged)
        p[kHeaderSize + chunk.size() / 2] = char(p[kHeaderSize + chunk.size() / 2] ^ 0x40);
    return p;
}

QByteArray bytes(int n, int seed) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 131 + seed * 7 + (i >> 8)) & 255);
    return b;
}

const char kSetup[] = R"((() => {
    window.zuTest = { answers: [], events: [], blobs: [] };
    zuTest.receiver = new ZuTransfer.FileReceiver((p) => {
        let s = ''; for (const b of p) s += String.fromCharCode(b);
        zuTest.answers.push(btoa(s));
    }, {
        begin: (f) => zuTest.events.push('begin ' + f.length),
        progress: (f) => zuTest.events.push('progress ' + f.received),
        complete: (f, blob) => { zuTest.events.push('complete ' + f.saveAs + ' ' + blob.size); zuTest.blobs.push(blob); },
        fail: (f, reason) => zuTest.events.push('fail ' + reason),
    });
    return true;
})())";

}  // namespace

class TestPageTransfer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void fileWithRepeatedChunk();
    void fiveDamagedCopiesEndTheFile();
    void emptyFile();
    void packagesOutsideAFileAreIgnored();
    void shortFileIsNotHandedOut();
    void chunkBeyondTheOfferedLength();

private:
    void feed(const QByteArray &package);
    QList<QByteArray> answers();
    QStringList events();
    void expectAnswer(const QByteArray &answer, const std::string &data, const std::string &name,
                      int64_t length);

    AttendeePageServer m_server{0};
    CdpBrowser m_browser;
    bool m_ready = false;
};

void TestPageTransfer::initTestCase() {
    if (!testsupport::inTestNamespace())
        QSKIP("needs the private network namespace of scripts/test.sh");
    if (CdpBrowser::chromiumPath().isEmpty())
        QSKIP("Debian's chromium package is not installed");
    QVERIFY(m_server.start());
    QString error;
    QVERIFY2(m_browser.launch(800, 600, &error), qPrintable(error));
    QVERIFY(m_browser.navigate(m_server.url(testsupport::addressA())));
    m_ready = true;
}

void TestPageTransfer::init() {
    QVERIFY(m_ready);
    QVERIFY(m_browser.evaluate(kSetup).toBool());
}

void TestPageTransfer::cleanupTestCase() {
    m_browser.close();
    m_server.stop();
}

void TestPageTransfer::feed(const QByteArray &package) {
    const QString script =
        QString("zuTest.receiver.onPackage(Uint8Array.from(atob('%1'), c => c.charCodeAt(0)).buffer), true")
            .arg(QString::fromLatin1(package.toBase64()));
    QVERIFY(m_browser.evaluate(script).toBool());
}

QList<QByteArray> TestPageTransfer::answers() {
    QList<QByteArray> out;
    for (const QJsonValue &v : m_browser.evaluate("zuTest.answers.splice(0)").toArray())
        out << QByteArray::fromBase64(v.toString().toLatin1());
    return out;
}

QStringList TestPageTransfer::events() {
    QStringList out;
    for (const QJsonValue &v : m_browser.evaluate("zuTest.events.splice(0)").toArray())
        out << v.toString();
    return out;
}

void TestPageTransfer::expectAnswer(const QByteArray &answer, const std::string &data,
                                    const std::string &name, int64_t length) {
    QCOMPARE(answer.size(), int(kControlPackageSize));
    const auto *p = reinterpret_cast<const uint8_t *>(answer.constData());
    QCOMPARE(kindOf(p, size_t(answer.size())), PackageKind::Control);
    ControlMessage m;
    QVERIFY(readControl(p, size_t(answer.size()), m));
    QCOMPARE(m.type, std::string(kReceiveResponse));
    QCOMPARE(m.data, data);
    QCOMPARE(m.name, name);
    QCOMPARE(m.length, length);
    // Byte for byte what the desktop receiver writes.
    QCOMPARE(answer, control(kReceiveResponse, data, name, length));
}

void TestPageTransfer::fileWithRepeatedChunk() {
    const std::string name = "报告 ü/x.bin";
    const QByteArray file = bytes(16385, 1);
    feed(control(kSendRequest, kBegin, name, file.size()));
    QList<QByteArray> a = answers();
    QCOMPARE(a.size(), 1);
    expectAnswer(a[0], kBegin, name, file.size());

    feed(dataPackage(file.left(16384)));
    a = answers();
    QCOMPARE(a.size(), 1);
    expectAnswer(a[0], kContinue, name, file.size());

    feed(dataPackage(file.mid(16384), true));
    a = answers();
    QCOMPARE(a.size(), 1);
    expectAnswer(a[0], kRepeat, name, file.size());
    feed(dataPackage(file.mid(16384)));
    expectAnswer(answers().value(0), kContinue, name, file.size());

    feed(control(kSendRequest, kComplete, name, file.size()));
    a = answers();
    QCOMPARE(a.size(), 1);
    expectAnswer(a[0], kComplete, name, file.size());
    // No directory part in the name the file is saved under; the repeated chunk stored once.
    QCOMPARE(events(),
             QStringList({"begin 16385", "progress 16384", "progress 16385", "complete x.bin 16385"}));
    const QString read =
        "(async () => { const b = new Uint8Array(await zuTest.blobs[0].arrayBuffer());"
        " let s = ''; for (const x of b) s += String.fromCharCode(x); return btoa(s); })()";
    QCOMPARE(QByteArray::fromBase64(m_browser.evaluate(read).toString().toLatin1()), file);
}

void TestPageTransfer::fiveDamagedCopiesEndTheFile() {
    const QByteArray file = bytes(5000, 2);
    feed(control(kSendRequest, kBegin, "a.txt", file.size()));
    answers();
    for (int i = 0; i < 5; ++i)
        feed(dataPackage(file, true));
    const QList<QByteArray> a = answers();
    QCOMPARE(a.size(), 4);
    for (const QByteArray &r : a)
        expectAnswer(r, kRepeat, "a.txt", file.size());
    QCOMPARE(events(), QStringList({"begin 5000", "fail damaged"}));
    // The abandoned file takes nothing more.
    feed(dataPackage(file));
    feed(control(kSendRequest, kComplete, "a.txt", file.size()));
    QVERIFY(answers().isEmpty());
}

void TestPageTransfer::emptyFile() {
    feed(control(kSendRequest, kBegin, "empty", 0));
    feed(control(kSendRequest, kComplete, "empty", 0));
    const QList<QByteArray> a = answers();
    QCOMPARE(a.size(), 2);
    expectAnswer(a[0], kBegin, "empty", 0);
    expectAnswer(a[1], kComplete, "empty", 0);
    QCOMPARE(events(), QStringList({"begin 0", "complete empty 0"}));
}

void TestPageTransfer::packagesOutsideAFileAreIgnored() {
    feed(dataPackage(bytes(100, 3)));
    QByteArray noLength(kControlPackageSize, '\0');
    std::memcpy(noLength.data(), "ctrl", 5);
    const char json[] = "{\"data\":\"begin\",\"name\":\"x\",\"type\":\"send_req\"}\n";
    std::memcpy(noLength.data() + kJsonOffset, json, sizeof json - 1);
    feed(noLength);
    QByteArray otherTag = control(kSendRequest, kBegin, "x", 1);
    std::memcpy(otherTag.data(), "ctrX", 4);
    feed(otherTag);
    feed(control(kSendRequest, kBegin, "x", -1));
    feed(control(kReceiveResponse, kBegin, "x", 1));
    QVERIFY(answers().isEmpty());
    QVERIFY(events().isEmpty());

    // A chunk length whose package would exceed 20480 bytes is not read.
    feed(control(kSendRequest, kBegin, "big", 30000));
    answers();
    QByteArray tooLong = dataPackage(bytes(100, 4));
    std::memset(tooLong.data() + kLengthOffset, 0, kLengthFieldSize);
    std::memcpy(tooLong.data() + kLengthOffset, "19457", 5);
    feed(tooLong);
    QByteArray notDigits = dataPackage(bytes(100, 4));
    std::memcpy(notDigits.data() + kLengthOffset, "1x0", 3);
    feed(notDigits);
    QVERIFY(answers().isEmpty());
    feed(control(kSendRequest, kCancel, "big", 30000));
    QCOMPARE(events(), QStringList({"begin 30000", "fail cancelled"}));
}

void TestPageTransfer::shortFileIsNotHandedOut() {
    const QByteArray file = bytes(3000, 5);
    feed(control(kSendRequest, kBegin, "short", 4000));
    feed(dataPackage(file));
    feed(control(kSendRequest, kComplete, "short", 4000));
    const QList<QByteArray> a = answers();
    QCOMPARE(a.size(), 2);  // begin and continue; the complete is not confirmed
    expectAnswer(a[1], kContinue, "short", 4000);
    QCOMPARE(events(), QStringList({"begin 4000", "progress 3000", "fail incomplete"}));
}

void TestPageTransfer::chunkBeyondTheOfferedLength() {
    feed(control(kSendRequest, kBegin, "long", 100));
    answers();
    feed(dataPackage(bytes(101, 6)));
    QVERIFY(answers().isEmpty());
    QCOMPARE(events(), QStringList({"begin 100", "fail too long"}));
}

QTEST_GUILESS_MAIN(TestPageTransfer)
#include "tst_pagetransfer.moc"
