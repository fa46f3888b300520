// The engine's own reading of remote SDP and candidates, without any peer.

#include <QtTest>

#include "rtc/gst/sdpcheck.h"

using zuengine::IceCandidate;
using zuengine::SdpCheck;
using zuengine::SdpSummary;
using zuengine::VideoCodec;

namespace {

std::string offer(const std::string &videoFormats, const std::string &videoAttributes) {
    return "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0 1\r\n"
           "a=fingerprint:sha-256 AA:BB:CC\r\n"
           "m=video 9 UDP/TLS/RTP/SAVPF " +
           videoFormats +
           "\r\nc=IN IP4 0.0.0.0\r\na=ice-ufrag:abcd\r\na=ice-pwd:abcdefghijklmnopqrstuvwx\r\na=mid:0\r\n"
           "a=recvonly\r\n" +
           videoAttributes +
           "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\nc=IN IP4 0.0.0.0\r\na=ice-ufrag:abcd\r\n"
           "a=ice-pwd:abcdefghijklmnopqrstuvwx\r\na=mid:1\r\na=sctp-port:5000\r\n";
}

}  // namespace

class TestSdpCheck : public QObject {
    Q_OBJECT

private slots:
    void codecFollowsTheRemoteOrder();
    void unusableH264IsPassedOver();
    void noCommonCodec();
    void soundSection_data();
    void soundSection();
    void malformedDescriptions();
    void candidates();
};

void TestSdpCheck::codecFollowsTheRemoteOrder() {
    const std::string attrs =
        "a=rtpmap:96 VP8/90000\r\na=rtpmap:102 H264/90000\r\n"
        "a=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f\r\n";
    SdpSummary s;
    std::string error;
    QVERIFY(SdpCheck::analyse(offer("96 102", attrs), s, error));
    QCOMPARE(s.media.size(), size_t(2));
    QCOMPARE(s.videoIndex(), 0);
    QVERIFY(s.media[0].codec == VideoCodec::VP8);
    QCOMPARE(s.media[0].payloadType, 96);
    QCOMPARE(s.media[0].mid, std::string("0"));
    QCOMPARE(s.media[0].direction, std::string("recvonly"));
    QVERIFY(s.hasApplication());
    QVERIFY(SdpCheck::analyse(offer("102 96", attrs), s, error));
    QVERIFY(s.media[0].codec == VideoCodec::H264);
    QCOMPARE(s.media[0].payloadType, 102);
    QCOMPARE(s.media[0].profileLevelId, std::string("42e01f"));
}

void TestSdpCheck::unusableH264IsPassedOver() {
    // High profile and packetization mode 0 come first; the usable constrained baseline is taken.
    const std::string attrs =
        "a=rtpmap:100 H264/90000\r\na=fmtp:100 packetization-mode=1;profile-level-id=64001f\r\n"
        "a=rtpmap:101 H264/90000\r\na=fmtp:101 packetization-mode=0;profile-level-id=42e01f\r\n"
        "a=rtpmap:103 H264/90000\r\na=fmtp:103 packetization-mode=1;profile-level-id=4d801f\r\n";
    SdpSummary s;
    std::string error;
    QVERIFY(SdpCheck::analyse(offer("100 101 103", attrs), s, error));
    QVERIFY(s.media[0].codec == VideoCodec::H264);
    QCOMPARE(s.media[0].payloadType, 103);
    QVERIFY(SdpCheck::isBaselineProfile("42001f"));
    QVERIFY(SdpCheck::isBaselineProfile("42e01f"));
    QVERIFY(SdpCheck::isBaselineProfile(""));
    QVERIFY(!SdpCheck::isBaselineProfile("4d001f"));  // plain main
    QVERIFY(!SdpCheck::isBaselineProfile("640c1f"));
    QVERIFY(!SdpCheck::isBaselineProfile("42e0"));
    QVERIFY(!SdpCheck::isBaselineProfile("zzzzzz"));
}

void TestSdpCheck::noCommonCodec() {
    SdpSummary s;
    std::string error;
    QVERIFY(SdpCheck::analyse(offer("98", "a=rtpmap:98 H265/90000\r\n"), s, error));
    QCOMPARE(s.videoIndex(), -1);
    QVERIFY(s.anyVideo());
    // A rejected video section (port 0) is no usable video either.
    std::string rejected = offer("96", "a=rtpmap:96 VP8/90000\r\n");
    rejected.replace(rejected.find("m=video 9"), 9, "m=video 0");
    QVERIFY(SdpCheck::analyse(rejected, s, error));
    QVERIFY(s.media[0].rejected);
    QCOMPARE(s.videoIndex(), -1);
}

void TestSdpCheck::soundSection_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<bool>("wanted");
    const QString opus = "a=rtpmap:111 OPUS/48000/2\r\n";
    QTest::newRow("receive only") << "m=audio 9 UDP/TLS/RTP/SAVPF 0 111\r\na=recvonly\r\n" + opus << true;
    QTest::newRow("both ways") << "m=audio 9 UDP/TLS/RTP/SAVPF 111\r\n" + opus << true;
    // A bundled section has port 0 with a=bundle-only (webrtcbin's max-bundle offers).
    QTest::newRow("bundle only") << "m=audio 0 UDP/TLS/RTP/SAVPF 111\r\na=bundle-only\r\na=recvonly\r\n" +
                                        opus
                                 << true;
    QTest::newRow("rejected") << "m=audio 0 UDP/TLS/RTP/SAVPF 111\r\na=recvonly\r\n" + opus << false;
    QTest::newRow("send only") << "m=audio 9 UDP/TLS/RTP/SAVPF 111\r\na=sendonly\r\n" + opus << false;
    QTest::newRow("no opus") << "m=audio 9 UDP/TLS/RTP/SAVPF 0\r\na=rtpmap:0 PCMU/8000\r\na=recvonly\r\n"
                             << false;
    QTest::newRow("mono opus") << "m=audio 9 UDP/TLS/RTP/SAVPF 111\r\na=rtpmap:111 opus/48000\r\n" << false;
}

void TestSdpCheck::soundSection() {
    QFETCH(QString, section);
    QFETCH(bool, wanted);
    const std::string audio = section.toStdString() +
                              "c=IN IP4 0.0.0.0\r\na=ice-ufrag:abcd\r\na=ice-pwd:abcdefghijklmnopqrstuvwx\r\n"
                              "a=mid:2\r\n";
    SdpSummary s;
    std::string error;
    QVERIFY2(SdpCheck::analyse(offer("96", "a=rtpmap:96 VP8/90000\r\n") + audio, s, error), error.c_str());
    QCOMPARE(s.media.size(), size_t(3));
    QCOMPARE(s.audioIndex(), wanted ? 2 : -1);
    if (wanted)
        QCOMPARE(s.media[2].opusPayloadType, 111);
    QCOMPARE(s.videoIndex(), 0);
}

void TestSdpCheck::malformedDescriptions() {
    SdpSummary s;
    std::string error;
    const std::string good = offer("96", "a=rtpmap:96 VP8/90000\r\n");
    QVERIFY(SdpCheck::analyse(good, s, error));
    const std::vector<std::string> bad = {
        "",
        "v=1\r\n",
        good.substr(0, good.find("m=video")),                        // no media at all
        std::string("v=0\r\n") + good.substr(good.find("m=video")),  // no o= line
        good + "garbage line\r\n",
        good + std::string("a=x\0y\r\n", 7),
        std::string(SdpCheck::kMaxSdpBytes + 1, 'a'),
    };
    for (const std::string &text : bad) {
        error.clear();
        QVERIFY(!SdpCheck::analyse(text, s, error));
        QVERIFY(!error.empty());
    }
    std::string noFingerprint = good;
    noFingerprint.erase(noFingerprint.find("a=fingerprint"),
                        std::string("a=fingerprint:sha-256 AA:BB:CC\r\n").size());
    QVERIFY(!SdpCheck::analyse(noFingerprint, s, error));
    std::string badPort = good;
    badPort.replace(badPort.find("m=video 9"), 9, "m=video 99999");
    QVERIFY(!SdpCheck::analyse(badPort, s, error));
}

void TestSdpCheck::candidates() {
    IceCandidate c;
    std::string error;
    QVERIFY(SdpCheck::parseCandidate("candidate:1 1 UDP 2015363327 10.77.0.1 43245 typ host", c, error));
    QCOMPARE(c.address, std::string("10.77.0.1"));
    QCOMPARE(c.port, 43245);
    QCOMPARE(c.component, 1);
    QVERIFY(!c.mdns);
    QVERIFY(SdpCheck::parseCandidate(
        "a=candidate:842163049 1 udp 1677729535 0c8e2d4f-1f3a-4b5c.local 54321 typ host "
        "generation 0 ufrag abcd network-cost 999",
        c, error));
    QVERIFY(c.mdns);
    QVERIFY(SdpCheck::parseCandidate("candidate:3 1 TCP 1010827519 fe80::1%zuveth0 9 typ host tcptype active",
                                     c, error));
    for (const char *bad :
         {"", "candidate", "candidate:1 1 UDP 1 10.0.0.1 5000 typ", "x candidate:1 1 UDP 1 a 1 typ host",
          "candidate:1 0 UDP 1 10.0.0.1 5000 typ host", "candidate:1 1 UDP 99999999999 10.0.0.1 1 typ host",
          "candidate:1 1 UDP 1 10.0.0.1 -1 typ host", "candidate:1 1 UDP 1 10.0.0.1 1 kind host",
          "candidate:1 1 UDP 1 10.0.0.1 1 typ host extra", "candidate:1 1 UDP 1 10.0.0.1 1 typ host\x01",
          // A name would be looked up in the DNS.
          "candidate:1 1 UDP 1 attacker.example 5000 typ host",
          "candidate:1 1 UDP 1 10.0.0.256 5000 typ host"}) {
        error.clear();
        QVERIFY2(!SdpCheck::parseCandidate(bad, c, error), bad);
        QVERIFY(!error.empty());
    }
    QVERIFY(!SdpCheck::parseCandidate(
        std::string("candidate:1 1 UDP 1 ") + std::string(2000, 'a') + " 1 typ host", c, error));
}

QTEST_GUILESS_MAIN(TestSdpCheck)
#include "tst_sdpcheck.moc"
