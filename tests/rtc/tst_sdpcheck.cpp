// The engine's own reading of remote SDP and candidates, without any peer.

#include <QtTest>

#include "rtc/gst/sdpcheck.h"

using zuengine::SdpCheck;
using namespace std::string_literals;

const std::string kIce = "c=IN IP4 0.0.0.0\r\na=ice-ufrag:abcd\r\na=ice-pwd:abcdefghijklmnopqrstuvwx\r\n";
const std::string kVp8 = "a=rtpmap:96 VP8/90000\r\n";

static std::string offer(const std::string &video = "9 96", const std::string &attributes = kVp8) {
    const size_t space = video.find(' ');
    return "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0 1\r\n"
           "a=fingerprint:sha-256 AA:BB:CC\r\nm=video " +
           video.substr(0, space) + " UDP/TLS/RTP/SAVPF" + video.substr(space) + "\r\n" + kIce +
           "a=mid:0\r\na=recvonly\r\n" + attributes + "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\n" +
           kIce + "a=mid:1\r\na=sctp-port:5000\r\n";
}

class TestSdpCheck : public QObject {
    Q_OBJECT

private slots:
    void offerIsRead_data() {
        QTest::addColumn<QString>("video");  // port and formats
        QTest::addColumn<QString>("attributes");
        QTest::addColumn<QString>("chosen");  // codec, payload type and profile; empty for none
        QTest::addColumn<QString>("audio");   // a third section, or none
        QTest::addColumn<bool>("sound");      // whether its Opus is taken
        const auto row = [](const char *name, const char *video, const QString &attributes,
                            const char *chosen, const QString &audio = {}, bool sound = false) {
            QTest::newRow(name) << video << attributes << chosen << audio << sound;
        };
        const auto h264 = [](int pt, int mode, const char *profile) {
            return QString::asprintf(
                "a=rtpmap:%d H264/90000\r\na=fmtp:%d level-asymmetry-allowed=1;"
                "packetization-mode=%d;profile-level-id=%s\r\n",
                pt, pt, mode, profile);
        };
        const QString vp8 = QString::fromStdString(kVp8), both = vp8 + h264(102, 1, "42e01f");
        const QString opus = "a=rtpmap:111 OPUS/48000/2\r\n";
        row("vp8 first", "9 96 102", both, "VP8 96");
        row("h264 first", "9 102 96", both, "H264 102 42e01f");
        // High, mode 0, plain main, short and not hex come first; the constrained baseline is taken.
        row("unusable h264 passed over", "9 100 101 104 105 106 103",
            h264(100, 1, "640c1f") + h264(101, 0, "42e01f") + h264(104, 1, "4d001f") + h264(105, 1, "42e0") +
                h264(106, 1, "zzzzzz") + h264(103, 1, "4d801f"),
            "H264 103 4d801f");
        row("baseline h264", "9 102", h264(102, 1, "42001f"), "H264 102 42001f");
        row("h264 without profile", "9 102", h264(102, 1, ""), "H264 102");
        row("no common codec", "9 98", "a=rtpmap:98 H265/90000\r\n", "");
        row("rejected section", "0 96", vp8, "");
        row("sound receive only", "9 96", vp8, "VP8 96", "9 UDP/TLS/RTP/SAVPF 0 111\r\na=recvonly\r\n" + opus,
            true);
        row("sound both ways", "9 96", vp8, "VP8 96", "9 UDP/TLS/RTP/SAVPF 111\r\n" + opus, true);
        row("sound bundle only", "9 96", vp8, "VP8 96",
            "0 UDP/TLS/RTP/SAVPF 111\r\na=bundle-only\r\na=recvonly\r\n" + opus, true);
        row("sound rejected", "9 96", vp8, "VP8 96", "0 UDP/TLS/RTP/SAVPF 111\r\na=recvonly\r\n" + opus);
        row("sound send only", "9 96", vp8, "VP8 96", "9 UDP/TLS/RTP/SAVPF 111\r\na=sendonly\r\n" + opus);
        row("no opus", "9 96", vp8, "VP8 96",
            "9 UDP/TLS/RTP/SAVPF 0\r\na=rtpmap:0 PCMU/8000\r\na=recvonly\r\n");
        row("mono opus", "9 96", vp8, "VP8 96", "9 UDP/TLS/RTP/SAVPF 111\r\na=rtpmap:111 opus/48000\r\n");
    }
    void offerIsRead() {
        QFETCH(QString, video);
        QFETCH(QString, attributes);
        QFETCH(QString, chosen);
        QFETCH(QString, audio);
        QFETCH(bool, sound);
        zuengine::SdpSummary s;
        std::string error;
        const std::string third =
            audio.isEmpty() ? "" : "m=audio " + audio.toStdString() + kIce + "a=mid:2\r\n";
        QVERIFY2(SdpCheck::analyse(offer(video.toStdString(), attributes.toStdString()) + third, s, error),
                 error.c_str());
        QCOMPARE(s.media.size(), size_t(audio.isEmpty() ? 2 : 3));
        const zuengine::SdpMedia &m = s.media[0];
        QVERIFY(s.anyVideo() && s.hasApplication() && m.mid == "0" && m.direction == "recvonly");
        QCOMPARE(m.rejected, video.startsWith("0 "));
        const QString got = QString::asprintf("%s %d %s", zuengine::codecName(m.codec), m.payloadType,
                                              m.profileLevelId.c_str());
        QCOMPARE(s.videoIndex() < 0 ? QString() : got.trimmed(), chosen);
        QCOMPARE(s.audioIndex(), sound ? 2 : -1);
        QVERIFY(!sound || s.media[2].opusPayloadType == 111);
    }

    void malformedDescriptionsAreRefused() {
        const std::string good = offer(), credentials = kIce.substr(kIce.find("a=ice"));
        std::string noFingerprint = good, badPort = good, noCredentials = good;
        noFingerprint.erase(good.find("a=fingerprint"), good.find("m=video") - good.find("a=fingerprint"));
        badPort.replace(badPort.find("m=video 9"), 9, "m=video 99999");
        for (size_t at; (at = noCredentials.find(credentials)) != std::string::npos;)
            noCredentials.erase(at, credentials.size());
        zuengine::SdpSummary s;
        std::string error;
        QVERIFY(SdpCheck::analyse(good, s, error));
        for (const std::string &text :
             {std::string(), std::string("hello"), std::string("v=0\r\n"),
              std::string("v=1\r\no=- 1 1 IN IP4 0.0.0.0\r\nm=video 9 UDP 96\r\n"),
              std::string("v=0\r\nthis is not sdp\r\n"), good.substr(0, good.find("m=video")),  // no media
              std::string("v=0\r\n") + good.substr(good.find("m=video")),                       // no o= line
              good + "garbage line\r\n", good + std::string("a=x\0y\r\n", 7),
              std::string(SdpCheck::kMaxSdpBytes + 1, 'a'), noFingerprint, badPort, noCredentials}) {
            error.clear();
            QVERIFY2(!SdpCheck::analyse(text, s, error) && !error.empty(), text.substr(0, 200).c_str());
        }
    }

    void candidates() {
        zuengine::IceCandidate c;
        std::string error;
        const std::string good = "candidate:1 1 UDP 2015363327 10.77.0.1 5000 typ host";
        QVERIFY(SdpCheck::parseCandidate(good, c, error));
        QVERIFY(c.address == "10.77.0.1" && c.port == 5000 && c.component == 1 && !c.mdns);
        const std::string mdns =
            "a=candidate:842163049 1 udp 1677729535 0c8e2d4f-1f3a-4b5c.local 54321 typ host "
            "generation 0 ufrag abcd network-cost 999";
        QVERIFY(SdpCheck::parseCandidate(mdns, c, error) && c.mdns);
        QVERIFY(SdpCheck::parseCandidate(
            "candidate:3 1 TCP 1010827519 fe80::1%zuveth0 9 typ host tcptype active", c, error));
        const auto with = [&](const std::string &from, const std::string &to) {
            std::string s = good;
            return s.replace(s.find(from), from.size(), to);
        };
        for (const std::string &bad :
             {""s, "garbage"s, "candidate"s, "candidate:"s, with(" host", ""), "x " + good,
              with("1 1", "1 0"), with("2015363327", "x"), with("2015363327", "99999999999"),
              with("5000", "-1"), with("5000", "99999"), with("UDP", "SCTP"), with("typ", "kind"),
              with("host", "nonsense"), good + " raddr", good + " extra", good + "\x01",
              // Fault once found: a host name here would be looked up in the DNS.
              with("10.77.0.1", "attacker.example"), with("10.77.0.1", "10.0.0.256"),
              with("10.77.0.1", std::string(2000, 'a'))}) {
            error.clear();
            QVERIFY2(!SdpCheck::parseCandidate(bad, c, error) && !error.empty(), bad.c_str());
        }
    }
};

QTEST_GUILESS_MAIN(TestSdpCheck)
#include "tst_sdpcheck.moc"
