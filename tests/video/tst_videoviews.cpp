// Both views on the harness's X server (Xvfb with Mesa): colours, letterbox bars, size signal,
// odd sizes and delivery from another thread while painting. Pictures are saved for inspection.
#include <atomic>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QtTest>

#include "support/pinlibraries.h"
#include "testpicture.h"
#include "video/framepair.h"
#include "video/openglhelper.h"
#include "video/openglwidget.h"
#include "video/videoframefactory.h"
#include "video/videowidget.h"
#include "video/yuvframe.h"

namespace {

class ProbingOpenGLWidget : public OpenGLWidget {
public:
    std::function<void()> duringPaint;

protected:
    void afterFrameDrawn() override {
        if (duringPaint) {
            std::thread other(duringPaint);
            other.join();
        }
    }
};

struct Field {
    QPoint at;
    TestPicture::Yuv colour;
};

void savePicture(const QImage &image, const QString &name) {
    const QString dir = qEnvironmentVariable("ZU_SCREENSHOT_DIR", QDir::tempPath());
    QDir().mkpath(dir);
    image.save(dir + "/" + name + ".png");
}

QString describe(QColor got, QColor want) {
    return QString("got %1 want %2").arg(got.name(), want.name());
}

const QColor kClear(59, 59, 64);  // 0.23, 0.23, 0.25

}  // namespace

class TestVideoViews : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs the harness's X server");
        QVERIFY(!OpenGLHelper::isSupported());
        QVERIFY(OpenGLHelper::init(&m_owner));
        m_gl = OpenGLHelper::isSupported();
        pinLoadedLibraries();
        qInfo("OpenGL supported: %s", m_gl ? "yes" : "no");
    }

    void probeFindsMesa() {
        // Debian's Mesa (libgl1-mesa-dri) gives llvmpipe on Xvfb.
        QVERIFY(m_gl);
        QCOMPARE(VideoFrameFactory::processKind(), VideoFrameKind::YUV);
    }

    void shaderViewColoursAndBars() {
        if (!m_gl)
            QSKIP("no OpenGL on this display");
        OpenGLWidget view;
        view.resize(400, 300);
        QSignalSpy sizes(&view, &OpenGLWidget::sigFrameSizeChanged);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        TestPicture pic(320, 180, 16);  // 16:9 in 4:3, padded rows
        FramePair pair;
        QVERIFY(pair.deliver(pic.planes(), VideoFrameKind::YUV, &view));
        const QImage shot = view.grabFramebuffer();
        savePicture(shot, "openglwidget");
        QCOMPARE(shot.size(), QSize(400, 300));
        QTRY_COMPARE(sizes.count(), 1);
        QVERIFY(qAbs(sizes.at(0).at(0).toFloat() - 16.0f / 9.0f) < 1e-3f);

        float q[8];
        view.quad(q);
        QVERIFY(qAbs(q[1] + 0.75f) < 1e-5f && qAbs(q[5] - 0.75f) < 1e-5f);

        QVERIFY2(TestPicture::near(shot.pixelColor(200, 10), kClear, 2),
                 qPrintable(describe(shot.pixelColor(200, 10), kClear)));
        QVERIFY(TestPicture::near(shot.pixelColor(200, 292), kClear, 2));
        const Field fields[] = {{{100, 90}, TestPicture::kRed},
                                {{300, 90}, TestPicture::kGreen},
                                {{100, 210}, TestPicture::kBlue},
                                {{300, 210}, TestPicture::kGrey}};
        for (const Field &f : fields) {
            const QColor got = shot.pixelColor(f.at);
            const QColor want = TestPicture::expectedShader(f.colour);
            QVERIFY2(TestPicture::near(got, want, 4), qPrintable(describe(got, want)));
        }
        // The padding columns of the rows are not part of the picture.
        QVERIFY(
            TestPicture::near(shot.pixelColor(397, 210), TestPicture::expectedShader(TestPicture::kGrey), 4));

        // A ratio change of 0.01 or less keeps the quad and emits nothing.
        TestPicture close(321, 180);
        QVERIFY(pair.deliver(close.planes(), VideoFrameKind::YUV, &view));
        view.grabFramebuffer();
        QCOMPARE(sizes.count(), 1);

        // A new size: a new buffer, a new signal, bars left and right.
        TestPicture square(180, 180);
        const auto before = pair.current();
        QVERIFY(pair.deliver(square.planes(), VideoFrameKind::YUV, &view));
        QVERIFY(pair.current() != before);
        QCOMPARE(pair.current()->width(), 180u);
        const QImage squareShot = view.grabFramebuffer();
        QCOMPARE(sizes.count(), 2);
        view.quad(q);
        QVERIFY(qAbs(q[0] + 0.75f) < 1e-5f && qAbs(q[2] - 0.75f) < 1e-5f);
        QVERIFY(TestPicture::near(squareShot.pixelColor(10, 150), kClear, 2));
        QVERIFY(TestPicture::near(squareShot.pixelColor(390, 150), kClear, 2));

        // An empty reference leaves only the clear colour, which can be changed.
        const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        view.setClearColor(black);
        QVERIFY(view.renderFrame(std::weak_ptr<VideoFrameInterface>()));
        const QImage cleared = view.grabFramebuffer();
        QCOMPARE(cleared.pixelColor(200, 150), QColor(0, 0, 0));
    }

    void shaderViewRepaintsOnItsOwn() {
        if (!m_gl)
            QSKIP("no OpenGL on this display");
        OpenGLWidget view;
        view.resize(200, 200);
        QSignalSpy sizes(&view, &OpenGLWidget::sigFrameSizeChanged);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        TestPicture pic(64, 64);
        auto frame = VideoFrameFactory::create(pic.planes(), VideoFrameKind::YUV);
        std::thread engine([&] { QVERIFY(view.renderFrame(frame)); });
        engine.join();
        // Nobody asks for a paint here: the view's own wake-up must get one done.
        QTRY_COMPARE(sizes.count(), 1);
    }

    void shaderViewSurvivesNewWindow() {
        if (!m_gl)
            QSKIP("no OpenGL on this display");
        // Going full screen moves a view into another window, which gives it a new context.
        auto *view = new OpenGLWidget;
        view->resize(160, 90);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        TestPicture pic = TestPicture::uniform(32, 18, TestPicture::kGreen);
        auto frame = VideoFrameFactory::create(pic.planes(), VideoFrameKind::YUV);
        QVERIFY(view->renderFrame(frame));
        const QColor green = TestPicture::expectedShader(TestPicture::kGreen);
        QVERIFY(TestPicture::near(view->grabFramebuffer().pixelColor(80, 45), green, 4));

        QWidget window;
        window.resize(320, 180);
        view->setParent(&window);
        view->setGeometry(0, 0, 320, 180);
        view->show();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage shot = view->grabFramebuffer();
        QVERIFY2(TestPicture::near(shot.pixelColor(160, 90), green, 4),
                 qPrintable(describe(shot.pixelColor(160, 90), green)));
    }

    void shaderViewOddSize() {
        if (!m_gl)
            QSKIP("no OpenGL on this display");
        OpenGLWidget view;
        view.resize(202, 102);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // Odd strides: rows that are not 4-byte aligned must not drift.
        TestPicture pic = TestPicture::halves(101, 51, TestPicture::kRed, TestPicture::kBlue);
        QVERIFY(view.renderFrame(VideoFrameFactory::create(pic.planes(), VideoFrameKind::YUV)));
        const QImage shot = view.grabFramebuffer();
        savePicture(shot, "openglwidget-odd");
        const QColor red = TestPicture::expectedShader(TestPicture::kRed);
        const QColor blue = TestPicture::expectedShader(TestPicture::kBlue);
        for (int y : {2, 50, 99}) {
            QVERIFY2(TestPicture::near(shot.pixelColor(20, y), red, 6),
                     qPrintable(describe(shot.pixelColor(20, y), red)));
            QVERIFY2(TestPicture::near(shot.pixelColor(180, y), blue, 6),
                     qPrintable(describe(shot.pixelColor(180, y), blue)));
        }
    }

    void shaderViewRefusesWhilePainting() {
        if (!m_gl)
            QSKIP("no OpenGL on this display");
        ProbingOpenGLWidget view;
        view.resize(64, 48);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        FramePair pair;
        TestPicture red = TestPicture::uniform(32, 24, TestPicture::kRed);
        TestPicture blue = TestPicture::uniform(32, 24, TestPicture::kBlue);
        QVERIFY(pair.deliver(red.planes(), VideoFrameKind::YUV, &view));
        const auto shown = pair.current();
        bool delivered = true;
        view.duringPaint = [&] { delivered = pair.deliver(blue.planes(), VideoFrameKind::YUV, &view); };
        const QImage shot = view.grabFramebuffer();
        view.duringPaint = nullptr;
        QVERIFY(!delivered);
        QCOMPARE(pair.current(), shown);
        QVERIFY(
            TestPicture::near(shot.pixelColor(32, 24), TestPicture::expectedShader(TestPicture::kRed), 4));
    }

    void painterViewOnDisplay() {
        VideoWidget view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        TestPicture pic(320, 180, 16);
        FramePair pair;
        QVERIFY(pair.deliver(pic.planes(), VideoFrameKind::ARGB, &view));
        const QImage shot = view.grab().toImage();
        savePicture(shot, "videowidget");
        QCOMPARE(shot.pixelColor(200, 10), QColor(0, 0, 2));
        const Field fields[] = {{{100, 90}, TestPicture::kRed},
                                {{300, 90}, TestPicture::kGreen},
                                {{100, 210}, TestPicture::kBlue},
                                {{300, 210}, TestPicture::kGrey}};
        for (const Field &f : fields) {
            const QColor got = shot.pixelColor(f.at);
            const QColor want = TestPicture::expectedLibyuv(f.colour);
            QVERIFY2(TestPicture::near(got, want, 4), qPrintable(describe(got, want)));
        }
    }

    void concurrentDeliveryWhilePainting_data() {
        QTest::addColumn<bool>("opengl");
        QTest::newRow("VideoWidget") << false;
        QTest::newRow("OpenGLWidget") << true;
    }

    void concurrentDeliveryWhilePainting() {
        QFETCH(bool, opengl);
        if (opengl && !m_gl)
            QSKIP("no OpenGL on this display");
        std::unique_ptr<QWidget> widget;
        VideoWidgetInterface *view = nullptr;
        if (opengl) {
            auto *gl = new OpenGLWidget;
            widget.reset(gl);
            view = gl;
        } else {
            auto *sw = new VideoWidget;
            widget.reset(sw);
            view = sw;
        }
        widget->resize(320, 240);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        const VideoFrameKind kind = opengl ? VideoFrameKind::YUV : VideoFrameKind::ARGB;
        std::atomic<int> taken{0}, refused{0};
        std::atomic<bool> stop{false};
        std::thread engine([&] {
            FramePair pair;
            TestPicture a(64, 36), b(97, 55, 5), c = TestPicture::uniform(640, 360, TestPicture::kGrey);
            const TestPicture *pics[] = {&a, &b, &c};
            for (int i = 0; !stop.load() && i < 2000; ++i) {
                if (pair.deliver(pics[(i / 5) % 3]->planes(), kind, view))
                    ++taken;
                else
                    ++refused;
                if (i % 97 == 0)
                    view->renderFrame(std::weak_ptr<VideoFrameInterface>());
                std::this_thread::yield();
            }
        });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2000 && taken.load() + refused.load() < 2000) {
            widget->repaint();
            QCoreApplication::processEvents();
        }
        stop = true;
        engine.join();
        QVERIFY(taken.load() > 0);
        qInfo("taken %d refused %d", taken.load(), refused.load());
    }

private:
    QObject m_owner;
    bool m_gl = false;
};

QTEST_MAIN(TestVideoViews)
#include "tst_videoviews.moc"
