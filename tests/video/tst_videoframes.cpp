// Frames, conversion, the frame pair and the painter view on the offscreen platform (no OpenGL).
#include <atomic>
#include <cstring>
#include <thread>

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include "testpicture.h"
#include "video/argbframe.h"
#include "video/framepair.h"
#include "video/openglhelper.h"
#include "video/openglwidget.h"
#include "video/videoframefactory.h"
#include "video/videowidget.h"
#include "video/yuvframe.h"

namespace {

// A view that keeps what it is given, as the real views do, and refuses while told to.
class RecordingView : public VideoWidgetInterface {
public:
    bool renderFrame(std::weak_ptr<VideoFrameInterface> frame) override {
        ++offers;
        if (refuse)
            return false;
        shown = frame.lock();
        return true;
    }
    std::shared_ptr<VideoFrameInterface> shown;
    bool refuse = false;
    int offers = 0;
};

// A painter view that runs a check on another thread while a paint holds the frame lock.
class ProbingVideoWidget : public VideoWidget {
public:
    std::function<void()> duringPaint;
    int paints = 0;

protected:
    void afterFrameDrawn() override {
        ++paints;
        if (duringPaint) {
            std::thread other(duringPaint);
            other.join();
        }
    }
};

}  // namespace

class FrameReceiver : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void appendApp(const QString &t, std::shared_ptr<VideoFrameInterface> f) {
        title = t;
        got = std::move(f);
    }
    QString title;
    std::shared_ptr<VideoFrameInterface> got;
};

namespace {

QByteArray bytes(const std::shared_ptr<VideoFrameInterface> &f) {
    return QByteArray(reinterpret_cast<const char *>(f->data()), int(f->size()));
}

QColor argbPixel(const ARGBFrame &f, int x, int y) {
    const uint8_t *p = f.data() + std::size_t(y) * f.stride() + std::size_t(x) * 4;
    return QColor(p[2], p[1], p[0], p[3]);
}

}  // namespace

class TestVideoFrames : public QObject {
    Q_OBJECT

private slots:
    void probeIsOffBeforeInit() {
        QVERIFY(!OpenGLHelper::isSupported());
        QCOMPARE(VideoFrameFactory::processKind(), VideoFrameKind::ARGB);
    }

    void yuvBufferLayout() {
        auto f = YUVFrame::create(1280, 640, 640, 1280, 720);
        QVERIFY(f);
        QCOMPARE(f->size(), std::size_t(1382400));
        QCOMPARE(f->yStride(), 1280u);
        QCOMPARE(f->uStride(), 640u);
        QCOMPARE(f->vStride(), 640u);
        QCOMPARE(f->width(), 1280u);
        QCOMPARE(f->height(), 720u);

        auto odd = YUVFrame::create(6, 3, 3, 6, 5);
        QVERIFY(odd);
        QCOMPARE(odd->chromaHeight(), 3u);
        QCOMPARE(odd->size(), std::size_t(6 * 5 + 3 * (3 + 3)));
        QCOMPARE(odd->planeU() - odd->planeY(), 30);
        QCOMPARE(odd->planeV() - odd->planeU(), 9);
    }

    void argbBufferLayout() {
        auto f = ARGBFrame::create(2, 2);
        QVERIFY(f);
        QCOMPARE(f->size(), std::size_t(16));
        QCOMPARE(f->stride(), 8u);
    }

    void refusesBadGeometry() {
        QVERIFY(!YUVFrame::create(0, 0, 0, 0, 0));
        QVERIFY(!YUVFrame::create(8, 4, 4, 8, 0));
        QVERIFY(!YUVFrame::create(4, 4, 4, 8, 8));  // Y stride shorter than a row
        QVERIFY(!ARGBFrame::create(0, 5));
        QVERIFY(!ARGBFrame::create(100000, 2));

        // Null planes with a zero size must be refused before anything is read.
        I420Planes empty;
        FramePair pair;
        RecordingView view;
        QVERIFY(!pair.deliver(empty, VideoFrameKind::YUV, &view));
        QVERIFY(!pair.deliver(empty, VideoFrameKind::ARGB, &view));
        QCOMPARE(view.offers, 0);
        QVERIFY(!pair.current() && !pair.spare());

        TestPicture pic(8, 8);
        I420Planes p = pic.planes();
        p.strideU = 3;  // shorter than (8 + 1) / 2
        QVERIFY(!pair.deliver(p, VideoFrameKind::YUV, &view));
        p = pic.planes();
        p.v = nullptr;
        QVERIFY(!pair.deliver(p, VideoFrameKind::ARGB, &view));
        QCOMPARE(view.offers, 0);
    }

    void yuvCopyKeepsPlanes() {
        TestPicture pic(9, 5, 3);  // odd size, padded rows
        const I420Planes p = pic.planes();
        auto frame = VideoFrameFactory::create(p, VideoFrameKind::YUV);
        auto yuv = std::dynamic_pointer_cast<YUVFrame>(frame);
        QVERIFY(yuv);
        QCOMPARE(yuv->yStride(), 12u);
        QCOMPARE(yuv->uStride(), 8u);
        QCOMPARE(std::memcmp(yuv->planeY(), p.y, 12 * 5), 0);
        QCOMPARE(std::memcmp(yuv->planeU(), p.u, 8 * 3), 0);
        QCOMPARE(std::memcmp(yuv->planeV(), p.v, 8 * 3), 0);
    }

    void argbConversionColours_data() {
        QTest::addColumn<int>("padding");
        QTest::newRow("packed") << 0;
        QTest::newRow("padded") << 24;
    }

    void argbConversionColours() {
        QFETCH(int, padding);
        TestPicture pic(64, 32, padding);
        auto frame = std::dynamic_pointer_cast<ARGBFrame>(
            VideoFrameFactory::create(pic.planes(), VideoFrameKind::ARGB));
        QVERIFY(frame);
        QCOMPARE(frame->size(), std::size_t(64 * 32 * 4));
        const QPoint fields[] = {{8, 4}, {56, 4}, {8, 28}, {56, 28}};
        for (const QPoint &pt : fields) {
            const QColor got = argbPixel(*frame, pt.x(), pt.y());
            const QColor want = TestPicture::expectedLibyuv(pic.at(pt.x(), pt.y()));
            QVERIFY2(
                TestPicture::near(got, want, 4),
                qPrintable(
                    QString("at %1,%2 got %3 want %4").arg(pt.x()).arg(pt.y()).arg(got.name(), want.name())));
            QCOMPARE(got.alpha(), 255);
        }
        // Red in memory is B, G, R, A.
        const uint8_t *red = frame->data() + 4 * 4 + 2 * frame->stride();
        QVERIFY(red[0] < 10 && red[1] < 10 && red[2] > 245 && red[3] == 255);
    }

    void paddedAndPackedGiveSameBytes() {
        TestPicture packed(33, 17, 0);
        TestPicture padded(33, 17, 15);
        auto a = VideoFrameFactory::create(packed.planes(), VideoFrameKind::ARGB);
        auto b = VideoFrameFactory::create(padded.planes(), VideoFrameKind::ARGB);
        QVERIFY(a && b);
        QCOMPARE(bytes(a), bytes(b));
    }

    void pairReusesWhileSizeStays() {
        FramePair pair;
        TestPicture small(16, 8), other(16, 8), big(32, 18);
        QVERIFY(!pair.deliver(small.planes(), VideoFrameKind::YUV, nullptr));
        auto f1 = pair.current();
        QVERIFY(f1 && !pair.spare());
        pair.deliver(other.planes(), VideoFrameKind::YUV, nullptr);
        auto f2 = pair.current();
        QVERIFY(f2 && f2 != f1);
        QCOMPARE(pair.spare(), f1);
        f1.reset();
        f2.reset();
        const VideoFrameInterface *first = pair.spare().get();
        const VideoFrameInterface *second = pair.current().get();
        pair.deliver(small.planes(), VideoFrameKind::YUV, nullptr);
        QCOMPARE(pair.current().get(), first);  // same size: the spare was reused
        QCOMPARE(pair.spare().get(), second);

        // A new size replaces the spare; the pair then settles on buffers of the new size.
        pair.deliver(big.planes(), VideoFrameKind::YUV, nullptr);
        const VideoFrameInterface *bigOne = pair.current().get();
        QVERIFY(bigOne != first && bigOne != second);
        QCOMPARE(pair.current()->width(), 32u);
        pair.deliver(big.planes(), VideoFrameKind::YUV, nullptr);
        const VideoFrameInterface *bigTwo = pair.current().get();
        QVERIFY(bigTwo != bigOne);
        pair.deliver(big.planes(), VideoFrameKind::YUV, nullptr);
        QCOMPARE(pair.current().get(), bigOne);

        // Same size but other strides is another layout.
        TestPicture bigPadded(32, 18, 8);
        pair.deliver(bigPadded.planes(), VideoFrameKind::YUV, nullptr);
        QVERIFY(pair.current().get() != bigTwo);
        QCOMPARE(std::dynamic_pointer_cast<YUVFrame>(pair.current())->yStride(), 40u);

        // And a change of kind makes a frame of the other type.
        pair.deliver(big.planes(), VideoFrameKind::ARGB, nullptr);
        QVERIFY(std::dynamic_pointer_cast<ARGBFrame>(pair.current()));
    }

    void pairSwapsBackWhenRefused() {
        FramePair pair;
        RecordingView view;
        TestPicture red = TestPicture::uniform(8, 8, TestPicture::kRed);
        TestPicture green = TestPicture::uniform(8, 8, TestPicture::kGreen);
        TestPicture blue = TestPicture::uniform(8, 8, TestPicture::kBlue);

        QVERIFY(pair.deliver(red.planes(), VideoFrameKind::ARGB, &view));
        QCOMPARE(view.shown, pair.current());
        const QByteArray redBytes = bytes(view.shown);

        view.refuse = true;
        QVERIFY(!pair.deliver(green.planes(), VideoFrameKind::ARGB, &view));
        QCOMPARE(view.shown, pair.current());  // current stays what the view shows
        QCOMPARE(bytes(view.shown), redBytes);
        QVERIFY(pair.spare() && pair.spare() != view.shown);
        const VideoFrameInterface *spare = pair.spare().get();
        QVERIFY(!pair.deliver(blue.planes(), VideoFrameKind::ARGB, &view));
        QCOMPARE(pair.spare().get(), spare);  // refused frames reuse one spare
        QCOMPARE(bytes(view.shown), redBytes);

        view.refuse = false;
        QVERIFY(pair.deliver(green.planes(), VideoFrameKind::ARGB, &view));
        QCOMPARE(view.shown, pair.current());
        QCOMPARE(view.shown.get(), spare);
        QVERIFY(bytes(view.shown) != redBytes);
        QCOMPARE(view.offers, 4);
    }

    void pairNeverWritesAFrameStillHeld() {
        FramePair pair;
        RecordingView view;
        TestPicture red = TestPicture::uniform(8, 8, TestPicture::kRed);
        TestPicture blue = TestPicture::uniform(8, 8, TestPicture::kBlue);
        pair.deliver(red.planes(), VideoFrameKind::YUV, &view);
        pair.deliver(red.planes(), VideoFrameKind::YUV, &view);
        // Someone (a paint, a thumbnail list) still holds the frame that becomes the spare.
        std::shared_ptr<VideoFrameInterface> held = pair.current();
        const QByteArray heldBytes = bytes(held);
        pair.deliver(blue.planes(), VideoFrameKind::YUV, &view);
        pair.deliver(blue.planes(), VideoFrameKind::YUV, &view);
        QCOMPARE(bytes(held), heldBytes);
        QVERIFY(pair.current() != held && pair.spare() != held);
    }

    void pairClear() {
        FramePair pair;
        RecordingView view;
        TestPicture red(8, 8);
        pair.deliver(red.planes(), VideoFrameKind::YUV, &view);
        pair.deliver(red.planes(), VideoFrameKind::YUV, &view);
        pair.clear();
        QVERIFY(!pair.current() && !pair.spare());
        QVERIFY(view.shown);  // the view keeps its frame until it is given an empty one
    }

    void quadCorners() {
        float q[8];
        OpenGLWidget::quadFor(400, 300, 1600, 900, q);  // 16:9 in 4:3: bars top and bottom
        const float want169[8] = {-1, -0.75f, 1, -0.75f, -1, 0.75f, 1, 0.75f};
        for (int i = 0; i < 8; ++i)
            QVERIFY2(qAbs(q[i] - want169[i]) < 1e-5f, qPrintable(QString::number(i)));

        OpenGLWidget::quadFor(1600, 900, 400, 300, q);  // 4:3 in 16:9: bars left and right
        QVERIFY(qAbs(q[0] + 0.75f) < 1e-5f && qAbs(q[2] - 0.75f) < 1e-5f);
        QVERIFY(qAbs(q[1] + 1) < 1e-5f && qAbs(q[5] - 1) < 1e-5f);

        // Within 0.05 of the view's ratio: the full view.
        OpenGLWidget::quadFor(400, 300, 1390, 1000, q);  // 1.39 against 1.333
        QVERIFY(q[1] > -0.99f && q[0] == -1.0f);
        OpenGLWidget::quadFor(400, 300, 1380, 1000, q);  // 1.38 against 1.333
        const float full[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(q[i], full[i]);
        OpenGLWidget::quadFor(400, 300, 0, 10, q);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(q[i], full[i]);
    }

    void metaTypeRegistered() {
        // Registered at start-up, so a queued call can carry a frame without any set-up.
        const int id = QMetaType::type("std::shared_ptr<VideoFrameInterface>");
        QVERIFY(id != QMetaType::UnknownType);
        QCOMPARE(id, qMetaTypeId<std::shared_ptr<VideoFrameInterface>>());
        VideoFrameInterface::registerMetaType();
        QCOMPARE(QMetaType::type("std::shared_ptr<VideoFrameInterface>"), id);

        // A queued invocation by name, as the source dialog receives its thumbnails.
        FrameReceiver receiver;
        TestPicture pic(4, 4);
        auto frame = VideoFrameFactory::create(pic.planes(), VideoFrameKind::ARGB);
        bool queued = false;
        std::thread sender([&] {
            queued = QMetaObject::invokeMethod(&receiver, "appendApp", Qt::QueuedConnection,
                                               Q_ARG(QString, QStringLiteral("screen")),
                                               Q_ARG(std::shared_ptr<VideoFrameInterface>, frame));
        });
        sender.join();
        QVERIFY(queued);
        QTRY_VERIFY(receiver.got);
        QCOMPARE(receiver.got, frame);
        QCOMPARE(receiver.title, QStringLiteral("screen"));
    }

    // The software path under the offscreen platform: colours, letterbox, size signal.
    void painterViewColoursAndBars() {
        VideoWidget view;
        view.resize(400, 300);
        QSignalSpy sizes(&view, &VideoWidget::sigFrameSizeChanged);
        TestPicture pic(160, 90);  // 16:9 in a 4:3 view
        auto frame = VideoFrameFactory::create(pic.planes(), VideoFrameKind::ARGB);
        QVERIFY(view.renderFrame(frame));
        const QImage shot = view.grab().toImage();
        QCOMPARE(shot.size(), QSize(400, 300));
        QCOMPARE(sizes.count(), 1);
        QVERIFY(qAbs(sizes.at(0).at(0).toFloat() - 160.0f / 90.0f) < 1e-5f);

        const QRect picture = VideoWidget::pictureRect(QSize(160, 90), QSize(400, 300));
        QCOMPARE(picture, QRect(0, 37, 400, 225));
        QCOMPARE(shot.pixelColor(200, 10), QColor(0, 0, 2));
        QCOMPARE(shot.pixelColor(200, 290), QColor(0, 0, 2));
        const struct {
            QPoint at;
            TestPicture::Yuv c;
        } fields[] = {{{100, 90}, TestPicture::kRed},
                      {{300, 90}, TestPicture::kGreen},
                      {{100, 210}, TestPicture::kBlue},
                      {{300, 210}, TestPicture::kGrey}};
        for (const auto &f : fields)
            QVERIFY(TestPicture::near(shot.pixelColor(f.at), TestPicture::expectedLibyuv(f.c), 4));

        // A frame of nearly the same ratio: no signal.
        TestPicture close(320, 181);  // 1.768 against 1.778
        QVERIFY(view.renderFrame(VideoFrameFactory::create(close.planes(), VideoFrameKind::ARGB)));
        view.grab();
        QCOMPARE(sizes.count(), 1);
        TestPicture square(90, 90);
        QVERIFY(view.renderFrame(VideoFrameFactory::create(square.planes(), VideoFrameKind::ARGB)));
        view.grab();
        QCOMPARE(sizes.count(), 2);

        // An empty reference clears the picture.
        view.setBackgroundColor(10, 20, 30);
        QVERIFY(view.renderFrame(std::weak_ptr<VideoFrameInterface>()));
        const QImage cleared = view.grab().toImage();
        QCOMPARE(cleared.pixelColor(200, 150), QColor(10, 20, 30));
        QCOMPARE(cleared.pixelColor(0, 0), QColor(10, 20, 30));
        QCOMPARE(cleared.pixelColor(399, 299), QColor(10, 20, 30));

        // A frame of the other kind is not shown either.
        QVERIFY(view.renderFrame(VideoFrameFactory::create(pic.planes(), VideoFrameKind::YUV)));
        QCOMPARE(view.grab().toImage().pixelColor(100, 90), QColor(10, 20, 30));
    }

    void painterViewOddSize() {
        VideoWidget view;
        view.resize(202, 102);
        TestPicture pic = TestPicture::halves(101, 51, TestPicture::kRed, TestPicture::kBlue, 3);
        QVERIFY(view.renderFrame(VideoFrameFactory::create(pic.planes(), VideoFrameKind::ARGB)));
        const QImage shot = view.grab().toImage();
        for (int y : {2, 50, 99}) {
            QVERIFY(
                TestPicture::near(shot.pixelColor(20, y), TestPicture::expectedLibyuv(TestPicture::kRed), 4));
            QVERIFY(TestPicture::near(shot.pixelColor(180, y),
                                      TestPicture::expectedLibyuv(TestPicture::kBlue), 4));
        }
    }

    void refusedWhilePainting() {
        ProbingVideoWidget view;
        view.resize(64, 48);
        FramePair pair;
        TestPicture red = TestPicture::uniform(32, 24, TestPicture::kRed);
        TestPicture blue = TestPicture::uniform(32, 24, TestPicture::kBlue);
        QVERIFY(pair.deliver(red.planes(), VideoFrameKind::ARGB, &view));
        const auto shownBefore = pair.current();
        const QByteArray redBytes = bytes(shownBefore);

        bool direct = true, delivered = true;
        view.duringPaint = [&] {
            direct = view.renderFrame(std::weak_ptr<VideoFrameInterface>());
            delivered = pair.deliver(blue.planes(), VideoFrameKind::ARGB, &view);
        };
        const QImage shot = view.grab().toImage();
        QVERIFY(!direct);
        QVERIFY(!delivered);
        QCOMPARE(pair.current(), shownBefore);
        QCOMPARE(bytes(pair.current()), redBytes);
        QVERIFY(
            TestPicture::near(shot.pixelColor(32, 24), TestPicture::expectedLibyuv(TestPicture::kRed), 4));

        // Once the paint is over the view takes frames again, and shows blue.
        view.duringPaint = nullptr;
        QVERIFY(pair.deliver(blue.planes(), VideoFrameKind::ARGB, &view));
        QVERIFY(TestPicture::near(view.grab().toImage().pixelColor(32, 24),
                                  TestPicture::expectedLibyuv(TestPicture::kBlue), 4));
    }

    void concurrentDeliveryWhilePainting() {
        VideoWidget view;
        view.resize(320, 240);
        view.show();
        std::atomic<bool> stop{false};
        std::atomic<int> taken{0}, refused{0};
        std::thread engine([&] {
            FramePair pair;
            TestPicture a(64, 36), b(96, 54, 5), c = TestPicture::uniform(63, 35, TestPicture::kGrey);
            const TestPicture *pics[] = {&a, &b, &c};
            for (int i = 0; !stop.load() && i < 3000; ++i) {
                if (pair.deliver(pics[(i / 7) % 3]->planes(), VideoFrameKind::ARGB, &view))
                    ++taken;
                else
                    ++refused;
                if (i % 50 == 0)
                    view.renderFrame(std::weak_ptr<VideoFrameInterface>());
                std::this_thread::yield();
            }
        });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1500 && taken.load() + refused.load() < 3000) {
            view.repaint();
            QCoreApplication::processEvents();
        }
        stop = true;
        engine.join();
        QVERIFY(taken.load() > 0);
        qInfo("taken %d refused %d", taken.load(), refused.load());
    }

    void probeUnderOffscreenIsFalse() {
        // The offscreen platform here runs without GLX, so there is no context to make.
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
