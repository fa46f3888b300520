// The media engine through its C contract: real webrtcbin peers over the test namespace's veth pair.

#include <QtTest>

#include <memory>
#include <thread>

#include "enginepair.h"
#include "rtc/gst/videofeed.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "support/testsupport.h"

using namespace enginetest;
using zuengine::VideoCodec;
using Bytes = std::vector<uint8_t>;
namespace engine = zuengine::testing;
Q_DECLARE_METATYPE(zuengine::VideoCodec)

constexpr int kWidth = 640, kHeight = 360, kConnectMs = 15000;

const auto near = [](int a, int b) { return std::abs(a - b) <= 28; };

static bool showsThePicture(const FrameInfo &f, int width, int height, bool pushed) {
    bool ok = f.width == width && f.height == height && f.strideY == width && f.packed &&
              f.strideU == (width + 1) / 2 && f.strideV == f.strideU;
    for (int q = 0; q < 4; ++q) {
        const zuengine::YuvColour c = pushed ? zuengine::YuvColour{180, 60, 200} : engine::syntheticColour(q);
        ok = ok && near(f.samples[q][0], c.y) && near(f.samples[q][1], c.u) && near(f.samples[q][2], c.v);
    }
    return ok;
}

class TestZuWebrtc : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ShareSyntheticPicture(kWidth, kHeight, 30); }
    void init() { ZU_REQUIRE_TEST_NAMESPACE(); }
    void cleanup() {
        zuengine::VideoFeed::instance().setDemandListener(nullptr);
        ShareSyntheticPicture(kWidth, kHeight, 30);
        zuengine::setOfferPreference(VideoCodec::H264);
        QTRY_VERIFY_WITH_TIMEOUT(engine::encodersRunning() == 0 && engine::openPeers() == 0, 10000);
    }

    // Bad handles, then hostile input while the receiver's offer and candidates are held back.
    void hostileInputIsRefusedAndTheDataChannelKeepsItsLimits() {
        uint8_t byte = 1;
        const int closed = CreatePeerConnection(0, 0, 0, 0, 1);
        QVERIFY(closed > 0 && ClosePeerConnection(closed) == ZUWEBRTC_OK);
        for (int bad : {closed, 4242424, -1}) {  // closed, never made, negative
            for (int result :
                 {AddStream(bad, 1, 0), AddDataChannel(bad), CreateOffer(bad), CreateAnswer(bad),
                  SetRemoteDescription(bad, "offer", "v=0\r\n"),
                  AddIceCandidate(bad, "candidate:1 1 UDP 1 10.0.0.1 1 typ host", 0, "0"),
                  SendDataViaDataChannel(bad, &byte, 1), RegisterOnPeerClosed(bad, nullptr, nullptr, 0),
                  RegisterOnDataFromDataChannelReady(bad, nullptr, nullptr, nullptr, 0),
                  ClosePeerConnection(bad)})
                QCOMPARE(result, ZUWEBRTC_EHANDLE);
        }
        EnginePair pair;
        pair.receiver.hold = true;
        pair.start();
        const int pc = pair.sender.pc, rx = pair.receiver.pc;
        QTRY_VERIFY_WITH_TIMEOUT(
            pair.receiver.candidates >= 1 && !pair.receiver.copy(pair.receiver.heldOffer).empty(),
            kConnectMs);
        const std::string sdp = pair.receiver.copy(pair.receiver.heldOffer);
        QCOMPARE(SendDataViaDataChannel(pc, &byte, 1), ZUWEBRTC_ESTATE);  // no channel yet
        QCOMPARE(AddStream(rx, 1, 0), ZUWEBRTC_ESTATE);                   // a receiving peer sends nothing
        QCOMPARE(CreateAnswer(rx), ZUWEBRTC_ESTATE);                      // nothing to answer
        QCOMPARE(SetRemoteDescription(pc, "offer", nullptr), ZUWEBRTC_EARG);
        QCOMPARE(SetRemoteDescription(pc, "offer", "v=0\r\nthis is not sdp\r\n"), ZUWEBRTC_EARG);
        QCOMPARE(SetRemoteDescription(pc, "pranswer", sdp.c_str()), ZUWEBRTC_EARG);
        QCOMPARE(SetRemoteDescription(pc, "answer", sdp.c_str()), ZUWEBRTC_ESTATE);
        QCOMPARE(AddIceCandidate(pc, "candidate:1 1 UDP 1 10.0.0.1 5000 typ nonsense", 0, "0"),
                 ZUWEBRTC_EARG);
        QCOMPARE(AddIceCandidate(pc, "candidate:1 1 UDP 1 10.0.0.1 5000 typ host", -1, "0"), ZUWEBRTC_EARG);
        QCOMPARE(AddIceCandidate(pc, "candidate:1 1 UDP 1 10.77.0.9 5000 typ host", 40, "x"), ZUWEBRTC_OK);
        pair.releaseHeld();  // the candidates first: the sender keeps them until the offer arrives
        QTRY_VERIFY_WITH_TIMEOUT(
            pair.receiver.frames > 10 && pair.receiver.ready == 1 && pair.sender.ready == 1, kConnectMs);
        const Bytes huge = fill(25000, 31, 9), exact = fill(ZUWEBRTC_RECEIVE_BUFFER, 13, 5);
        // Past the limit and at it, both ways; what goes arrives in order, one message per callback.
        for (Endpoint *from : {&pair.receiver, &pair.sender}) {
            const std::vector<Bytes> sent{fill(ZUWEBRTC_MAX_MESSAGE, 7, 3), fill(100, 17, 1)};
            QCOMPARE(SendDataViaDataChannel(from->pc, huge.data(), ZUWEBRTC_MAX_MESSAGE + 1), ZUWEBRTC_ESIZE);
            for (const Bytes &m : sent)
                QCOMPARE(SendDataViaDataChannel(from->pc, m.data(), int(m.size())), ZUWEBRTC_OK);
            Endpoint &to = *from->other;
            QTRY_VERIFY_WITH_TIMEOUT(to.copy(to.messages).size() >= 2, 10000);
            QVERIFY(to.take(to.messages) == sent && !to.badBuffer);
        }
        QCOMPARE(SendDataViaDataChannel(pc, nullptr, 10), ZUWEBRTC_EARG);
        QCOMPARE(SendDataViaDataChannel(pc, huge.data(), 0), ZUWEBRTC_EARG);
        // A remote over the limit must not overrun the receive buffer (ASan watches); the rest arrives.
        QCOMPARE(engine::sendUnchecked(pc, huge.data(), 25000), ZUWEBRTC_OK);
        QCOMPARE(engine::sendUnchecked(pc, exact.data(), ZUWEBRTC_RECEIVE_BUFFER), ZUWEBRTC_OK);
        QCOMPARE(SendDataViaDataChannel(pc, huge.data(), 100), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.copy(pair.receiver.messages).size() >= 2, 10000);
        QVERIFY(pair.receiver.take(pair.receiver.messages) ==
                (std::vector<Bytes>{exact, Bytes(huge.begin(), huge.begin() + 100)}));
        // Fault once found: a data callback could still run after unregistering it had returned.
        struct Receiver {
            std::atomic<int> calls{0}, late{0}, unregistered{0};
            uint8_t buffer[ZUWEBRTC_RECEIVE_BUFFER];
        };
        const auto onData = [](uint8_t *, int, void *user) {
            auto *r = static_cast<Receiver *>(user);
            r->late += r->unregistered.load();
            r->calls++;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // be inside the callback often
        };
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            for (; flooding; std::this_thread::sleep_for(std::chrono::microseconds(300)))
                SendDataViaDataChannel(pc, huge.data(), 1024);
        });
        for (int round = 0; round < 5; ++round) {
            auto r = std::make_unique<Receiver>();
            QCOMPARE(RegisterOnDataFromDataChannelReady(rx, onData, r->buffer, r.get(), 1), ZUWEBRTC_OK);
            QTRY_VERIFY_WITH_TIMEOUT(r->calls > 20, 10000);
            QCOMPARE(RegisterOnDataFromDataChannelReady(rx, nullptr, nullptr, nullptr, 0), ZUWEBRTC_OK);
            r->unregistered = 1;
            QTest::qWait(100);
            QCOMPARE(r->late.load(), 0);
        }  // ASan sees any later write into a freed receiver's buffer
        QTest::qWait(100);
        flooding = false;
        flood.join();
        // Fault once found: the 4 s silence watch closed a live pair whose receiver sends only RTCP.
        QTest::qWait(12000);
        QVERIFY(pair.receiver.ready == 1 && pair.sender.ready == 1 &&
                pair.receiver.closed + pair.sender.closed == 0);
    }

    void pictureArrivesAndClosingIsReportedOnce_data() {
        QTest::addColumn<VideoCodec>("codec");
        QTest::addColumn<bool>("senderOffers");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("frames");  // pictures before the first close; -1: while negotiating
        // Who closes; inside: from its frame callback; both: the other at once; pushed: padded pictures.
        QTest::addColumn<QString>("close");
        const VideoCodec vp8 = VideoCodec::VP8, h264 = VideoCodec::H264;
        const QSize small(kWidth, kHeight);
        QTest::newRow("negotiating 1") << h264 << false << small << -1 << "both, receiver";
        QTest::newRow("negotiating 2") << h264 << false << small << -1 << "both, sender";
        QTest::newRow("vp8 by the receiver") << vp8 << false << small << 3 << "sender";
        QTest::newRow("h264 by the sender") << h264 << true << small << 3 << "both, receiver";
        QTest::newRow("vp8 by the sender") << vp8 << true << small << 3 << "both, sender";
        QTest::newRow("pushed") << h264 << false << QSize(480, 270) << 10 << "both, receiver, pushed";
        // Fault once found: widths not multiples of 8 have padded rows in GStreamer's own layout.
        QTest::newRow("1366x768") << h264 << false << QSize(1366, 768) << 3 << "receiver";
        QTest::newRow("1364x768") << h264 << false << QSize(1364, 768) << 5 << "receiver inside";
        QTest::newRow("1002x700") << h264 << false << QSize(1002, 700) << 2 << "both, sender";
        QTest::newRow("1001x701") << h264 << false << QSize(1001, 701) << 5 << "both, receiver";
        QTest::newRow("1280x720") << h264 << false << QSize(1280, 720) << 11 << "both, sender";
        QTest::newRow("2560x1440") << h264 << false << QSize(2560, 1440) << 3 << "receiver";
    }
    void pictureArrivesAndClosingIsReportedOnce() {
        QFETCH(VideoCodec, codec);
        QFETCH(bool, senderOffers);
        QFETCH(QSize, size);
        QFETCH(int, frames);
        QFETCH(QString, close);
        const bool closeSender = close.contains("sender"), fromInside = close.contains("inside"),
                   both = close.startsWith("both"), pushed = close.contains("pushed");
        zuengine::setOfferPreference(codec);
        std::atomic<int> wanted{0}, unwanted{0};
        std::atomic<bool> pushing{pushed};
        std::thread capturer;
        if (pushed) {
            zuengine::VideoFeed::instance().setDemandListener([&](bool on) { (on ? wanted : unwanted)++; });
            ShareSyntheticPicture(0, 0, 0);
            capturer = std::thread([&, w = size.width(), h = size.height()] {
                const int sy = 512, sc = 256;  // padded rows, as capturers give
                const Bytes y(sy * h, 180), u(sc * h / 2, 60), v(sc * h / 2, 200);
                for (; pushing; std::this_thread::sleep_for(std::chrono::milliseconds(33)))
                    zuengine::VideoFeed::instance().push({y.data(), u.data(), v.data(), sy, sc, sc, w, h});
            });
        } else {
            ShareSyntheticPicture(size.width(), size.height(), 15);
        }
        EnginePair pair;
        pair.receiver.closeSelfAfterFrames = fromInside ? frames : 0;
        pair.start(senderOffers);
        Endpoint &gone = closeSender ? pair.sender : pair.receiver, &survivor = *gone.other;
        QTRY_VERIFY_WITH_TIMEOUT(frames < 0   ? gone.candidates > 0
                                 : fromInside ? gone.released.load()
                                              : pair.receiver.frames > frames && wanted == int(pushed) &&
                                                    (senderOffers || pair.sender.ready == 1),
                                 kConnectMs);
        if (frames >= 0) {
            QCOMPARE(QString(engine::sendCodec(pair.sender.pc)), QString(zuengine::codecName(codec)));
            QVERIFY(showsThePicture(pair.receiver.frame(), size.width() & ~1, size.height() & ~1, pushed));
            // A receive-only answer: no video goes back to the offering side.
            const std::string answer = pair.receiver.copy(pair.receiver.sdps).at(0);
            QVERIFY2(!senderOffers || answer.find("a=recvonly") != answer.npos, answer.c_str());
            QCOMPARE(pair.sender.frames.load(), 0);
        }
        if (pushed) {
            pushing = false;
            capturer.join();
            QTRY_VERIFY_WITH_TIMEOUT(near(pair.receiver.frame().samples[0][0], engine::syntheticColour(0).y),
                                     5000);
            QCOMPARE(pair.receiver.frame().width, size.width());
            QCOMPARE(unwanted.load(), 0);
        }
        const Bytes m = fill(1024, 31, 1);
        for (int i = 0; both && frames >= 0 && i < 20; ++i) {
            SendDataViaDataChannel(pair.sender.pc, m.data(), 1024);
            SendDataViaDataChannel(pair.receiver.pc, m.data(), 1024);
        }
        gone.release();
        if (both)
            survivor.release();
        else
            QTRY_VERIFY_WITH_TIMEOUT(survivor.closed == 1, 8000);
        QTest::qWait(600);  // room for a late (a frame after closing, too) or a second callback
        QVERIFY(gone.closed == 0 && gone.lateCallbacks + survivor.lateCallbacks == 0 &&
                (both || survivor.closed == 1));
        QTRY_VERIFY_WITH_TIMEOUT(unwanted == int(pushed) && wanted == int(pushed), 5000);
    }

    // The receiver's offer without its video section, or with only a codec we do not send.
    void offerWithoutUsableVideoIsAnsweredWithoutVideo() {
        for (bool noVideo : {true, false}) {
            EnginePair pair;
            pair.receiver.hold = true;
            pair.start();
            QTRY_VERIFY_WITH_TIMEOUT(!pair.receiver.copy(pair.receiver.heldOffer).empty(), kConnectMs);
            QString sdp = QString::fromStdString(pair.receiver.copy(pair.receiver.heldOffer));
            if (noVideo)
                sdp.remove(QRegularExpression("a=group:BUNDLE[^\\r]*\\r\\n|m=video.*(?=m=)",
                                              QRegularExpression::DotMatchesEverythingOption |
                                                  QRegularExpression::InvertedGreedinessOption));
            else
                sdp.replace("VP8/90000", "H265/90000").replace("H264/90000", "H265/90000");
            QCOMPARE(SetRemoteDescription(pair.sender.pc, "offer", qPrintable(sdp)), ZUWEBRTC_OK);
            QCOMPARE(CreateAnswer(pair.sender.pc), ZUWEBRTC_OK);
            QTRY_VERIFY_WITH_TIMEOUT(pair.sender.sdpCount() > 0, 10000);
            const QString answer = QString::fromStdString(pair.sender.copy(pair.sender.sdps).front());
            QVERIFY(answer.startsWith("answer\n") && answer.contains("m=application"));
            const QString video = answer.section("m=video", 1, 1).section("m=", 0, 0);
            QVERIFY2(video.isEmpty() || video.startsWith(" 0 ") || video.contains("a=inactive"),
                     qPrintable(answer));
            QCOMPARE(QString(engine::sendCodec(pair.sender.pc)), QString("none"));
            QCOMPARE(engine::encodersRunning(), 0);
        }
    }

    // Robustness: viewers joining late get a key frame, and a stalled one holds up nobody.
    void viewersShareOneEncoderAndNoneHoldsUpTheOthers() {
        const int created = engine::encodersCreated();
        EnginePair pairs[3];
        const auto frames = [&](int i) { return pairs[i].receiver.frames.load(); };
        pairs[0].start();
        QTRY_VERIFY_WITH_TIMEOUT(frames(0) > 20, kConnectMs);
        // Well inside the key-frame interval (150 pictures): a key frame now is for the joining viewers.
        const int64_t keys = engine::keyFramesProduced();
        pairs[1].start();
        pairs[2].start();
        QTRY_VERIFY_WITH_TIMEOUT(frames(1) > 10 && frames(2) > 10, kConnectMs);
        QVERIFY(engine::keyFramesProduced() > keys);
        QVERIFY(engine::encodersRunning() == 1 && engine::encodersCreated() == created + 1);
        pairs[0].receiver.frameSleepMs = 400;  // this viewer hardly reads
        QTest::qWait(500);
        const int s0 = frames(0), a0 = frames(1), b0 = frames(2);
        QTest::qWait(3000);
        const int stalled = std::max(frames(0) - s0, 5);
        QVERIFY(frames(1) - a0 > 3 * stalled && frames(2) - b0 > 3 * stalled);
        pairs[0].closeReceiver();
        pairs[0].closeSender();
        const int f1 = frames(1), f2 = frames(2);
        QTRY_VERIFY_WITH_TIMEOUT(frames(1) > f1 + 15 && frames(2) > f2 + 15, 5000);
        QCOMPARE(engine::encodersRunning(), 1);
    }

    // Fault once found: a key-frame request before the encoder's first picture blocked all later ones.
    void earlyKeyFrameRequestDoesNotBlockLaterOnes() {
        engine::EncoderProbe encoder(320, 180);
        QVERIFY(encoder.start());
        int n = 0;
        const auto keysWhilePushing = [&](int pictures) {
            const int from = encoder.keyFramesOut();
            for (int i = 0; i < pictures; ++i) {
                encoder.push(static_cast<uint8_t>(n++ * 7));
                std::this_thread::sleep_for(std::chrono::milliseconds(33));
            }
            return encoder.keyFramesOut() - from;
        };
        encoder.requestKeyFrame();
        for (int i = 0; i < 30 && encoder.samplesOut() == 0; ++i)
            keysWhilePushing(1);
        QVERIFY(encoder.samplesOut() > 0);
        // Fault once found: the first viewer's key frame waited out the gap that the first picture started.
        encoder.requestKeyFrame();
        QVERIFY2(keysWhilePushing(3) == 1, "a request just after the first picture waited");
        encoder.requestKeyFrame();
        QVERIFY2(keysWhilePushing(12) == 1, "a request inside the gap was lost or not held");
    }
};

QTEST_GUILESS_MAIN(TestZuWebrtc)
#include "tst_zuwebrtc.moc"
