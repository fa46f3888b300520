#include <QtTest>

#include "signaling/signalingbean.h"
#include "testpeer.h"

using namespace wiretext;

class TestSignalingBeans : public QObject {
    Q_OBJECT
private slots:
    // Unknown or mistyped fields fall back to defaults; payloads survive only under their data types.
    void wireTextIsByteExact_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        const QString empty = message("", body("null", ""));
        const auto row = [](const QString &name, const QString &in, const QString &out) {
            QTest::newRow(qPrintable(name)) << in << out;
        };
        row("owner request",
            R"({"type":"ctrl","data":{"data_type":"request","request_data":"owner","data":{"x":1}}})",
            message("ctrl", body("null", "request", "", "owner")));
        row("nickname as escapes",
            QString::fromUtf8(R"({"type":"ctrl","data":{"data_type":"modify","data":)"
                              R"({"modify_type":"nickname","data":"张三😀"}}})"),
            message("ctrl",
                    body(R"({"data":"\u5f20\u4e09\ud83d\ude00","modify_type":"nickname"})", "modify")));
        const QString sdp = R"({"sdp":"v=0\r\n","sdp_type":"offer"})";
        const QString ice = R"({"candidate":"c 1","sdp_mid":"video0","sdp_mline_index":1})";
        for (const QString kind :
             {"sdp", "share_screen_sdp", "ice_candidate", "share_screen_ice_candidate"}) {
            const QString payload = kind.endsWith("sdp") ? sdp : ice;
            const QString in =
                R"({"sender":"{s}","target":"{t}","type":"data","data":{"data_type":"%1","data":%2}})";
            row(kind, in.arg(kind, payload), message("data", body(payload, kind), "{s}", "{t}"));
        }
        row("member list and its devicetypes",
            R"({"data":{"data_type":"allUser","data":[{"id":"a","nickname":"n","devicetype":1},)"
            R"({"id":"b","devicetype":"1"},{"id":"c","devicetype":"2"},{"id":"d"},7]}})",
            message("", body(R"([{"devicetype":"0","id":"a","nickname":"n"},)"
                             R"({"devicetype":"1","id":"b","nickname":""},)"
                             R"({"devicetype":"0","id":"c","nickname":""},)"
                             R"({"devicetype":"0","id":"d","nickname":""},)"
                             R"({"devicetype":"0","id":"","nickname":""}])",
                             "allUser")));
        row("member list not a list", R"({"data":{"data_type":"allUser","data":{"id":"x"}}})",
            message("", body("null", "allUser")));
        row("unknown data type", R"({"data":{"data_type":"what","data":{"sdp":"x"},"id":"i"}})",
            message("", body("null", "what", "i")));
        row("wrong types", R"({"type":5,"sender":5,"data":"x","error_code":"3"})", empty);
        row("negative error code", R"({"error_code":-2})", message("", body("null", ""), "", "", -2));
        for (const char *root : {"[1,2]", "42", "\"x\"", "null"}) {
            row(root, QString(root), empty);
        }
        row("comment", "// c\n{\"type\":\"data\"}", message("data", body("null", "")));
        // Jsoncpp's own depth limit throws; one datagram of brackets must be refused, not crash.
        const auto nested = [](int depth) { return QString(depth, '[') + QString(depth, ']'); };
        row("at the limit", nested(jsontext::kMaxDepth), empty);
        row("one over", nested(jsontext::kMaxDepth + 1), {});
        row("65507 open arrays", QString(65507, '['), {});
        row("1000 open objects", QString("{\"a\":").repeated(1000), {});
        row("cut short", "{\"type\":", {});
        row("empty text", "", {});
        // Integer fields take only integral numbers that fit.
        for (const auto &[index, value] :
             {std::pair{"\"3\"", 0}, {"1.0", 1}, {"1.5", 0}, {"4294967296", 0}, {"-7", -7}}) {
            row(index,
                QString(R"({"data":{"data_type":"ice_candidate","data":{"sdp_mline_index":%1}}})").arg(index),
                message("", body(QString(R"({"candidate":"","sdp_mid":"","sdp_mline_index":%1})").arg(value),
                                 "ice_candidate")));
        }
    }

    void wireTextIsByteExact() {
        QFETCH(QString, in);
        QFETCH(QString, out);  // null: refused
        Json::Value value;
        QCOMPARE(jsontext::parse(in.toStdString(), value), !out.isNull());
        auto bean = SignalingBean::fromText(in.toStdString());
        QCOMPARE(bean != nullptr, !out.isNull());
        if (bean) {
            QCOMPARE(QString::fromStdString(bean->toText()), out);
            // Written text reads back as the same message (escapes included).
            QCOMPARE(QString::fromStdString(SignalingBean::fromText(out.toStdString())->toText()), out);
        }
    }
};

QTEST_GUILESS_MAIN(TestSignalingBeans)
#include "tst_signalingbeans.moc"
