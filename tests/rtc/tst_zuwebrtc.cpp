// The media engine through its C contract: real webrtcbin peers over the test namespace's veth pair.

#include <QtTest>

#include <memory>
#include <thread>

#include "enginepair.h"
#include "rtc/gst/encoder.h"
#include "rtc/gst/videofeed.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "rtc/zuwebrtc.h"
#include "support/testsupport.h"

using namespace enginetest;
using zuengine::VideoCodec;
using Bytes = std::vector<uint8_t>;
namespace engine = zuengine::testing;
Q_DECLARE_METATYPE(zuengine::VideoCodec)

namespace {

constexpr int kWidth = 640, kHeight = 360, kConnectMs = 15000;

const auto near = [](int a, int b) { return std::abs(a - b) <= 28; };

bool showsThePicture(const FrameInfo &f, int width, int height) {
    bool ok = f.width == width && f.height == height && f.strideY == width && f.packed &&
              f.strideU == (width + 1) / 2 && f.strideV == f.strideU;
    for (int q = 0; q < 4; ++q) {
        const zuengine::YuvColour c = engine::syntheticColour(q);
        ok = ok && near(f.samples[q][0], c.y) && near(f.samples[q][1], c.u) && near(f.samples[q][2], c.v);
    }
    if (!ok)
        qWarning("%dx%d, strides %d %d %d, packed %d, first sample %d %d %d", f.width, f.height, f.strideY,
                 f.strideU, f.strideV, f.packed, f.samples[0][0], f.samples[0][1], f.samples[0][2]);
    return ok;
}

Bytes pattern(size_t size, uint8_t seed) {
    Bytes v(size);
    for (size_t i = 0; i < size; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
    return v;
}

// Starts the pair; true once pictures arrive and, when the receiver offers, both channel ends are open.
bool connectPair(EnginePair &pair, int frames = 3, bool senderOffers = false) {
    pair.start(senderOffers);
    return testsupport::waitUntil(
        [&] {
            return pair.receiver.frames > frames &&
                   (senderOffers || (pair.receiver.ready == 1 && pair.sender.ready == 1));
        },
        kConnectMs);
}

std::vector<Bytes> receive(Endpoint &to, size_t count) {
    std::vector<Bytes> got;
    testsupport::waitUntil(
        [&] {
            for (Bytes &m : to.takeMessages())
                got.push_back(std::move(m));
            return got.size() >= count;
        },
        10000);
    return got;
}

std::string firstSdp(Endpoint &e) {
    std::lock_guard<std::mutex> lock(e.mutex);
    return e.sdps.empty() ? std::string() : e.sdps.front();
}

}  // namespace

class TestZuWebrtc : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { engine::useSyntheticPicture(kWidth, kHeight, 30); }
    void init() { ZU_REQUIRE_TEST_NAMESPACE(); }
    void cleanup() {
        zuengine::VideoFeed::instance().setDemandListener(nullptr);
        engine::useSyntheticPicture(kWidth, kHeight, 30);
        zuengine::setOfferPreference(VideoCodec::H264);
        QTRY_COMPARE_WITH_TIMEOUT(engine::encodersRunning(), 0, 10000);
    }

    void badHandlesAreRefusedAndPeersCloseInAnyOrder() {
        uint8_t byte = 1;
        for (int pc : {-1, 0, 4242424}) {
            for (int result :
                 {AddStream(pc, 1, 0), AddDataChannel(pc), CreateOffer(pc), CreateAnswer(pc),
                  SetRemoteDescription(pc, "offer", "v=0\r\n"),
                  AddIceCandidate(pc, "candidate:1 1 UDP 1 10.0.0.1 1 typ host", 0, "0"),
                  SendDataViaDataChannel(pc, &byte, 1), RegisterOnPeerClosed(pc, nullptr, nullptr, 0),
                  RegisterOnDataFromDataChannelReady(pc, nullptr, nullptr, nullptr, 0),
                  ClosePeerConnection(pc)})
                QCOMPARE(result, ZUWEBRTC_EHANDLE);
        }
        // A closed handle is dead too, and closing twice is harmless.
        const int pc = CreatePeerConnection(0, 0, 0, 0, 1);
        QVERIFY(pc > 0);
        QCOMPARE(SetRemoteDescription(pc, "offer", nullptr), ZUWEBRTC_EARG);
        QCOMPARE(SendDataViaDataChannel(pc, &byte, 1), ZUWEBRTC_ESTATE);
        QCOMPARE(AddStream(pc, 1, 0), ZUWEBRTC_ESTATE);  // a receiving peer sends nothing
        QCOMPARE(CreateAnswer(pc), ZUWEBRTC_ESTATE);     // nothing to answer
        QCOMPARE(ClosePeerConnection(pc), ZUWEBRTC_OK);
        QCOMPARE(ClosePeerConnection(pc), ZUWEBRTC_EHANDLE);
        QCOMPARE(CreateOffer(pc), ZUWEBRTC_EHANDLE);
        // Unconnected peers, some in the middle of negotiation, close in either order.
        for (int i = 0; i < 20; ++i) {
            const int a = CreatePeerConnection(0, 0, 0, 0, 1), b = CreatePeerConnection(0, 0, 0, 0, 0);
            QVERIFY(a > 0 && b > 0 && a != b);
            AddStream(b, 1, 0);
            AddDataChannel(a);
            if (i % 2)
                CreateOffer(a);
            QCOMPARE(ClosePeerConnection(i % 3 ? a : b), ZUWEBRTC_OK);
            QCOMPARE(ClosePeerConnection(i % 3 ? b : a), ZUWEBRTC_OK);
        }
        QTRY_COMPARE_WITH_TIMEOUT(engine::openPeers(), 0, 5000);
    }

    void dataChannelKeepsItsLimitsAndThePairStaysUp() {
        EnginePair pair;
        QVERIFY(connectPair(pair, 10));
        // From one byte to the largest message, both ways, in order, one per callback.
        for (Endpoint *from : {&pair.receiver, &pair.sender}) {
            std::vector<Bytes> sent;
            for (int size : {1, 1024, ZUWEBRTC_MAX_MESSAGE, 1024, 1}) {
                sent.push_back(pattern(size, static_cast<uint8_t>(sent.size() + 7)));
                QCOMPARE(SendDataViaDataChannel(from->pc, sent.back().data(), size), ZUWEBRTC_OK);
            }
            QVERIFY(receive(*from->other, sent.size()) == sent);
            QVERIFY(!from->other->badBuffer);
        }
        const int pc = pair.sender.pc, rx = pair.receiver.pc;
        const Bytes huge = pattern(25000, 9), exact = pattern(ZUWEBRTC_RECEIVE_BUFFER, 5),
                    after = pattern(100, 1);
        QCOMPARE(SendDataViaDataChannel(pc, huge.data(), ZUWEBRTC_MAX_MESSAGE + 1), ZUWEBRTC_ESIZE);
        QCOMPARE(SendDataViaDataChannel(pc, nullptr, 10), ZUWEBRTC_EARG);
        QCOMPARE(SendDataViaDataChannel(pc, huge.data(), 0), ZUWEBRTC_EARG);
        // A remote that ignores the limit must not overrun the receive buffer (ASan watches it), and the
        // ordered channel carries on: whatever the huge message left behind arrives before `after`.
        QCOMPARE(engine::sendUnchecked(pc, huge.data(), 25000), ZUWEBRTC_OK);
        QCOMPARE(engine::sendUnchecked(pc, exact.data(), ZUWEBRTC_RECEIVE_BUFFER), ZUWEBRTC_OK);
        QCOMPARE(SendDataViaDataChannel(pc, after.data(), 100), ZUWEBRTC_OK);
        QVERIFY(receive(pair.receiver, 2) == (std::vector<Bytes>{exact, after}));
        // Fault once found: a data callback could still run after unregistering it had returned.
        struct Receiver {
            std::atomic<int> calls{0}, late{0};
            std::atomic<bool> unregistered{false};
            uint8_t buffer[ZUWEBRTC_RECEIVE_BUFFER];
        };
        const auto onData = [](uint8_t *, int, void *user) {
            auto *r = static_cast<Receiver *>(user);
            r->late += r->unregistered ? 1 : 0;
            r->calls++;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // be inside the callback often
        };
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            const Bytes m = pattern(1024, 2);
            for (; flooding; std::this_thread::sleep_for(std::chrono::microseconds(300)))
                SendDataViaDataChannel(pair.sender.pc, m.data(), 1024);
        });
        for (int round = 0; round < 5; ++round) {
            auto r = std::make_unique<Receiver>();
            QCOMPARE(RegisterOnDataFromDataChannelReady(rx, onData, r->buffer, r.get(), 1), ZUWEBRTC_OK);
            QTRY_VERIFY_WITH_TIMEOUT(r->calls > 20, 10000);
            // As a transferor's destructor does: after this returns the receiver may be freed.
            QCOMPARE(RegisterOnDataFromDataChannelReady(rx, nullptr, nullptr, nullptr, 0), ZUWEBRTC_OK);
            r->unregistered = true;
            QTest::qWait(100);
            QCOMPARE(r->late.load(), 0);
        }  // ASan sees any later write into a freed receiver's buffer
        QTest::qWait(100);
        flooding = false;
        flood.join();
        // Fault once found: the 4 s silence watch closed a live pair whose receiver sends only RTCP.
        QTest::qWait(12000);
        for (Endpoint *e : {&pair.receiver, &pair.sender})
            QVERIFY(e->ready == 1 && e->closed == 0);
    }

    void pictureArrivesInTheOfferedCodec_data() {
        QTest::addColumn<VideoCodec>("codec");
        QTest::addColumn<bool>("senderOffers");
        QTest::addColumn<QSize>("size");
        QTest::newRow("vp8 offered by the receiver") << VideoCodec::VP8 << false << QSize(kWidth, kHeight);
        QTest::newRow("h264 offered by the sender") << VideoCodec::H264 << true << QSize(kWidth, kHeight);
        QTest::newRow("vp8 offered by the sender") << VideoCodec::VP8 << true << QSize(kWidth, kHeight);
        // Fault once found: widths not multiples of 8 have padded rows in GStreamer's own layout.
        for (const QSize size : {QSize(1366, 768), QSize(1364, 768), QSize(1002, 700), QSize(1001, 701),
                                 QSize(1280, 720), QSize(1920, 1080), QSize(2560, 1440)})
            QTest::addRow("h264 %dx%d", size.width(), size.height()) << VideoCodec::H264 << false << size;
    }
    void pictureArrivesInTheOfferedCodec() {
        QFETCH(VideoCodec, codec);
        QFETCH(bool, senderOffers);
        QFETCH(QSize, size);
        zuengine::setOfferPreference(codec);
        engine::useSyntheticPicture(size.width(), size.height(), 15);
        EnginePair pair;
        QVERIFY(connectPair(pair, 3, senderOffers));
        QCOMPARE(QString(engine::sendCodec(pair.sender.pc)), QString(zuengine::codecName(codec)));
        // Odd sizes are streamed one pixel smaller, as the capture does.
        QVERIFY(showsThePicture(pair.receiver.frame(), size.width() & ~1, size.height() & ~1));
        // A receive-only answer: no video goes back to the offering side.
        const std::string answer = firstSdp(pair.receiver);
        QVERIFY2(
            !senderOffers || (answer.rfind("answer\n", 0) == 0 && answer.find("a=recvonly") != answer.npos),
            answer.c_str());
        QCOMPARE(pair.sender.frames.load(), 0);
    }

    void closingIsReportedOnceAndNoCallbackFollows_data() {
        QTest::addColumn<int>("frames");  // pictures before the first close; -1: while negotiating
        QTest::addColumn<bool>("closeSender");
        QTest::addColumn<bool>("fromInside");  // the receiver closes itself from its frame callback
        QTest::addColumn<bool>("both");        // the other side closes at once, data flowing both ways
        QTest::newRow("negotiating, receiver first") << -1 << false << false << true;
        QTest::newRow("negotiating, sender first") << -1 << true << false << true;
        QTest::newRow("sender closes") << 3 << true << false << false;
        QTest::newRow("receiver closes") << 3 << false << false << false;
        QTest::newRow("receiver closes from its frame callback") << 5 << false << true << false;
        QTest::newRow("both close, sender first") << 2 << true << false << true;
        QTest::newRow("both close, receiver first") << 5 << false << false << true;
        QTest::newRow("both close later") << 11 << true << false << true;
    }
    void closingIsReportedOnceAndNoCallbackFollows() {
        QFETCH(int, frames);
        QFETCH(bool, closeSender);
        QFETCH(bool, fromInside);
        QFETCH(bool, both);
        EnginePair pair;
        pair.receiver.closeSelfAfterFrames = fromInside ? frames : 0;
        pair.start();
        Endpoint &gone = closeSender ? pair.sender : pair.receiver, &survivor = *gone.other;
        QTRY_VERIFY_WITH_TIMEOUT(frames < 0   ? gone.candidates > 0
                                 : fromInside ? gone.released.load()
                                              : pair.receiver.frames > frames && pair.sender.ready == 1,
                                 kConnectMs);
        const Bytes m = pattern(1024, 1);
        for (int i = 0; both && frames >= 0 && i < 20; ++i) {
            SendDataViaDataChannel(pair.sender.pc, m.data(), 1024);
            SendDataViaDataChannel(pair.receiver.pc, m.data(), 1024);
        }
        if (!fromInside)
            closeSender ? pair.closeSender() : pair.closeReceiver();
        const int received = pair.receiver.frames;
        if (both)
            closeSender ? pair.closeReceiver() : pair.closeSender();
        else
            QTRY_VERIFY_WITH_TIMEOUT(survivor.closed == 1, 8000);
        QTest::qWait(600);  // room for a late or a second callback
        QVERIFY(closeSender || pair.receiver.frames == received);
        QVERIFY(gone.closed == 0 && gone.lateCallbacks == 0 && survivor.lateCallbacks == 0);
        QVERIFY(both || survivor.closed == 1);
    }

    void candidatesBeforeTheOfferAndHostileInputLeaveThePeerUsable() {
        // What the parser refuses is in tst_sdpcheck; here the refusal must reach the caller.
        EnginePair pair;
        pair.receiver.holdOffer = pair.receiver.holdCandidates = true;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.candidates >= 1 && !pair.receiver.offerHeld().empty(),
                                 kConnectMs);
        const int pc = pair.sender.pc;
        const std::string offer = pair.receiver.offerHeld();
        QCOMPARE(SetRemoteDescription(pc, "offer", "v=0\r\nthis is not sdp\r\n"), ZUWEBRTC_EARG);
        QCOMPARE(SetRemoteDescription(pc, "pranswer", offer.c_str()), ZUWEBRTC_EARG);
        QCOMPARE(SetRemoteDescription(pc, "answer", offer.c_str()), ZUWEBRTC_ESTATE);
        QCOMPARE(AddIceCandidate(pc, "candidate:1 1 UDP 1 10.0.0.1 5000 typ nonsense", 0, "0"),
                 ZUWEBRTC_EARG);
        QCOMPARE(AddIceCandidate(pc, "candidate:1 1 UDP 1 10.0.0.1 5000 typ host", -1, "0"), ZUWEBRTC_EARG);
        // A well-formed candidate for a media section that does not exist is ignored later, not fatal.
        QCOMPARE(AddIceCandidate(pc, "candidate:1 1 UDP 1 10.77.0.9 5000 typ host", 40, "x"), ZUWEBRTC_OK);
        pair.releaseHeld();  // the candidates first, then the offer
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames > 3 && pair.sender.ready == 1, kConnectMs);
    }

    void offerWithoutVideoIsAnsweredWithoutMedia() {
        // The receiver's real offer without its video section, then with only a codec we do not send.
        for (bool dropVideo : {true, false}) {
            EnginePair pair;
            pair.receiver.holdOffer = true;
            pair.start();
            QTRY_VERIFY_WITH_TIMEOUT(!pair.receiver.offerHeld().empty(), kConnectMs);
            QString sdp = QString::fromStdString(pair.receiver.offerHeld());
            if (dropVideo)
                sdp.remove(QRegularExpression("a=group:BUNDLE[^\\r]*\\r\\n|m=video.*(?=m=)",
                                              QRegularExpression::DotMatchesEverythingOption |
                                                  QRegularExpression::InvertedGreedinessOption));
            else
                sdp.replace("VP8/90000", "H265/90000").replace("H264/90000", "H265/90000");
            QCOMPARE(SetRemoteDescription(pair.sender.pc, "offer", qPrintable(sdp)), ZUWEBRTC_OK);
            QCOMPARE(CreateAnswer(pair.sender.pc), ZUWEBRTC_OK);
            QTRY_VERIFY_WITH_TIMEOUT(!firstSdp(pair.sender).empty(), 10000);
            const QString answer = QString::fromStdString(firstSdp(pair.sender));
            QVERIFY(answer.startsWith("answer\n") && answer.contains("m=application"));
            // No video goes out: the section is left out, rejected or inactive.
            const QString video = answer.section("m=video", 1, 1).section("m=", 0, 0);
            QVERIFY2(video.isEmpty() || video.startsWith(" 0 ") || video.contains("a=inactive"),
                     qPrintable(answer));
            QCOMPARE(QString(engine::sendCodec(pair.sender.pc)), QString("none"));
            QCOMPARE(engine::encodersRunning(), 0);
        }
    }

    void viewersShareOneEncoderAndNoneHoldsUpTheOthers() {
        const int created = engine::encodersCreated();
        EnginePair pairs[3];
        const auto frames = [&](int i) { return pairs[i].receiver.frames.load(); };
        pairs[0].start();
        QTRY_VERIFY_WITH_TIMEOUT(frames(0) > 20, kConnectMs);
        // Well inside the encoder's own key-frame interval (150 pictures): a new key frame now is for
        // the joining viewers.
        const int64_t keys = engine::keyFramesProduced();
        pairs[1].start();
        pairs[2].start();
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(frames(i) > 10, kConnectMs);
        QVERIFY(engine::keyFramesProduced() > keys);
        QVERIFY(engine::encodersRunning() == 1 && engine::encodersCreated() == created + 1);
        pairs[0].receiver.frameSleepMs = 400;  // this viewer hardly reads
        QTest::qWait(500);
        const int s0 = frames(0), a0 = frames(1), b0 = frames(2);
        QTest::qWait(3000);
        const int stalled = std::max(frames(0) - s0, 5);
        QVERIFY(frames(1) - a0 > 3 * stalled && frames(2) - b0 > 3 * stalled);
        // One leaves; the others go on.
        pairs[0].closeReceiver();
        pairs[0].closeSender();
        const int f1 = frames(1), f2 = frames(2);
        QTRY_VERIFY_WITH_TIMEOUT(frames(1) > f1 + 15 && frames(2) > f2 + 15, 5000);
        QCOMPARE(engine::encodersRunning(), 1);
    }

    // Fault once found: a key-frame request before the encoder's first picture blocked all later ones.
    void earlyKeyFrameRequestDoesNotBlockLaterOnes() {
        (void)engine::encodersRunning();  // GStreamer is up
        std::atomic<int> out{0}, keys{0};
        zuengine::Encoder encoder(VideoCodec::H264, [&](VideoCodec, GstSample *sample) {
            GstBuffer *buffer = gst_sample_get_buffer(sample);
            const bool key = buffer && !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
            keys += key;
            out++;
        });
        QVERIFY(encoder.start());
        const int w = 320, h = 180, size = w * h * 3 / 2;  // as in the caps
        GstCaps *caps = gst_caps_from_string("video/x-raw,format=I420,width=320,height=180,framerate=30/1");
        int n = 0;
        // Key frames among what comes out while `pictures` pictures go in, at 30 a second.
        const auto keysWhilePushing = [&](int pictures) {
            const int from = keys;
            for (int i = 0; i < pictures; ++i) {
                GstBuffer *picture = gst_buffer_new_allocate(nullptr, size, nullptr);
                gst_buffer_memset(picture, 0, static_cast<guint8>(n++ * 7), size);
                encoder.push(picture, caps, w, h);
                gst_buffer_unref(picture);
                std::this_thread::sleep_for(std::chrono::milliseconds(33));
            }
            return keys - from;
        };
        encoder.requestKeyFrame();
        for (int i = 0; i < 30 && out == 0; ++i)
            keysWhilePushing(1);
        QVERIFY(out > 0);
        // Fault once found: the first viewer's key frame waited out the gap that the first picture started.
        encoder.requestKeyFrame();
        QVERIFY2(keysWhilePushing(3) == 1, "a request just after the first picture waited");
        // A second request inside the gap is held, not lost.
        encoder.requestKeyFrame();
        QVERIFY2(keysWhilePushing(12) == 1, "a request inside the gap was lost or not held");
        gst_caps_unref(caps);
        encoder.stop();
    }

    void pushedPicturesAreSentAndDemandIsTold() {
        std::atomic<int> wanted{0}, unwanted{0};
        zuengine::VideoFeed::instance().setDemandListener([&](bool on) { (on ? wanted : unwanted)++; });
        engine::useCapturedPictures();
        const int w = 480, h = 270, strideY = 512, strideC = 256;  // padded rows, as capturers give
        const Bytes y(strideY * h, 180), u(strideC * h / 2, 60), v(strideC * h / 2, 200);
        std::atomic<bool> pushing{true};
        std::thread capturer([&] {
            for (; pushing; std::this_thread::sleep_for(std::chrono::milliseconds(33)))
                zuengine::VideoFeed::instance().push(
                    {y.data(), u.data(), v.data(), strideY, strideC, strideC, w, h});
        });
        {
            EnginePair pair;
            pair.start();
            QTRY_VERIFY_WITH_TIMEOUT(wanted == 1 && pair.receiver.frames > 10, kConnectMs);
            const FrameInfo f = pair.receiver.frame();
            QVERIFY(f.width == w && f.height == h && f.packed);
            for (const uint8_t *s : f.samples)
                QVERIFY(near(s[0], 180) && near(s[1], 60) && near(s[2], 200));
            // The capturer goes quiet: the synthetic picture stands in, at the stream's size.
            pushing = false;
            capturer.join();
            QTRY_VERIFY_WITH_TIMEOUT(near(pair.receiver.frame().samples[0][0], engine::syntheticColour(0).y),
                                     5000);
            QVERIFY(pair.receiver.frame().width == w && unwanted == 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(unwanted.load(), 1, 5000);
        QCOMPARE(wanted.load(), 1);
    }
};

QTEST_GUILESS_MAIN(TestZuWebrtc)
#include "tst_zuwebrtc.moc"
