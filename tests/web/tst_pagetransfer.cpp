// The page's file receiver in headless Chromium, fed with packages made by the product's transfer
// code; its answers are compared with the desktop receiver's.

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

QByteArray send(const char *data, const char *name, int64_t length) {
    return control(kSendRequest, data, name, length);
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
    const t = window.zuTest = { answers: [], events: [], blobs: [] };
    t.receiver = new ZuTransfer.FileReceiver((p) => t.answers.push(btoa(String.fromCharCode(...p))), {
        begin: (f) => t.events.push('begin ' + f.length),
        progress: (f) => t.events.push('progress ' + f.received),
        complete: (f, blob) => { t.events.push('complete ' + f.saveAs + ' ' + blob.size); t.blobs.push(blob); },
        fail: (f, reason) => t.events.push('fail ' + reason),
    });
    return true;
})())";

}  // namespace

class TestPageTransfer : public QObject {
    Q_OBJECT
    AttendeePageServer m_server{0};
    CdpBrowser m_browser;

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        if (CdpBrowser::chromiumPath().isEmpty())
            QSKIP("Debian's chromium package is not installed");
        QVERIFY(m_server.start());
        QString error;
        QVERIFY2(m_browser.launch(800, 600, &error), qPrintable(error));
        QVERIFY(m_browser.navigate(m_server.url(testsupport::addressA())));
    }

    void receives_data() {
        QTest::addColumn<QByteArrayList>("packages");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QByteArray>("saved");
        // A damaged chunk is asked for again and stored once; the name is saved without its folder.
        const char *name = "报告 ü/x.bin";
        const QByteArray file = bytes(16385, 1);
        QTest::newRow("repeated chunk")
            << QByteArrayList{send(kBegin, name, 16385), dataPackage(file.left(16384)),
                              dataPackage(file.mid(16384), true), dataPackage(file.mid(16384)),
                              send(kComplete, name, 16385)}
            << QStringList{kBegin, kContinue, kRepeat, kContinue, kComplete}
            << QStringList{"begin 16385", "progress 16384", "progress 16385", "complete x.bin 16385"} << file;
        // After five damaged copies the file is abandoned and takes nothing more.
        QByteArrayList damaged{send(kBegin, "a.txt", 5000)};
        for (int i = 0; i < 5; ++i)
            damaged << dataPackage(bytes(5000, 2), true);
        damaged << dataPackage(bytes(5000, 2)) << send(kComplete, "a.txt", 5000);
        QTest::newRow("five damaged copies")
            << damaged << QStringList{kBegin, kRepeat, kRepeat, kRepeat, kRepeat}
            << QStringList{"begin 5000", "fail damaged"} << QByteArray();
        QTest::newRow("empty file") << QByteArrayList{send(kBegin, "empty", 0), send(kComplete, "empty", 0)}
                                    << QStringList{kBegin, kComplete}
                                    << QStringList{"begin 0", "complete empty 0"} << QByteArray();
        QByteArray noLength(kControlPackageSize, '\0');
        std::memcpy(noLength.data(), "ctrl", 5);
        const char json[] = "{\"data\":\"begin\",\"name\":\"x\",\"type\":\"send_req\"}\n";
        std::memcpy(noLength.data() + kJsonOffset, json, sizeof json - 1);
        QByteArray otherTag = send(kBegin, "x", 1);
        std::memcpy(otherTag.data(), "ctrX", 4);
        QTest::newRow("outside a file")
            << QByteArrayList{dataPackage(bytes(100, 3)), noLength, otherTag, send(kBegin, "x", -1),
                              control(kReceiveResponse, kBegin, "x", 1)}
            << QStringList() << QStringList() << QByteArray();
        // A chunk length whose package would exceed 20480 bytes is not read, nor one not in digits.
        QByteArray tooLong = dataPackage(bytes(100, 4)), notDigits = tooLong;
        std::memcpy(tooLong.data() + kLengthOffset, "19457", 5);
        std::memcpy(notDigits.data() + kLengthOffset, "1x0", 3);
        QTest::newRow("bad chunk lengths")
            << QByteArrayList{send(kBegin, "big", 30000), tooLong, notDigits, send(kCancel, "big", 30000)}
            << QStringList{kBegin} << QStringList{"begin 30000", "fail cancelled"} << QByteArray();
        // The complete of a short file is not confirmed.
        QTest::newRow("short file") << QByteArrayList{send(kBegin, "short", 4000),
                                                      dataPackage(bytes(3000, 5)),
                                                      send(kComplete, "short", 4000)}
                                    << QStringList{kBegin, kContinue}
                                    << QStringList{"begin 4000", "progress 3000", "fail incomplete"}
                                    << QByteArray();
        QTest::newRow("chunk beyond the length")
            << QByteArrayList{send(kBegin, "long", 100), dataPackage(bytes(101, 6))} << QStringList{kBegin}
            << QStringList{"begin 100", "fail too long"} << QByteArray();
    }

    void receives() {
        QFETCH(QByteArrayList, packages);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, events);
        QFETCH(QByteArray, saved);
        QVERIFY(m_browser.evaluate(kSetup).toBool());
        for (const QByteArray &p : packages) {
            const QString script =
                "zuTest.receiver.onPackage(Uint8Array.from(atob('%1'), c => c.charCodeAt(0)).buffer), true";
            QVERIFY(m_browser.evaluate(script.arg(QString::fromLatin1(p.toBase64()))).toBool());
        }
        ControlMessage file;  // answers name the file of the first package
        readControl(reinterpret_cast<const uint8_t *>(packages[0].constData()), size_t(packages[0].size()),
                    file);
        const QStringList got = m_browser.evaluate("zuTest.answers").toVariant().toStringList();
        QCOMPARE(got.size(), answers.size());
        for (int i = 0; i < got.size(); ++i)  // byte for byte what the desktop receiver writes
            QCOMPARE(QByteArray::fromBase64(got[i].toLatin1()),
                     control(kReceiveResponse, answers[i].toStdString(), file.name, file.length));
        QCOMPARE(m_browser.evaluate("zuTest.events").toVariant().toStringList(), events);
        const QString read =
            "(async () => btoa(String.fromCharCode(...new Uint8Array("
            "await zuTest.blobs[0].arrayBuffer()))))()";
        if (!saved.isEmpty())
            QCOMPARE(QByteArray::fromBase64(m_browser.evaluate(read).toString().toLatin1()), saved);
    }
};

QTEST_GUILESS_MAIN(TestPageTransfer)
#include "tst_pagetransfer.moc"
