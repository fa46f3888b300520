// Frames, conversion, the frame pair and the probe on the offscreen platform (no OpenGL).
#include <cstring>

#include <QApplication>
#include <QtTest>

#include "testpicture.h"
#include "video/argbframe.h"
#include "video/framepair.h"
#include "video/openglhelper.h"
#include "video/videoframefactory.h"
#include "video/videowidgetinterface.h"
#include "video/yuvframe.h"

Q_DECLARE_METATYPE(I420Planes)

namespace {

// A view that keeps what it is given, as the real views do, and refuses while told to.
struct RecordingView : VideoWidgetInterface {
    bool renderFrame(std::weak_ptr<VideoFrameInterface> frame) override {
        ++offers;
        if (!refuse)
            shown = frame.lock();
        return !refuse;
    }
    std::shared_ptr<VideoFrameInterface> shown;
    bool refuse = false;
    int offers = 0;
};

QByteArray bytes(const std::shared_ptr<VideoFrameInterface> &f) {
    return QByteArray(reinterpret_cast<const char *>(f->data()), int(f->size()));
}

const TestPicture kSmall({8, 8});

}  // namespace

class FrameReceiver : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void appendApp(const QString &, std::shared_ptr<VideoFrameInterface> f) {
        got = std::move(f);
    }
    std::shared_ptr<VideoFrameInterface> got;
};

class TestVideoFrames : public QObject {
    Q_OBJECT

private slots:
    void refusesHostilePlanes_data() {
        QTest::addColumn<I420Planes>("planes");
        const I420Planes p = kSmall.planes();
        QTest::newRow("no planes") << I420Planes();
        QTest::newRow("null V") << I420Planes::of(p.y, p.u, nullptr, 8, 4, 4, 8, 8);
        QTest::newRow("Y stride short") << I420Planes::of(p.y, p.u, p.v, 7, 4, 4, 8, 8);
        QTest::newRow("U stride short") << I420Planes::of(p.y, p.u, p.v, 8, 3, 4, 8, 8);
        QTest::newRow("negative stride") << I420Planes::of(p.y, p.u, p.v, -8, 4, 4, 8, 8);
        QTest::newRow("stride too long") << I420Planes::of(p.y, p.u, p.v, 65537, 4, 4, 8, 8);
        QTest::newRow("too wide") << I420Planes::of(p.y, p.u, p.v, 16385, 8193, 8193, 16385, 8);
        QTest::newRow("too tall") << I420Planes::of(p.y, p.u, p.v, 8, 4, 4, 8, 16385);
    }

    // Refused before anything is read, and nothing is offered to the view.
    void refusesHostilePlanes() {
        QFETCH(I420Planes, planes);
        for (VideoFrameKind kind : {VideoFrameKind::YUV, VideoFrameKind::ARGB}) {
            FramePair pair;
            RecordingView view;
            QVERIFY(!pair.deliver(planes, kind, &view));
            QCOMPARE(view.offers, 0);
            QVERIFY(!pair.current() && !pair.spare());
        }
    }

    void framesHoldThePicture_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("padding");
        QTest::newRow("packed") << QSize(64, 32) << 0;
        QTest::newRow("padded") << QSize(64, 32) << 24;
        QTest::newRow("odd padded") << QSize(33, 17) << 15;
        QTest::newRow("odd unaligned") << QSize(101, 51) << 0;
    }

    // YUV: the three planes as they came, back to back. ARGB: every pixel against BT.601 studio
    // range, as B, G, R, A bytes with alpha 255.
    void framesHoldThePicture() {
        QFETCH(QSize, size);
        QFETCH(int, padding);
        const TestPicture pic(size, padding);
        const I420Planes p = pic.planes();
        auto yuv = std::dynamic_pointer_cast<YUVFrame>(VideoFrameFactory::create(p, VideoFrameKind::YUV));
        QVERIFY(yuv);
        const std::size_t ySize = std::size_t(p.strideY) * p.height, cRows = std::size_t(p.chromaHeight());
        QCOMPARE(std::memcmp(yuv->planeY(), p.y, ySize), 0);
        QCOMPARE(std::memcmp(yuv->planeU(), p.u, p.strideU * cRows), 0);
        QCOMPARE(std::memcmp(yuv->planeV(), p.v, p.strideV * cRows), 0);
        QCOMPARE(yuv->planeV() + p.strideV * cRows, yuv->data() + yuv->size());

        auto argb = std::dynamic_pointer_cast<ARGBFrame>(VideoFrameFactory::create(p, VideoFrameKind::ARGB));
        QVERIFY(argb);
        QCOMPARE(argb->size(), std::size_t(size.width() * size.height() * 4));
        for (int y = 0; y < pic.h; ++y)
            for (int x = 0; x < pic.w; ++x) {
                const uint8_t *b = argb->data() + std::size_t(y) * argb->stride() + std::size_t(x) * 4;
                const QColor got(b[2], b[1], b[0]), want = TestPicture::viaLibyuv(pic.at(x, y));
                const QString where = QString("at %1,%2 got %3 want %4").arg(x).arg(y);
                QVERIFY2(TestPicture::near(got, want, 4), qPrintable(where.arg(got.name(), want.name())));
                QCOMPARE(b[3], uint8_t(255));
            }
    }

    void pairKeepsWhatTheViewShows() {
        FramePair pair;
        RecordingView view;
        const TestPicture red({8, 8}, 0, &kRed), green({8, 8}, 0, &kGreen), blue({8, 8}, 0, &kBlue);
        QVERIFY(pair.deliver(red.planes(), VideoFrameKind::ARGB, &view));
        const QByteArray redBytes = bytes(view.shown);

        view.refuse = true;
        QVERIFY(!pair.deliver(green.planes(), VideoFrameKind::ARGB, &view));
        const VideoFrameInterface *spare = pair.spare().get();
        QVERIFY(!pair.deliver(blue.planes(), VideoFrameKind::ARGB, &view));
        QCOMPARE(pair.spare().get(), spare);  // refused frames reuse one spare
        QCOMPARE(view.shown, pair.current());
        QCOMPARE(bytes(view.shown), redBytes);

        view.refuse = false;
        QVERIFY(pair.deliver(green.planes(), VideoFrameKind::ARGB, &view));
        QCOMPARE(view.shown, pair.current());
        QCOMPARE(view.shown.get(), spare);
        QVERIFY(bytes(view.shown) != redBytes);

        // A frame someone still holds (a paint, a thumbnail list) is never written again.
        const std::shared_ptr<VideoFrameInterface> held = pair.spare();
        QVERIFY(pair.deliver(blue.planes(), VideoFrameKind::ARGB, &view));
        QCOMPARE(bytes(held), redBytes);
        QVERIFY(pair.current() != held);

        pair.clear();
        QVERIFY(!pair.current() && !pair.spare());
    }

    // Earlier fault: the frame type was unknown to a queued call by name (the source dialog's
    // thumbnails) until someone registered it; it is registered at start-up now.
    void queuedCallByNameCarriesAFrame() {
        FrameReceiver receiver;
        auto frame = VideoFrameFactory::create(kSmall.planes(), VideoFrameKind::ARGB);
        QVERIFY(QMetaObject::invokeMethod(&receiver, "appendApp", Qt::QueuedConnection,
                                          Q_ARG(QString, QStringLiteral("screen")),
                                          Q_ARG(std::shared_ptr<VideoFrameInterface>, frame)));
        QTRY_COMPARE(receiver.got, frame);
    }

    // The offscreen platform here runs without GLX: no context, so the software path.
    void probeFallsBackWithoutContext() {
        QObject owner;
        QVERIFY(!OpenGLHelper::init(&owner));
        QVERIFY(!OpenGLHelper::isSupported());
        QCOMPARE(VideoFrameFactory::processKind(), VideoFrameKind::ARGB);
    }
};

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
    QApplication app(argc, argv);
    TestVideoFrames test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_videoframes.moc"
