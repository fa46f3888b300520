// The engine's own reading of remote SDP and candidates, without any peer.

#include <QtTest>

#include "rtc/gst/sdpcheck.h"

using zuengine::SdpCheck;

namespace {

const std::string kIce = "c=IN IP4 0.0.0.0\r\na=ice-ufrag:abcd\r\na=ice-pwd:abcdefghijklmnopqrstuvwx\r\n";
const std::string kVp8 = "a=rtpmap:96 VP8/90000\r\n";

// `video` is the video section's port and formats, `attributes` its codec lines.
std::string offer(const std::string &video = "9 96", const std::string &attributes = kVp8) {
    const size_t space = video.find(' ');
    return "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0 1\r\n"
           "a=fingerprint:sha-256 AA:BB:CC\r\nm=video " +
           video.substr(0, space) + " UDP/TLS/RTP/SAVPF" + video.substr(space) + "\r\n" + kIce +
           "a=mid:0\r\na=recvonly\r\n" + attributes + "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\n" +
           kIce + "a=mid:1\r\na=sctp-port:5000\r\n";
}

}  // namespace

class TestSdpCheck : public QObject {
    Q_OBJECT

private slots:
    void videoCodecFollowsTheRemoteOrder_data() {
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("attributes");
        QTest::addColumn<QString>("chosen");  // codec, payload type and profile; empty for none
        const QString both = QString::fromStdString(kVp8) +
                             "a=rtpmap:102 H264/90000\r\na=fmtp:102 level-asymmetry-allowed=1;"
                             "packetization-mode=1;profile-level-id=42e01f\r\n";
        QTest::newRow("vp8 first") << "9 96 102" << both << "VP8 96";
        QTest::newRow("h264 first") << "9 102 96" << both << "H264 102 42e01f";
        // High profile and packetization mode 0 come first; the usable constrained baseline is taken.
        QTest::newRow("unusable h264 passed over")
            << "9 100 101 103"
            << "a=rtpmap:100 H264/90000\r\na=fmtp:100 packetization-mode=1;profile-level-id=64001f\r\n"
               "a=rtpmap:101 H264/90000\r\na=fmtp:101 packetization-mode=0;profile-level-id=42e01f\r\n"
               "a=rtpmap:103 H264/90000\r\na=fmtp:103 packetization-mode=1;profile-level-id=4d801f\r\n"
            << "H264 103 4d801f";
        QTest::newRow("no common codec") << "9 98" << QString("a=rtpmap:98 H265/90000\r\n") << "";
        QTest::newRow("rejected section") << "0 96" << QString::fromStdString(kVp8) << "";
    }
    void videoCodecFollowsTheRemoteOrder() {
        QFETCH(QString, video);
        QFETCH(QString, attributes);
        QFETCH(QString, chosen);
        zuengine::SdpSummary s;
        std::string error;
        QVERIFY2(SdpCheck::analyse(offer(video.toStdString(), attributes.toStdString()), s, error),
                 error.c_str());
        QCOMPARE(s.media.size(), size_t(2));
        const zuengine::SdpMedia &m = s.media[0];
        QVERIFY(s.anyVideo() && s.hasApplication() && m.mid == "0" && m.direction == "recvonly");
        QCOMPARE(m.rejected, video.startsWith("0 "));
        const QString got = QString::asprintf("%s %d %s", zuengine::codecName(m.codec), m.payloadType,
                                              m.profileLevelId.c_str());
        QCOMPARE(s.videoIndex() < 0 ? QString() : got.trimmed(), chosen);
    }

    void baselineProfiles() {
        for (const char *id : {"42001f", "42e01f", ""})
            QVERIFY2(SdpCheck::isBaselineProfile(id), id);
        for (const char *id : {"4d001f", "640c1f", "42e0", "zzzzzz"})  // plain main, high, short, not hex
            QVERIFY2(!SdpCheck::isBaselineProfile(id), id);
    }

    void soundSection_data() {
        QTest::addColumn<bool>("wanted");
        QTest::addColumn<QString>("section");
        const QString opus = "a=rtpmap:111 OPUS/48000/2\r\n";
        QTest::newRow("receive only") << true << "9 UDP/TLS/RTP/SAVPF 0 111\r\na=recvonly\r\n" + opus;
        QTest::newRow("both ways") << true << "9 UDP/TLS/RTP/SAVPF 111\r\n" + opus;
        // A bundled section has port 0 with a=bundle-only (webrtcbin's max-bundle offers).
        QTest::newRow("bundle only") << true
                                     << "0 UDP/TLS/RTP/SAVPF 111\r\na=bundle-only\r\na=recvonly\r\n" + opus;
        QTest::newRow("rejected") << false << "0 UDP/TLS/RTP/SAVPF 111\r\na=recvonly\r\n" + opus;
        QTest::newRow("send only") << false << "9 UDP/TLS/RTP/SAVPF 111\r\na=sendonly\r\n" + opus;
        QTest::newRow("no opus") << false
                                 << "9 UDP/TLS/RTP/SAVPF 0\r\na=rtpmap:0 PCMU/8000\r\na=recvonly\r\n";
        QTest::newRow("mono opus") << false << "9 UDP/TLS/RTP/SAVPF 111\r\na=rtpmap:111 opus/48000\r\n";
    }
    void soundSection() {
        QFETCH(QString, section);
        QFETCH(bool, wanted);
        zuengine::SdpSummary s;
        std::string error;
        const std::string audio = "m=audio " + section.toStdString() + kIce + "a=mid:2\r\n";
        QVERIFY2(SdpCheck::analyse(offer() + audio, s, error), error.c_str());
        QCOMPARE(s.media.size(), size_t(3));
        QCOMPARE(s.audioIndex(), wanted ? 2 : -1);
        QVERIFY(!wanted || s.media[2].opusPayloadType == 111);
        QCOMPARE(s.videoIndex(), 0);
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
        QVERIFY(SdpCheck::parseCandidate("candidate:1 1 UDP 2015363327 10.77.0.1 43245 typ host", c, error));
        QVERIFY(c.address == "10.77.0.1" && c.port == 43245 && c.component == 1 && !c.mdns);
        const std::string mdns =
            "a=candidate:842163049 1 udp 1677729535 0c8e2d4f-1f3a-4b5c.local 54321 typ host "
            "generation 0 ufrag abcd network-cost 999";
        QVERIFY(SdpCheck::parseCandidate(mdns, c, error) && c.mdns);
        QVERIFY(SdpCheck::parseCandidate(
            "candidate:3 1 TCP 1010827519 fe80::1%zuveth0 9 typ host tcptype active", c, error));
        const std::string tooLong = "candidate:1 1 UDP 1 " + std::string(2000, 'a') + " 1 typ host";
        for (const std::string bad :
             {"", "garbage", "candidate", "candidate:", "candidate:1 1 UDP 1 10.0.0.1 5000 typ",
              "x candidate:1 1 UDP 1 a 1 typ host", "candidate:1 0 UDP 1 10.0.0.1 5000 typ host",
              "candidate:1 1 UDP x 10.0.0.1 5000 typ host",
              "candidate:1 1 UDP 99999999999 10.0.0.1 1 typ host", "candidate:1 1 UDP 1 10.0.0.1 -1 typ host",
              "candidate:1 1 UDP 1 10.0.0.1 99999 typ host", "candidate:1 1 SCTP 1 10.0.0.1 5000 typ host",
              "candidate:1 1 UDP 1 10.0.0.1 1 kind host", "candidate:1 1 UDP 1 10.0.0.1 5000 typ nonsense",
              "candidate:1 1 UDP 1 10.0.0.1 5000 typ host raddr",
              "candidate:1 1 UDP 1 10.0.0.1 1 typ host extra", "candidate:1 1 UDP 1 10.0.0.1 1 typ host\x01",
              // Fault once found: a host name here would be looked up in the DNS.
              "candidate:1 1 UDP 1 attacker.example 5000 typ host",
              "candidate:1 1 UDP 1 10.0.0.256 5000 typ host", tooLong.c_str()}) {
            error.clear();
            QVERIFY2(!SdpCheck::parseCandidate(bad, c, error) && !error.empty(), bad.c_str());
        }
    }
};

QTEST_GUILESS_MAIN(TestSdpCheck)
#include "tst_sdpcheck.moc"
