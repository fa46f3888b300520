#include <QtTest>

#include <cstring>

#include "transfer/transferprotocol.h"

using namespace transferprotocol;
using Bytes = std::vector<uint8_t>;

static Bytes dataPackage(const QByteArray &lengthField, uint32_t size = kDataPackageSize) {
    Bytes package(size, 0);
    std::memcpy(package.data(), kDataTag, kTagSize);
    std::memcpy(package.data() + kLengthOffset, lengthField.constData(), size_t(lengthField.size()));
    return package;
}

class TestTransferProtocol : public QObject {
    Q_OBJECT
private slots:
    void controlPackageLayout() {
        Bytes buffer(kControlPackageSize, 0xee);
        QVERIFY(writeControl(buffer.data(), kSendRequest, kBegin, "a.txt", 5));
        const std::string json =
            "{\"data\":\"begin\",\"length\":5,\"name\":\"a.txt\",\"type\":\"send_req\"}\n";
        Bytes expected(kControlPackageSize, 0);
        std::memcpy(expected.data(), "ctrl", 4);
        std::memcpy(expected.data() + kJsonOffset, json.data(), json.size());
        QVERIFY(buffer == expected);
    }

    void namesTravelEscapedOrAreRefused() {
        // U+62A5 U+544A, a tab, DEL, a quote, a backslash and U+1F600 (a surrogate pair).
        const std::string name = "\xe6\x8a\xa5\xe5\x91\x8a\t\x7f\"\\\xf0\x9f\x98\x80/x";
        QCOMPARE(
            controlText(kReceiveResponse, kComplete, name, 2147483647),
            std::string("{\"data\":\"complete\",\"length\":2147483647,\"name\":\"\\u62a5\\u544a\\u0009\\u007f"
                        "\\\"\\\\\\ud83d\\ude00/x\",\"type\":\"receive_resp\"}\n"));
        Bytes buffer(kControlPackageSize);
        QVERIFY(writeControl(buffer.data(), kSendRequest, kBegin, name, 7));
        ControlMessage message;
        QVERIFY(readControl(buffer.data(), buffer.size(), message) && message.name == name &&
                message.length == 7);

        // 299 bytes of four-byte characters and ASCII: the widest escaping of an ordinary name fits.
        std::string wide;
        while (wide.size() + 4 <= kMaxNameBytes) {
            wide += "\xf0\x9f\x98\x80";
        }
        wide.append(kMaxNameBytes - wide.size(), 'x');
        QVERIFY(writeControl(buffer.data(), kReceiveResponse, kComplete, wide, 2147483647));
        // Control characters take six bytes each: such a name cannot travel and the buffer is untouched.
        Bytes untouched(kControlPackageSize, 0xee);
        QVERIFY(!writeControl(untouched.data(), kSendRequest, kBegin, std::string(200, '\x01'), 1));
        QCOMPARE(untouched[0], uint8_t(0xee));
    }

    void controlMessagesNeedTheirMembers_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        const std::pair<const char *, bool> rows[] = {
            {R"({"data":"begin","length":12,"name":"n","type":"send_req"})", true},
            {R"({"data":"continue","type":"receive_resp"})", true},
            {R"({"data":"begin","name":"n","type":"send_req"})", false},
            {R"({"data":"begin","length":"1","name":"n","type":"send_req"})", false},
            {R"({"data":"begin","length":1.5,"name":"n","type":"send_req"})", false},
            {R"({"data":"begin","length":2147483648,"name":"n","type":"send_req"})", false},
            {R"({"data":"begin","length":-1,"name":"n","type":"send_req"})", false},
            {R"({"data":"begin","length":1,"type":"send_req"})", false},
            {R"({"data":"begin","length":1,"name":"n","type":"other"})", false},
            {R"({"data":"resume","type":"receive_resp"})", false},
            {R"({"data":"repeat","length":1,"name":"n","type":"send_req"})", false},
            {R"({"type":"receive_resp"})", false},
            {R"(["receive_resp"])", false},
            {"{\"data\":", false},
            {"", false}};
        for (const auto &row : rows) {
            QTest::newRow(row.first) << QByteArray(row.first) << row.second;
        }
        // The JSON reader once had no nesting limit.
        QTest::newRow("nested too deep") << QByteArray(1000, '[') << false;
    }

    void controlMessagesNeedTheirMembers() {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        Bytes package(kControlPackageSize, 0);
        std::memcpy(package.data(), kControlTag, kTagSize);
        std::memcpy(package.data() + kJsonOffset, json.constData(), size_t(json.size()));
        ControlMessage message;
        QCOMPARE(readControl(package.data(), package.size(), message), valid);
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
        Bytes full(kControlPackageSize, 'x');
        std::memcpy(full.data(), kControlTag, kTagSize);
        QVERIFY(!readControl(full.data(), full.size(), message));
        QVERIFY(!readControl(full.data(), 20, message));
        const Bytes data = dataPackage("1");
        QVERIFY(!readControl(data.data(), data.size(), message));
    }

    void dataPackageLayout_data() {
        QTest::addColumn<uint32_t>("n");
        QTest::newRow("one byte") << 1u;
        QTest::newRow("full chunk") << kChunkAreaSize;
        QTest::newRow("empty") << 0u;
    }

    void dataPackageLayout() {
        QFETCH(uint32_t, n);
        Bytes buffer(kDataPackageSize, 0xee);
        Bytes expected(kDataPackageSize, 0);
        for (uint32_t i = 0; i < n; ++i) {
            buffer[kHeaderSize + i] = expected[kHeaderSize + i] = static_cast<uint8_t>(i * 7);
        }
        sealData(buffer.data(), n);
        const QByteArray chunk(reinterpret_cast<const char *>(expected.data() + kHeaderSize), int(n));
        const QByteArray digest = QCryptographicHash::hash(chunk, QCryptographicHash::Md5).toHex();
        const std::string length = std::to_string(n);
        std::memcpy(expected.data(), "data", 4);
        std::memcpy(expected.data() + kLengthOffset, length.data(), length.size());
        std::memcpy(expected.data() + kDigestOffset, digest.constData(), 32);
        // Zeros around the fields, and none of an earlier chunk's bytes after this one.
        QVERIFY(buffer == expected);
        uint32_t read = 99;
        std::string readDigest;
        QVERIFY(readDataHeader(buffer.data(), buffer.size(), read, readDigest) && read == n);
        QCOMPARE(QByteArray::fromStdString(readDigest), digest);
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
        const char gap[] = "12\0\0\0003";
        QTest::newRow("digits after the zeros") << QByteArray(gap, 6) << kDataPackageSize << -1;
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
        const Bytes package = dataPackage(field, size);
        uint32_t n = 0;
        std::string digest;
        QCOMPARE(readDataHeader(package.data(), package.size(), n, digest) ? int(n) : -1, length);
    }

    void receivedNamesBecomePlainFileNames_data() {
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("plain");
        // Pairs of a received name and the plain name it becomes; "-" for the name of an unnamed file.
        const QStringList rows =
            QString::fromUtf8(
                "report.pdf|report.pdf|报告 二〇二六.txt|报告 二〇二六.txt|../../x|x|/etc/x|x|"
                "/dev/sda|sda|..|-|.|-|....|-|a/../../b|b|..\\..\\win.ini|win.ini|dir/|-||-|"
                "a\x01\nb\x7f.txt|ab.txt|invoice\u202etxt.exe|invoicetxt.exe|  . |-|.profile|.profile")
                .split('|');
        for (int i = 0; i < rows.size(); i += 2) {
            QTest::newRow(qPrintable(rows[i]))
                << rows[i] << (rows[i + 1] == "-" ? QString("未命名文件") : rows[i + 1]);
        }
        QTest::newRow("nul") << QString(QChar(0)) + "x" << QString("x");
        // Long names are cut to 200 bytes, keeping the extension and never halving a character.
        const QString wen(QChar(0x6587));
        const QString emoji = QString::fromUtf8("\xf0\x9f\x98\x80");
        QTest::newRow("long") << wen.repeated(99) + ".tar" << wen.repeated(65) + ".tar";
        QTest::newRow("long, four-byte characters") << emoji.repeated(74) << emoji.repeated(50);
    }

    void receivedNamesBecomePlainFileNames() {
        QFETCH(QString, received);
        QFETCH(QString, plain);
        QCOMPARE(plainFileName(received), plain);
    }

    void numberedNames() {
        QCOMPARE(numberedFileName("report.pdf", 0), QString("report.pdf"));
        QCOMPARE(numberedFileName("report.pdf", 1), QString("report (1).pdf"));
        QCOMPARE(numberedFileName("a.tar.gz", 2), QString("a.tar (2).gz"));
        QCOMPARE(numberedFileName("README", 3), QString("README (3)"));
        QCOMPARE(numberedFileName(".profile", 1), QString(".profile (1)"));
    }
};

QTEST_GUILESS_MAIN(TestTransferProtocol)
#include "tst_transferprotocol.moc"
