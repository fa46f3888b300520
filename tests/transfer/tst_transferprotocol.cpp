#include <QtTest>

#include <cstring>

#include "transfer/datapackage.h"
#include "transfer/transferprotocol.h"

using namespace transferprotocol;

namespace {

std::vector<uint8_t> controlPackage(const std::string &json) {
    std::vector<uint8_t> package(kControlPackageSize, 0);
    std::memcpy(package.data(), kControlTag, kTagSize);
    std::memcpy(package.data() + kJsonOffset, json.data(), json.size());
    return package;
}

bool parses(const std::string &json, ControlMessage *out = nullptr) {
    const auto package = controlPackage(json);
    ControlMessage message;
    const bool ok = readControl(package.data(), package.size(), message);
    if (out) {
        *out = message;
    }
    return ok;
}

std::vector<uint8_t> dataPackage(const char *lengthField, uint32_t size = kDataPackageSize) {
    std::vector<uint8_t> package(size, 0);
    std::memcpy(package.data(), kDataTag, kTagSize);
    std::memcpy(package.data() + kLengthOffset, lengthField, std::strlen(lengthField));
    return package;
}

}  // namespace

class TestTransferProtocol : public QObject {
    Q_OBJECT
private slots:
    void dataPackageOwnsItsBytes() {
        DataPackage empty;
        QVERIFY(!empty.data());
        QCOMPARE(empty.size(), 0u);
        DataPackage sized(17408);
        QVERIFY(sized.data());
        QCOMPARE(sized.size(), 17408u);
        auto *bytes = new uint8_t[3]{1, 2, 3};
        auto taken = DataPackage::create(bytes, 3);
        QCOMPARE(taken->data(), bytes);
        QCOMPARE(taken->size(), 3u);
        QCOMPARE(DataPackage::create(20480)->size(), 20480u);
    }

    void metaTypeIsRegisteredUnderItsName() {
        DataPackage::registerMetaType();
        DataPackage::registerMetaType();
        const int id = QMetaType::type("std::shared_ptr<DataPackage>");
        QVERIFY(id != QMetaType::UnknownType);
        QCOMPARE(id, qMetaTypeId<std::shared_ptr<DataPackage>>());
    }

    void controlPackageLayout() {
        std::vector<uint8_t> buffer(kControlPackageSize, 0xee);
        QVERIFY(writeControl(buffer.data(), kSendRequest, kBegin, "a.txt", 5));
        const char expected[] =
            "{\"data\":\"begin\",\"length\":5,\"name\":\"a.txt\",\"type\":\"send_req\"}\n";
        QCOMPARE(std::memcmp(buffer.data(), "ctrl\0", 5), 0);
        for (uint32_t i = 5; i < kJsonOffset; ++i) {
            QCOMPARE(buffer[i], uint8_t(0));
        }
        QCOMPARE(std::memcmp(buffer.data() + kJsonOffset, expected, sizeof expected - 1), 0);
        for (uint32_t i = kJsonOffset + sizeof expected - 1; i < kControlPackageSize; ++i) {
            QCOMPARE(buffer[i], uint8_t(0));
        }
        QCOMPARE(controlJson(buffer.data(), buffer.size()), std::string(expected));
    }

    void controlTextEscapesEverythingOutsidePrintableAscii() {
        // U+62A5 U+544A, a tab, DEL, a quote, a backslash and U+1F600 (a surrogate pair).
        const std::string name = "\xe6\x8a\xa5\xe5\x91\x8a\t\x7f\"\\\xf0\x9f\x98\x80/x";
        QCOMPARE(
            controlText(kReceiveResponse, kComplete, name, 2147483647),
            std::string("{\"data\":\"complete\",\"length\":2147483647,\"name\":\"\\u62a5\\u544a\\u0009\\u007f"
                        "\\\"\\\\\\ud83d\\ude00/x\",\"type\":\"receive_resp\"}\n"));
        // What is written reads back as the same name.
        std::vector<uint8_t> buffer(kControlPackageSize);
        QVERIFY(writeControl(buffer.data(), kSendRequest, kBegin, name, 7));
        ControlMessage message;
        QVERIFY(readControl(buffer.data(), buffer.size(), message));
        QCOMPARE(message.name, name);
        QCOMPARE(message.length, int64_t(7));
    }

    void longestNamesFitOrAreRefused() {
        std::vector<uint8_t> buffer(kControlPackageSize, 0xee);
        // 299 bytes of four-byte characters and ASCII: the widest escaping of an ordinary name fits.
        std::string wide;
        while (wide.size() + 4 <= kMaxNameBytes) {
            wide += "\xf0\x9f\x98\x80";
        }
        wide.append(kMaxNameBytes - wide.size(), 'x');
        QCOMPARE(wide.size(), size_t(kMaxNameBytes));
        QVERIFY(writeControl(buffer.data(), kReceiveResponse, kComplete, wide, 2147483647));
        // Control characters take six bytes each: such a name cannot travel and the buffer is untouched.
        std::vector<uint8_t> untouched(kControlPackageSize, 0xee);
        const std::string controls(200, '\x01');
        QVERIFY(!writeControl(untouched.data(), kSendRequest, kBegin, controls, 1));
        QCOMPARE(untouched[0], uint8_t(0xee));
    }

    void controlMessagesNeedTheirMembers() {
        ControlMessage message;
        QVERIFY(parses(R"({"data":"begin","length":12,"name":"n","type":"send_req"})", &message));
        QCOMPARE(message.type, std::string("send_req"));
        QCOMPARE(message.data, std::string("begin"));
        QCOMPARE(message.name, std::string("n"));
        QCOMPARE(message.length, int64_t(12));
        QVERIFY(parses(R"({"data":"continue","type":"receive_resp"})", &message));
        QVERIFY(!message.hasName);
        QVERIFY(!message.hasLength);

        QVERIFY(!parses(R"({"data":"begin","name":"n","type":"send_req"})"));               // no length
        QVERIFY(!parses(R"({"data":"begin","length":"1","name":"n","type":"send_req"})"));  // length text
        QVERIFY(!parses(R"({"data":"begin","length":1.5,"name":"n","type":"send_req"})"));
        QVERIFY(!parses(R"({"data":"begin","length":2147483648,"name":"n","type":"send_req"})"));
        QVERIFY(!parses(R"({"data":"begin","length":-1,"name":"n","type":"send_req"})"));
        QVERIFY(!parses(R"({"data":"begin","length":1,"type":"send_req"})"));  // no name
        QVERIFY(!parses(R"({"data":"begin","length":1,"name":"n","type":"other"})"));
        QVERIFY(!parses(R"({"data":"resume","type":"receive_resp"})"));
        QVERIFY(!parses(R"({"data":"repeat","length":1,"name":"n","type":"send_req"})"));
        QVERIFY(!parses(R"({"type":"receive_resp"})"));
        QVERIFY(!parses(R"(["receive_resp"])"));
        QVERIFY(!parses("{\"data\":"));
        QVERIFY(!parses(std::string(1000, '[').c_str()));  // nested too deep
        QVERIFY(!parses(""));

        // No terminating zero inside the 1024 bytes: refused, never read beyond.
        std::vector<uint8_t> full(kControlPackageSize, 'x');
        std::memcpy(full.data(), kControlTag, kTagSize);
        QVERIFY(!readControl(full.data(), full.size(), message));
        QVERIFY(!readControl(full.data(), 20, message));
        // A data tag is no control package.
        auto data = dataPackage("1");
        QVERIFY(!readControl(data.data(), data.size(), message));
    }

    void packagesAreTellByTheirTag() {
        QCOMPARE(kindOf(reinterpret_cast<const uint8_t *>("ctrl\0xx"), 7), PackageKind::Control);
        QCOMPARE(kindOf(reinterpret_cast<const uint8_t *>("data\0xx"), 7), PackageKind::Data);
        QCOMPARE(kindOf(reinterpret_cast<const uint8_t *>("ctrlx"), 5), PackageKind::Other);
        QCOMPARE(kindOf(reinterpret_cast<const uint8_t *>("data"), 4), PackageKind::Other);
        QCOMPARE(kindOf(nullptr, 100), PackageKind::Other);
    }

    void dataPackageLayout_data() {
        QTest::addColumn<uint32_t>("n");
        QTest::newRow("one byte") << 1u;
        QTest::newRow("full chunk") << kChunkAreaSize;
        QTest::newRow("empty") << 0u;
    }

    void dataPackageLayout() {
        QFETCH(uint32_t, n);
        std::vector<uint8_t> buffer(kDataPackageSize, 0xee);
        for (uint32_t i = 0; i < n; ++i) {
            buffer[kHeaderSize + i] = static_cast<uint8_t>(i * 7);
        }
        sealData(buffer.data(), n);
        QCOMPARE(std::memcmp(buffer.data(), "data\0\0\0\0", 8), 0);
        const std::string length = std::to_string(n);
        QCOMPARE(std::memcmp(buffer.data() + kLengthOffset, length.data(), length.size()), 0);
        for (uint32_t i = kLengthOffset + length.size(); i < kDigestOffset; ++i) {
            QCOMPARE(buffer[i], uint8_t(0));
        }
        const QByteArray chunk(reinterpret_cast<const char *>(buffer.data() + kHeaderSize), int(n));
        const QByteArray digest = QCryptographicHash::hash(chunk, QCryptographicHash::Md5).toHex();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data() + kDigestOffset), 32), digest);
        for (uint32_t i = kDigestOffset + 32; i < kHeaderSize; ++i) {
            QCOMPARE(buffer[i], uint8_t(0));
        }
        // No bytes of an earlier chunk are left in the unused part of the chunk area.
        for (uint32_t i = kHeaderSize + n; i < kDataPackageSize; ++i) {
            QCOMPARE(buffer[i], uint8_t(0));
        }
        uint32_t read = 99;
        std::string readDigest;
        QVERIFY(readDataHeader(buffer.data(), buffer.size(), read, readDigest));
        QCOMPARE(read, n);
        QCOMPARE(QByteArray::fromStdString(readDigest), digest);
    }

    void chunkLengthFieldIsCheckedStrictly() {
        uint32_t n = 0;
        std::string digest;
        auto ok = [&](const std::vector<uint8_t> &package) {
            return readDataHeader(package.data(), package.size(), n, digest);
        };
        QVERIFY(ok(dataPackage("19456", kMaxPackageSize)));
        QCOMPARE(n, 19456u);
        QVERIFY(ok(dataPackage("0016384")));
        QCOMPARE(n, 16384u);
        QVERIFY(!ok(dataPackage("19457", kMaxPackageSize)));  // 1024 + n beyond 20480
        QVERIFY(!ok(dataPackage("16385")));                   // more than the message holds
        QVERIFY(!ok(dataPackage("")));
        QVERIFY(!ok(dataPackage("-1")));
        QVERIFY(!ok(dataPackage("+12")));
        QVERIFY(!ok(dataPackage(" 12")));
        QVERIFY(!ok(dataPackage("12 ")));
        QVERIFY(!ok(dataPackage("1x2")));
        QVERIFY(!ok(dataPackage("99999999999999999999")));  // spills into the digest, far too large
        QVERIFY(!ok(dataPackage("4294967297")));
        auto gap = dataPackage("12");
        gap[kLengthOffset + 5] = '3';  // digits after the zero bytes
        QVERIFY(!ok(gap));
        QVERIFY(!ok(dataPackage("1", 1000)));  // shorter than a header
    }

    void receivedNamesBecomePlainFileNames_data() {
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("plain");
        QTest::newRow("ordinary") << "report.pdf"
                                  << "report.pdf";
        QTest::newRow("chinese") << QStringLiteral("报告 二〇二六.txt")
                                 << QStringLiteral("报告 二〇二六.txt");
        QTest::newRow("parent") << "../../x"
                                << "x";
        QTest::newRow("absolute") << "/etc/x"
                                  << "x";
        QTest::newRow("dotdot") << ".." << QStringLiteral("未命名文件");
        QTest::newRow("dot") << "." << QStringLiteral("未命名文件");
        QTest::newRow("dots") << "...." << QStringLiteral("未命名文件");
        QTest::newRow("inner parent") << "a/../../b"
                                      << "b";
        QTest::newRow("backslashes") << "..\\..\\win.ini"
                                     << "win.ini";
        QTest::newRow("trailing separator") << "dir/" << QStringLiteral("未命名文件");
        QTest::newRow("empty") << "" << QStringLiteral("未命名文件");
        QTest::newRow("controls") << QString::fromUtf8("a\x01\nb\x7f.txt") << "ab.txt";
        QTest::newRow("nul") << QString(QChar(0)) + "x"
                             << "x";
        QTest::newRow("bidi override") << QString::fromUtf8("invoice\u202etxt.exe") << "invoicetxt.exe";
        QTest::newRow("spaces") << "  . " << QStringLiteral("未命名文件");
        QTest::newRow("hidden file") << ".profile"
                                     << ".profile";
    }

    void receivedNamesBecomePlainFileNames() {
        QFETCH(QString, received);
        QFETCH(QString, plain);
        QCOMPARE(plainFileName(received), plain);
    }

    void longNamesAreShortenedKeepingTheExtension() {
        QString name;
        for (int i = 0; i < 99; ++i) {
            name += QStringLiteral("文");
        }
        name += ".tar";  // 297 + 4 bytes
        const QString plain = plainFileName(name);
        QVERIFY(plain.toUtf8().size() <= kMaxDiskNameBytes);
        QVERIFY(plain.toUtf8().size() > kMaxDiskNameBytes - 3);
        QVERIFY(plain.endsWith(QStringLiteral("文.tar")));
        // Characters outside the basic plane are never cut in half.
        QString emoji;
        for (int i = 0; i < 74; ++i) {
            emoji += QString::fromUtf8("\xf0\x9f\x98\x80");
        }
        const QString shortened = plainFileName(emoji);
        QVERIFY(shortened.toUtf8().size() <= kMaxDiskNameBytes);
        QCOMPARE(QString::fromUtf8(shortened.toUtf8()), shortened);
        QVERIFY(!QChar(shortened.back()).isHighSurrogate());
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
