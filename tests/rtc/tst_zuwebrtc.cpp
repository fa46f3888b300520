// The media engine through its C contract: real webrtcbin peers over the test namespace's veth pair.

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "enginepair.h"
#include "rtc/gst/encoder.h"
#include "rtc/gst/videofeed.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "rtc/zuwebrtc.h"
#include "support/testsupport.h"

using enginetest::Endpoint;
using enginetest::EnginePair;
using enginetest::FrameInfo;

namespace {

constexpr int kWidth = 640, kHeight = 360;
constexpr int kConnectMs = 15000;

bool near(int a, int b) {
    return std::abs(a - b) <= 28;
}

// Empty when the delivered picture has this size, packed planes and the synthetic quadrant colours.
QString pictureFault(const FrameInfo &f, int width, int height) {
    if (f.width != width || f.height != height)
        return QString("%1x%2 arrived, %3x%4 expected").arg(f.width).arg(f.height).arg(width).arg(height);
    if (f.strideY != width || f.strideU != (width + 1) / 2 || f.strideV != (width + 1) / 2 || !f.packed)
        return QString("strides %1 %2 %3, packed %4")
            .arg(f.strideY)
            .arg(f.strideU)
            .arg(f.strideV)
            .arg(f.packed);
    for (int q = 0; q < 4; ++q) {
        const zuengine::YuvColour c = zuengine::testing::syntheticColour(q);
        if (!near(f.samples[q][0], c.y) || !near(f.samples[q][1], c.u) || !near(f.samples[q][2], c.v))
            return QString("quadrant %1: %2 %3 %4, expected %5 %6 %7")
                .arg(q)
                .arg(f.samples[q][0])
                .arg(f.samples[q][1])
                .arg(f.samples[q][2])
                .arg(c.y)
                .arg(c.u)
                .arg(c.v);
    }
    return {};
}

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
    return v;
}

}  // namespace

class TestZuWebrtc : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { zuengine::testing::useSyntheticPicture(kWidth, kHeight, 30); }
    void cleanup() {
        zuengine::setOfferPreference(zuengine::VideoCodec::H264);
        QTRY_COMPARE_WITH_TIMEOUT(zuengine::testing::encodersRunning(), 0, 10000);
    }

    void badHandlesAreRefused();
    void peersConnectStreamAndTalk();
    void vp8WhenTheOfferPrefersIt();
    void everySizeArrivesWithItsColours_data();
    void everySizeArrivesWithItsColours();
    void oversizeMessagesAreRefusedAndDropped();
    void candidateBeforeDescriptionStillConnects();
    void closingOneSideIsReportedOnTheOther();
    void noCallbackAfterCloseReturns();
    void closeFromInsideCallbacks();
    void malformedRemoteInputIsRefused();
    void offerWithoutVideoIsAnsweredWithoutMedia();
    void threeViewersShareOneEncoder();
    void stalledViewerDoesNotSlowTheOthers();
    void joiningViewerGetsAKeyFrame();
    void earlyKeyFrameRequestDoesNotBlockLaterOnes();
    void pushedPicturesAreSentAndDemandIsTold();
    void peersComeAndGoInALoop();
    void quietButAliveRemoteIsNotClosed();
    void receiveOnlyPeerAnswersAnOffer();
    void unregisteringTheDataCallbackTakesEffectAtOnce();
};

void TestZuWebrtc::badHandlesAreRefused() {
    uint8_t byte = 1;
    for (int pc : {-1, 0, 4242424}) {
        QCOMPARE(AddStream(pc, 1, 0), ZUWEBRTC_EHANDLE);
        QCOMPARE(AddDataChannel(pc), ZUWEBRTC_EHANDLE);
        QCOMPARE(CreateOffer(pc), ZUWEBRTC_EHANDLE);
        QCOMPARE(CreateAnswer(pc), ZUWEBRTC_EHANDLE);
        QCOMPARE(SetRemoteDescription(pc, "offer", "v=0\r\n"), ZUWEBRTC_EHANDLE);
        QCOMPARE(AddIceCandidate(pc, "candidate:1 1 UDP 1 10.0.0.1 1 typ host", 0, "0"), ZUWEBRTC_EHANDLE);
        QCOMPARE(SendDataViaDataChannel(pc, &byte, 1), ZUWEBRTC_EHANDLE);
        QCOMPARE(RegisterOnPeerClosed(pc, nullptr, nullptr, 0), ZUWEBRTC_EHANDLE);
        QCOMPARE(RegisterOnDataFromDataChannelReady(pc, nullptr, nullptr, nullptr, 0), ZUWEBRTC_EHANDLE);
        QCOMPARE(ClosePeerConnection(pc), ZUWEBRTC_EHANDLE);
    }
    // A closed handle is dead too, and closing twice is harmless.
    int pc = CreatePeerConnection(0, 0, 0, 0, 1);
    QVERIFY(pc > 0);
    QCOMPARE(SetRemoteDescription(pc, "offer", nullptr), ZUWEBRTC_EARG);
    QCOMPARE(SendDataViaDataChannel(pc, &byte, 1), ZUWEBRTC_ESTATE);
    QCOMPARE(AddStream(pc, 1, 0), ZUWEBRTC_ESTATE);  // a receiving peer sends nothing
    QCOMPARE(CreateAnswer(pc), ZUWEBRTC_ESTATE);     // nothing to answer
    QCOMPARE(ClosePeerConnection(pc), ZUWEBRTC_OK);
    QCOMPARE(ClosePeerConnection(pc), ZUWEBRTC_EHANDLE);
    QCOMPARE(CreateOffer(pc), ZUWEBRTC_EHANDLE);
}

void TestZuWebrtc::peersConnectStreamAndTalk() {
    ZU_REQUIRE_TEST_NAMESPACE();
    EnginePair pair;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.ready == 1 && pair.sender.ready == 1, kConnectMs);
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 10, kConnectMs);
    QCOMPARE(QString(zuengine::testing::sendCodec(pair.sender.pc)), QString("H264"));

    const QString fault = pictureFault(pair.receiver.frame(), kWidth, kHeight);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(pair.sender.frames == 0);

    // Messages of 1, 1024 and 17408 bytes, both ways, in order, one per callback.
    const std::vector<size_t> sizes = {1, 1024, ZUWEBRTC_MAX_MESSAGE, 1024, 1};
    for (Endpoint *from : {&pair.receiver, &pair.sender}) {
        Endpoint *to = from->other;
        std::vector<std::vector<uint8_t>> sent;
        for (size_t i = 0; i < sizes.size(); ++i) {
            sent.push_back(pattern(sizes[i], static_cast<uint8_t>(i + 7)));
            QCOMPARE(SendDataViaDataChannel(from->pc, sent.back().data(), static_cast<int>(sizes[i])),
                     ZUWEBRTC_OK);
        }
        std::vector<std::vector<uint8_t>> got;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (auto &m : to->takeMessages())
                    got.push_back(m);
                return got.size() >= sent.size();
            }(),
            10000);
        QCOMPARE(got.size(), sent.size());
        for (size_t i = 0; i < sent.size(); ++i)
            QVERIFY2(got[i] == sent[i], qPrintable(QString("message %1 differs").arg(i)));
        QVERIFY(!to->badBuffer);
    }
    // The ready callback came once on each side and no more.
    QTest::qWait(300);
    QCOMPARE(pair.receiver.ready.load(), 1);
    QCOMPARE(pair.sender.ready.load(), 1);
    QCOMPARE(pair.receiver.closed.load(), 0);
    QCOMPARE(pair.sender.closed.load(), 0);
}

void TestZuWebrtc::vp8WhenTheOfferPrefersIt() {
    ZU_REQUIRE_TEST_NAMESPACE();
    zuengine::setOfferPreference(zuengine::VideoCodec::VP8);
    EnginePair pair;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 5, kConnectMs);
    QCOMPARE(QString(zuengine::testing::sendCodec(pair.sender.pc)), QString("VP8"));
    const QString fault = pictureFault(pair.receiver.frame(), kWidth, kHeight);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestZuWebrtc::everySizeArrivesWithItsColours_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // Widths that are not multiples of 8 have padded rows in GStreamer's own layout, on both sides.
    for (const QSize size : {QSize(1366, 768), QSize(1364, 768), QSize(1002, 700), QSize(1001, 701),
                             QSize(1280, 720), QSize(1920, 1080), QSize(2560, 1440)})
        QTest::addRow("%dx%d", size.width(), size.height()) << size.width() << size.height();
}

void TestZuWebrtc::everySizeArrivesWithItsColours() {
    ZU_REQUIRE_TEST_NAMESPACE();
    QFETCH(int, width);
    QFETCH(int, height);
    zuengine::testing::useSyntheticPicture(width, height, 15);
    EnginePair pair;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 3, kConnectMs);
    // Odd sizes are streamed one pixel smaller, as the capture does.
    const QString fault = pictureFault(pair.receiver.frame(), width & ~1, height & ~1);
    zuengine::testing::useSyntheticPicture(kWidth, kHeight, 30);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestZuWebrtc::oversizeMessagesAreRefusedAndDropped() {
    ZU_REQUIRE_TEST_NAMESPACE();
    EnginePair pair;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.ready == 1 && pair.sender.ready == 1, kConnectMs);
    std::vector<uint8_t> big = pattern(18000, 3);
    QCOMPARE(SendDataViaDataChannel(pair.sender.pc, big.data(), 18000), ZUWEBRTC_ESIZE);
    QCOMPARE(SendDataViaDataChannel(pair.sender.pc, nullptr, 10), ZUWEBRTC_EARG);
    QCOMPARE(SendDataViaDataChannel(pair.sender.pc, big.data(), 0), ZUWEBRTC_EARG);
    // A remote that ignores the limit: 25000 bytes must not be written into the 20480-byte buffer
    // (ASan watches the heap buffer), and the channel carries on.
    std::vector<uint8_t> huge = pattern(25000, 9);
    QCOMPARE(zuengine::testing::sendUnchecked(pair.sender.pc, huge.data(), 25000), ZUWEBRTC_OK);
    std::vector<uint8_t> exact = pattern(ZUWEBRTC_RECEIVE_BUFFER, 5);
    QCOMPARE(zuengine::testing::sendUnchecked(pair.sender.pc, exact.data(), ZUWEBRTC_RECEIVE_BUFFER),
             ZUWEBRTC_OK);
    std::vector<uint8_t> after = pattern(100, 1);
    QCOMPARE(SendDataViaDataChannel(pair.sender.pc, after.data(), 100), ZUWEBRTC_OK);
    std::vector<std::vector<uint8_t>> got;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (auto &m : pair.receiver.takeMessages())
                got.push_back(m);
            return got.size() >= 2;
        }(),
        10000);
    QTest::qWait(200);
    for (auto &m : pair.receiver.takeMessages())
        got.push_back(m);
    QCOMPARE(got.size(), size_t(2));
    QVERIFY(got[0] == exact);
    QVERIFY(got[1] == after);
}

void TestZuWebrtc::candidateBeforeDescriptionStillConnects() {
    ZU_REQUIRE_TEST_NAMESPACE();
    EnginePair pair;
    pair.receiver.holdOffer = true;
    pair.receiver.holdCandidates = true;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.candidates >= 1, kConnectMs);
    QVERIFY(!pair.receiver.offerHeld().empty());
    pair.releaseHeld();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 3, kConnectMs);
    QTRY_VERIFY_WITH_TIMEOUT(pair.sender.ready == 1, kConnectMs);
}

void TestZuWebrtc::closingOneSideIsReportedOnTheOther() {
    ZU_REQUIRE_TEST_NAMESPACE();
    for (bool closeSender : {true, false}) {
        EnginePair pair;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 3 && pair.sender.ready == 1, kConnectMs);
        Endpoint &survivor = closeSender ? pair.receiver : pair.sender;
        QElapsedTimer timer;
        timer.start();
        if (closeSender)
            pair.closeSender();
        else
            pair.closeReceiver();
        QTRY_VERIFY_WITH_TIMEOUT(survivor.closed == 1, 8000);
        qInfo("peer-closed reported %lld ms after the other side closed",
              static_cast<long long>(timer.elapsed()));
        QTest::qWait(600);
        QCOMPARE(survivor.closed.load(), 1);  // once
        Endpoint &gone = closeSender ? pair.sender : pair.receiver;
        QCOMPARE(gone.lateCallbacks.load(), 0);
        QCOMPARE(gone.closed.load(), 0);  // closing ourselves is no news to us
    }
}

void TestZuWebrtc::noCallbackAfterCloseReturns() {
    ZU_REQUIRE_TEST_NAMESPACE();
    for (int round = 0; round < 4; ++round) {
        EnginePair pair;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 2 + round * 3 && pair.sender.ready == 1, kConnectMs);
        // Keep data flowing both ways while closing.
        std::vector<uint8_t> m = pattern(1024, 1);
        for (int i = 0; i < 20; ++i) {
            SendDataViaDataChannel(pair.sender.pc, m.data(), 1024);
            SendDataViaDataChannel(pair.receiver.pc, m.data(), 1024);
        }
        pair.closeReceiver();
        pair.closeSender();
        QTest::qWait(300);
        QCOMPARE(pair.receiver.lateCallbacks.load(), 0);
        QCOMPARE(pair.sender.lateCallbacks.load(), 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(zuengine::testing::openPeers(), 0, 5000);
}

void TestZuWebrtc::closeFromInsideCallbacks() {
    ZU_REQUIRE_TEST_NAMESPACE();
    EnginePair pair;
    pair.receiver.closeSelfAfterFrames = 5;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.released.load(), kConnectMs);
    const int frames = pair.receiver.frames;
    QTest::qWait(500);
    QCOMPARE(pair.receiver.frames.load(), frames);
    QCOMPARE(pair.receiver.lateCallbacks.load(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(pair.sender.closed == 1, 8000);
}

void TestZuWebrtc::malformedRemoteInputIsRefused() {
    ZU_REQUIRE_TEST_NAMESPACE();
    EnginePair pair;
    pair.receiver.holdOffer = true;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(!pair.receiver.offerHeld().empty(), kConnectMs);
    const char *bad[] = {"",
                         "hello",
                         "v=0\r\n",
                         "v=1\r\no=- 1 1 IN IP4 0.0.0.0\r\nm=video 9 UDP 96\r\n",
                         ("v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=-\r\nm=video 9 UDP/TLS/RTP/SAVPF 96\r\n"
                          "a=rtpmap:96 VP8/90000\r\n"),  // no ICE credentials nor fingerprint
                         "v=0\r\nthis is not sdp\r\n"};
    for (const char *sdp : bad)
        QCOMPARE(SetRemoteDescription(pair.sender.pc, "offer", sdp), ZUWEBRTC_EARG);
    QCOMPARE(SetRemoteDescription(pair.sender.pc, "pranswer", "v=0\r\n"), ZUWEBRTC_EARG);
    QCOMPARE(SetRemoteDescription(pair.sender.pc, "answer", pair.receiver.offerHeld().c_str()),
             ZUWEBRTC_ESTATE);
    const char *badCandidates[] = {"garbage",
                                   "candidate:",
                                   "candidate:1 1 UDP x 10.77.0.1 5000 typ host",
                                   "candidate:1 1 UDP 1 10.77.0.1 99999 typ host",
                                   "candidate:1 1 SCTP 1 10.77.0.1 5000 typ host",
                                   "candidate:1 1 UDP 1 10.77.0.1 5000 typ nonsense",
                                   "candidate:1 1 UDP 1 10.77.0.1 5000 typ host raddr"};
    for (const char *c : badCandidates)
        QCOMPARE(AddIceCandidate(pair.sender.pc, c, 0, "0"), ZUWEBRTC_EARG);
    QCOMPARE(AddIceCandidate(pair.sender.pc, "candidate:1 1 UDP 1 10.77.0.1 5000 typ host", -1, "0"),
             ZUWEBRTC_EARG);
    // A well-formed candidate for a media section that does not exist is ignored later, not fatal.
    QCOMPARE(AddIceCandidate(pair.sender.pc, "candidate:1 1 UDP 1 10.77.0.9 5000 typ host", 40, "x"),
             ZUWEBRTC_OK);
    // The peer is still usable: the real offer connects.
    pair.releaseHeld();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 3, kConnectMs);
}

void TestZuWebrtc::offerWithoutVideoIsAnsweredWithoutMedia() {
    ZU_REQUIRE_TEST_NAMESPACE();
    // The receiver's real offer with its video section rewritten: once without any video section,
    // once with only a codec we do not send.
    for (int variant = 0; variant < 2; ++variant) {
        EnginePair pair;
        pair.receiver.holdOffer = true;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(!pair.receiver.offerHeld().empty(), kConnectMs);
        const QString offer = QString::fromStdString(pair.receiver.offerHeld());
        QStringList lines = offer.split("\r\n");
        QStringList out;
        bool inVideo = false;
        for (const QString &l : lines) {
            if (l.startsWith("m="))
                inVideo = l.startsWith("m=video");
            if (variant == 0 && inVideo)
                continue;
            if (variant == 0 && l.startsWith("a=group:BUNDLE"))
                continue;
            QString line = l;
            if (variant == 1 && inVideo)
                line.replace("VP8/90000", "H265/90000").replace("H264/90000", "H265/90000");
            out << line;
        }
        QByteArray edited = out.join("\r\n").toUtf8();
        QCOMPARE(SetRemoteDescription(pair.sender.pc, "offer", edited.constData()), ZUWEBRTC_OK);
        QCOMPARE(CreateAnswer(pair.sender.pc), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                std::lock_guard<std::mutex> lock(pair.sender.mutex);
                return !pair.sender.sdps.empty();
            }(),
            10000);
        std::string answer;
        {
            std::lock_guard<std::mutex> lock(pair.sender.mutex);
            answer = pair.sender.sdps.front();
        }
        QVERIFY(answer.rfind("answer\n", 0) == 0);
        // No video goes out: the section is left out, rejected or inactive.
        const size_t video = answer.find("m=video");
        if (video != std::string::npos) {
            const std::string section = answer.substr(video, answer.find("m=", video + 2) - video);
            QVERIFY2(section.rfind("m=video 0 ", 0) == 0 || section.find("a=inactive") != std::string::npos,
                     answer.c_str());
        }
        QVERIFY(answer.find("m=application") != std::string::npos);
        QCOMPARE(QString(zuengine::testing::sendCodec(pair.sender.pc)), QString("none"));
        QCOMPARE(zuengine::testing::encodersRunning(), 0);
    }
}

void TestZuWebrtc::threeViewersShareOneEncoder() {
    ZU_REQUIRE_TEST_NAMESPACE();
    const int before = zuengine::testing::encodersCreated();
    std::vector<std::unique_ptr<EnginePair>> pairs;
    for (int i = 0; i < 3; ++i) {
        pairs.push_back(std::make_unique<EnginePair>());
        pairs.back()->start();
    }
    for (auto &p : pairs)
        QTRY_VERIFY_WITH_TIMEOUT(p->receiver.frames > 10, kConnectMs);
    QCOMPARE(zuengine::testing::encodersRunning(), 1);
    QCOMPARE(zuengine::testing::encodersCreated(), before + 1);
    // A viewer leaving does not disturb the others.
    pairs[0].reset();
    const int f1 = pairs[1]->receiver.frames, f2 = pairs[2]->receiver.frames;
    QTRY_VERIFY_WITH_TIMEOUT(pairs[1]->receiver.frames > f1 + 15 && pairs[2]->receiver.frames > f2 + 15,
                             5000);
    QCOMPARE(zuengine::testing::encodersRunning(), 1);
}

void TestZuWebrtc::stalledViewerDoesNotSlowTheOthers() {
    ZU_REQUIRE_TEST_NAMESPACE();
    std::vector<std::unique_ptr<EnginePair>> pairs;
    for (int i = 0; i < 3; ++i) {
        pairs.push_back(std::make_unique<EnginePair>());
        pairs.back()->start();
    }
    for (auto &p : pairs)
        QTRY_VERIFY_WITH_TIMEOUT(p->receiver.frames > 3, kConnectMs);
    pairs[0]->receiver.frameSleepMs = 400;  // this viewer hardly reads
    QTest::qWait(500);
    const int s0 = pairs[0]->receiver.frames, a0 = pairs[1]->receiver.frames, b0 = pairs[2]->receiver.frames;
    QTest::qWait(3000);
    const int slow = pairs[0]->receiver.frames - s0;
    const int a = pairs[1]->receiver.frames - a0, b = pairs[2]->receiver.frames - b0;
    qInfo("frames in 3 s: stalled viewer %d, others %d and %d", slow, a, b);
    QVERIFY(a > 3 * std::max(slow, 5));
    QVERIFY(b > 3 * std::max(slow, 5));
    pairs[0]->receiver.frameSleepMs = 0;
}

void TestZuWebrtc::joiningViewerGetsAKeyFrame() {
    ZU_REQUIRE_TEST_NAMESPACE();
    EnginePair first;
    first.start();
    QTRY_VERIFY_WITH_TIMEOUT(first.receiver.frames > 20, kConnectMs);
    // Well inside the encoder's own key-frame interval (150 frames): a new key frame now is the
    // joining viewer's.
    const int64_t keys = zuengine::testing::keyFramesProduced();
    const int before = first.receiver.frames;
    EnginePair second;
    second.start();
    QTRY_VERIFY_WITH_TIMEOUT(second.receiver.frames > 0, kConnectMs);
    QVERIFY(zuengine::testing::keyFramesProduced() > keys);
    QTRY_VERIFY_WITH_TIMEOUT(first.receiver.frames > before + 10, 5000);
}

void TestZuWebrtc::earlyKeyFrameRequestDoesNotBlockLaterOnes() {
    // A viewer that connects before the encoder's first picture asks for a key frame at once; later
    // requests must still be honoured long before the periodic key frame (150 pictures).
    (void)zuengine::testing::encodersRunning();  // GStreamer is up
    std::mutex mutex;
    std::vector<bool> keys;
    zuengine::Encoder encoder(zuengine::VideoCodec::H264, [&](zuengine::VideoCodec, GstSample *sample) {
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        std::lock_guard<std::mutex> lock(mutex);
        keys.push_back(buffer && !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT));
    });
    QVERIFY(encoder.start());
    const int w = 320, h = 180;
    GstCaps *caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, w, "height",
                            G_TYPE_INT, h, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
    auto out = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return keys;
    };
    auto pushPicture = [&](int n) {
        GstBuffer *picture = gst_buffer_new_allocate(nullptr, w * h * 3 / 2, nullptr);
        gst_buffer_memset(picture, 0, static_cast<guint8>(n * 7), w * h * 3 / 2);
        encoder.push(picture, caps, w, h);
        gst_buffer_unref(picture);
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
    };
    encoder.requestKeyFrame();
    int n = 0;
    while (out().empty() && n < 30)
        pushPicture(n++);
    QVERIFY(!out().empty() && out().front());
    const auto keysAfter = [&](size_t from) {
        const std::vector<bool> v = out();
        return v.size() > from ? std::count(v.begin() + static_cast<long>(from), v.end(), true) : 0L;
    };
    // The first viewer connects just after the encoder started: its key frame must not wait out the
    // throttle's gap, which the encoder's first picture used to start.
    size_t from = out().size();
    encoder.requestKeyFrame();
    for (int i = 0; i < 3; ++i)
        pushPicture(n++);
    QVERIFY2(keysAfter(from) == 1, "a request just after the first picture waited");
    // A second request inside the gap is held, not lost.
    from = out().size();
    encoder.requestKeyFrame();
    for (int i = 0; i < 12; ++i)
        pushPicture(n++);
    QVERIFY2(keysAfter(from) == 1, "a request inside the gap was lost or not held");
    gst_caps_unref(caps);
    encoder.stop();
}

void TestZuWebrtc::pushedPicturesAreSentAndDemandIsTold() {
    ZU_REQUIRE_TEST_NAMESPACE();
    std::atomic<int> wanted{0}, unwanted{0};
    zuengine::VideoFeed::instance().setDemandListener([&](bool on) { (on ? wanted : unwanted)++; });
    zuengine::testing::useCapturedPictures();
    const int w = 480, h = 270, strideY = 512, strideC = 256;  // padded rows, as capturers give
    std::vector<uint8_t> y(strideY * h, 180), u(strideC * h / 2, 60), v(strideC * h / 2, 200);
    std::atomic<bool> pushing{true};
    std::thread capturer([&] {
        while (pushing) {
            zuengine::I420View p;
            p.y = y.data();
            p.u = u.data();
            p.v = v.data();
            p.strideY = strideY;
            p.strideU = p.strideV = strideC;
            p.width = w;
            p.height = h;
            zuengine::VideoFeed::instance().push(p);
            std::this_thread::sleep_for(std::chrono::milliseconds(33));
        }
    });
    {
        EnginePair pair;
        pair.start();
        QTRY_COMPARE_WITH_TIMEOUT(wanted.load(), 1, kConnectMs);
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 10, kConnectMs);
        FrameInfo f = pair.receiver.frame();
        QCOMPARE(f.width, w);
        QCOMPARE(f.height, h);
        QVERIFY(f.packed);
        for (int q = 0; q < 4; ++q)
            QVERIFY(near(f.samples[q][0], 180) && near(f.samples[q][1], 60) && near(f.samples[q][2], 200));
        // The capturer goes quiet: the synthetic picture stands in, at the stream's size.
        pushing = false;
        capturer.join();
        zuengine::YuvColour c = zuengine::testing::syntheticColour(0);
        QTRY_VERIFY_WITH_TIMEOUT(near(pair.receiver.frame().samples[0][0], c.y), 5000);
        QCOMPARE(pair.receiver.frame().width, w);
        QCOMPARE(unwanted.load(), 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(unwanted.load(), 1, 5000);
    QCOMPARE(wanted.load(), 1);
    zuengine::VideoFeed::instance().setDemandListener(nullptr);
    zuengine::testing::useSyntheticPicture(kWidth, kHeight, 30);
}

void TestZuWebrtc::peersComeAndGoInALoop() {
    ZU_REQUIRE_TEST_NAMESPACE();
    for (int i = 0; i < 20; ++i) {
        const int a = CreatePeerConnection(0, 0, 0, 0, 1);
        const int b = CreatePeerConnection(0, 0, 0, 0, 0);
        QVERIFY(a > 0 && b > 0 && a != b);
        AddStream(b, 1, 0);
        AddDataChannel(a);
        if (i % 2)
            CreateOffer(a);
        QCOMPARE(ClosePeerConnection(i % 3 ? a : b), ZUWEBRTC_OK);
        QCOMPARE(ClosePeerConnection(i % 3 ? b : a), ZUWEBRTC_OK);
    }
    // Closed in the middle of negotiation and of connecting.
    for (int i = 0; i < 4; ++i) {
        EnginePair pair;
        pair.start();
        if (i % 2)
            QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.candidates > 0, kConnectMs);
        else
            QTRY_VERIFY_WITH_TIMEOUT(pair.sender.candidates > 0, kConnectMs);
    }
    // Connected, with the data channel open and pictures arriving, then closed from either side.
    for (int i = 0; i < 3; ++i) {
        EnginePair pair;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            pair.receiver.frames > 2 && pair.receiver.ready == 1 && pair.sender.ready == 1, kConnectMs);
        const std::vector<uint8_t> message = pattern(1024, static_cast<uint8_t>(i));
        QCOMPARE(SendDataViaDataChannel(pair.receiver.pc, message.data(), int(message.size())), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                std::lock_guard<std::mutex> lock(pair.sender.mutex);
                return pair.sender.messages.size() == 1 && pair.sender.messages.front() == message;
            }(),
            kConnectMs);
        if (i % 2)
            pair.closeSender();
    }
    QTRY_COMPARE_WITH_TIMEOUT(zuengine::testing::openPeers(), 0, 5000);
}

void TestZuWebrtc::quietButAliveRemoteIsNotClosed() {
    ZU_REQUIRE_TEST_NAMESPACE();
    // The vanishing-peer watch must not fire on a live peer that only receives (its remote sends
    // nothing but RTCP reports) or that only sends.
    EnginePair pair;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 3 && pair.sender.ready == 1, kConnectMs);
    QTest::qWait(12000);
    QCOMPARE(pair.sender.closed.load(), 0);
    QCOMPARE(pair.receiver.closed.load(), 0);
}

void TestZuWebrtc::receiveOnlyPeerAnswersAnOffer() {
    ZU_REQUIRE_TEST_NAMESPACE();
    for (zuengine::VideoCodec codec : {zuengine::VideoCodec::H264, zuengine::VideoCodec::VP8}) {
        zuengine::setOfferPreference(codec);
        EnginePair pair;
        pair.start(true);
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 5, kConnectMs);
        QCOMPARE(QString(zuengine::testing::sendCodec(pair.sender.pc)), QString(zuengine::codecName(codec)));
        FrameInfo f = pair.receiver.frame();
        QCOMPARE(f.width, kWidth);
        QCOMPARE(f.height, kHeight);
        zuengine::YuvColour c = zuengine::testing::syntheticColour(1);
        QVERIFY(near(f.samples[1][0], c.y) && near(f.samples[1][1], c.u) && near(f.samples[1][2], c.v));
        // The answer receives only: no video goes back to the offering side.
        std::string answer;
        {
            std::lock_guard<std::mutex> lock(pair.receiver.mutex);
            QVERIFY(!pair.receiver.sdps.empty());
            answer = pair.receiver.sdps.front();
        }
        QVERIFY(answer.rfind("answer\n", 0) == 0);
        QVERIFY2(answer.find("a=recvonly") != std::string::npos, answer.c_str());
        QCOMPARE(pair.sender.frames.load(), 0);
    }
}

namespace {

struct FloodReceiver {
    std::atomic<int> calls{0};
    std::atomic<bool> unregistered{false};
    std::atomic<int> late{0};
    uint8_t buffer[ZUWEBRTC_RECEIVE_BUFFER];
};

void onFloodData(uint8_t *, int, void *user) {
    auto *r = static_cast<FloodReceiver *>(user);
    if (r->unregistered)
        r->late++;
    r->calls++;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // be inside the callback often
}

}  // namespace

void TestZuWebrtc::unregisteringTheDataCallbackTakesEffectAtOnce() {
    ZU_REQUIRE_TEST_NAMESPACE();
    EnginePair pair;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.ready == 1 && pair.sender.ready == 1, kConnectMs);
    for (int round = 0; round < 5; ++round) {
        auto r = std::make_unique<FloodReceiver>();
        QCOMPARE(RegisterOnDataFromDataChannelReady(pair.receiver.pc, onFloodData, r->buffer, r.get(), 1),
                 ZUWEBRTC_OK);
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            std::vector<uint8_t> m = pattern(1024, 2);
            while (flooding) {
                SendDataViaDataChannel(pair.sender.pc, m.data(), 1024);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(r->calls > 20, 10000);
        // As a transferor's destructor does: after this returns the receiver may be freed.
        QCOMPARE(RegisterOnDataFromDataChannelReady(pair.receiver.pc, nullptr, nullptr, nullptr, 0),
                 ZUWEBRTC_OK);
        r->unregistered = true;
        QTest::qWait(100);
        QCOMPARE(r->late.load(), 0);
        r.reset();  // ASan sees any later write into its buffer
        QTest::qWait(100);
        flooding = false;
        flood.join();
    }
}

QTEST_GUILESS_MAIN(TestZuWebrtc)
#include "tst_zuwebrtc.moc"
