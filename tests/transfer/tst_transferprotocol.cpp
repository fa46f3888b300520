#include <QtTest>

#include <cstring>

#include "transfer/transferprotocol.h"

using namespace transferprotocol;
using Bytes = std::vector<uint8_t>;

// A zeroed package of size bytes with its tag and text at offset.
static Bytes package(const char *tag, uint32_t offset, const QByteArray &text, uint32_t size) {
    Bytes bytes(size, 0);
    std::memcpy(bytes.data(), tag, kTagSize);
    std::memcpy(bytes.data() + offset, text.constData(), size_t(text.size()));
    return bytes;
}

class TestTransferProtocol : public QObject {
    Q_OBJECT
private slots:
    void controlPackagesAreByteExact() {
        Bytes buffer(kControlPackageSize, 0xee);
        QVERIFY(writeControl(buffer.data(), kSendRequest, kBegin, "a.txt", 5));
        const char json[] = "{\"data\":\"begin\",\"length\":5,\"name\":\"a.txt\",\"type\":\"send_req\"}\n";
        QVERIFY(buffer == package("ctrl", kJsonOffset, json, kControlPackageSize));
        // U+62A5 U+544A, a tab, DEL, a quote, a backslash and U+1F600 (a surrogate pair).
        const std::string name = "\xe6\x8a\xa5\xe5\x91\x8a\t\x7f\"\\\xf0\x9f\x98\x80/x";
        QCOMPARE(
            controlText(kReceiveResponse, kComplete, name, 2147483647),
            std::string("{\"data\":\"complete\",\"length\":2147483647,\"name\":\"\\u62a5\\u544a\\u0009\\u007f"
                        "\\\"\\\\\\ud83d\\ude00/x\",\"type\":\"receive_resp\"}\n"));
        ControlMessage message;
        QVERIFY(writeControl(buffer.data(), kSendRequest, kBegin, name, 7));
        QVERIFY(readControl(buffer.data(), buffer.size(), message) && message.name == name &&
                message.length == 7);
        // The widest escaping of an ordinary name (299 bytes of four-byte characters and ASCII) fits.
        const QByteArray wide = QByteArray("\xf0\x9f\x98\x80").repeated(kMaxNameBytes / 4) + "xxx";
        QVERIFY(writeControl(buffer.data(), kReceiveResponse, kComplete, wide.toStdString(), 2147483647));
        // Control characters take six bytes each: such a name cannot travel and the buffer is untouched.
        Bytes untouched(kControlPackageSize, 0xee);
        QVERIFY(!writeControl(untouched.data(), kSendRequest, kBegin, std::string(200, '\x01'), 1));
        QVERIFY(untouched == Bytes(kControlPackageSize, 0xee));
    }
    void controlMessagesNeedTheirMembers_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::newRow("offer") << QByteArray(R"({"data":"begin","length":12,"name":"n","type":"send_req"})")
                               << true;
        QTest::newRow("answer") << QByteArray(R"({"data":"continue","type":"receive_resp"})") << true;
        for (const char *json : {R"({"data":"begin","name":"n","type":"send_req"})",
                                 R"({"data":"begin","length":"1","name":"n","type":"send_req"})",
                                 R"({"data":"begin","length":1.5,"name":"n","type":"send_req"})",
                                 R"({"data":"begin","length":2147483648,"name":"n","type":"send_req"})",
                                 R"({"data":"begin","length":-1,"name":"n","type":"send_req"})",
                                 R"({"data":"begin","length":1,"type":"send_req"})",
                                 R"({"data":"begin","length":1,"name":"n","type":"other"})",
                                 R"({"data":"resume","type":"receive_resp"})",
                                 R"({"data":"repeat","length":1,"name":"n","type":"send_req"})",
                                 R"({"type":"receive_resp"})", R"(["receive_resp"])", "{\"data\":", ""}) {
            QTest::newRow(json) << QByteArray(json) << false;
        }
        // The JSON reader once had no nesting limit.
        QTest::newRow("nested too deep") << QByteArray(1000, '[') << false;
    }
    void controlMessagesNeedTheirMembers() {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        const Bytes control = package("ctrl", kJsonOffset, json, kControlPackageSize);
        ControlMessage message;
        QCOMPARE(readControl(control.data(), control.size(), message), valid);
        if (valid && message.type == "send_req") {
            QVERIFY(message.data == "begin" && message.name == "n" && message.length == 12);
        } else if (valid) {
            QVERIFY(message.data == "continue" && !message.hasName && !message.hasLength);
        }
    }
    void packagesAreToldByTheirTagAndTerminator() {
        QCOMPARE(kindOf(reinterpret_cast<const uint8_t *>("ctrl\0xx"), 7), PackageKind::Control);
        QCOMPARE(kindOf(reinterpret_cast<const uint8_t *>("data\0xx"), 7), PackageKind::Data);
        QCOMPARE(kindOf(reinterpret_cast<const uint8_t *>("ctrlx"), 5), PackageKind::Other);
        QCOMPARE(kindOf(reinterpret_cast<const uint8_t *>("data"), 4), PackageKind::Other);
        QCOMPARE(kindOf(nullptr, 100), PackageKind::Other);
        // No terminating zero inside the 1024 bytes: refused, never read beyond.
        ControlMessage message;
        const Bytes full =
            package("ctrl", kTagSize, QByteArray(kControlPackageSize - kTagSize, 'x'), kControlPackageSize);
        QVERIFY(!readControl(full.data(), full.size(), message) && !readControl(full.data(), 20, message));
        const Bytes data = package("data", kLengthOffset, "1", kDataPackageSize);
        QVERIFY(!readControl(data.data(), data.size(), message));
    }
    void dataPackagesAreByteExact() {
        for (const uint32_t n : {1u, kChunkAreaSize, 0u}) {
            QByteArray chunk(int(n), Qt::Uninitialized);
            for (uint32_t i = 0; i < n; ++i) {
                chunk[int(i)] = char(i * 7);
            }
            // None of an earlier chunk's bytes may stay after this one.
            Bytes buffer(kDataPackageSize, 0xee);
            std::memcpy(buffer.data() + kHeaderSize, chunk.constData(), n);
            sealData(buffer.data(), n);
            const QByteArray digest = QCryptographicHash::hash(chunk, QCryptographicHash::Md5).toHex();
            Bytes expected = package("data", kHeaderSize, chunk, kDataPackageSize);
            std::memcpy(expected.data() + kLengthOffset, std::to_string(n).data(), std::to_string(n).size());
            std::memcpy(expected.data() + kDigestOffset, digest.constData(), 32);
            uint32_t read = 99;
            std::string readDigest;
            QVERIFY(buffer == expected && readDataHeader(buffer.data(), buffer.size(), read, readDigest));
            QVERIFY(read == n && QByteArray::fromStdString(readDigest) == digest);
        }
    }
    void chunkLengthFieldIsCheckedStrictly_data() {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<uint32_t>("size");
        QTest::addColumn<int>("length");  // -1: refused
        QTest::newRow("largest") << QByteArray("19456") << kMaxPackageSize << 19456;
        QTest::newRow("leading zeros") << QByteArray("0016384") << kDataPackageSize << 16384;
        QTest::newRow("beyond 20480") << QByteArray("19457") << kMaxPackageSize << -1;
        QTest::newRow("beyond the message") << QByteArray("16385") << kDataPackageSize << -1;
        QTest::newRow("shorter than a header") << QByteArray("1") << 1000u << -1;
        QTest::newRow("digits after the zeros") << QByteArray("12\0\0\0003", 6) << kDataPackageSize << -1;
        // The longest spills into the digest.
        for (const char *field :
             {"", "-1", "+12", " 12", "12 ", "1x2", "99999999999999999999", "4294967297"}) {
            QTest::newRow(field) << QByteArray(field) << kDataPackageSize << -1;
        }
    }
    void chunkLengthFieldIsCheckedStrictly() {
        QFETCH(QByteArray, field);
        QFETCH(uint32_t, size);
        QFETCH(int, length);
        const Bytes data = package("data", kLengthOffset, field, size);
        uint32_t n = 0;
        std::string digest;
        QCOMPARE(readDataHeader(data.data(), data.size(), n, digest) ? int(n) : -1, length);
    }
};

QTEST_GUILESS_MAIN(TestTransferProtocol)
#include "tst_transferprotocol.moc"
