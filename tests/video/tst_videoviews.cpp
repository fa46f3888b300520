// Both views on the harness's X server (Xvfb with Mesa): colours, letterbox bars, size signal, odd
// sizes, refusal while painting and delivery from another thread.
#include <atomic>
#include <optional>
#include <thread>

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include "support/pinlibraries.h"
#include "testpicture.h"
#include "video/framepair.h"
#include "video/openglhelper.h"
#include "video/openglwidget.h"
#include "video/videowidget.h"

namespace {

const QColor kBackground(10, 20, 30);

// A view that runs a hook on another thread while a paint holds the frame lock.
template <class Base>
struct Probing : Base {
    explicit Probing(const std::function<void()> &hook) : hook(hook) {}
    void afterFrameDrawn() override {
        if (hook)
            std::thread(hook).join();
    }
    const std::function<void()> &hook;
};

// Either view on the background colour, with what differs between them behind one face.
struct View {
    View(bool opengl, QSize size) : kind(opengl ? VideoFrameKind::YUV : VideoFrameKind::ARGB) {
        const float background[4] = {10 / 255.0f, 20 / 255.0f, 30 / 255.0f, 1.0f};
        if (opengl)
            (gl = make<OpenGLWidget>())->setClearColor(background);
        else
            make<VideoWidget>()->setBackgroundColor(10, 20, 30);
        sizes.emplace(widget.get(), SIGNAL(sigFrameSizeChanged(float)));
        widget->resize(size);
        widget->show();
    }
    template <class Base>
    Base *make() {
        auto *view = new Probing<Base>(duringPaint);
        widget.reset(view);
        sink = view;
        return view;
    }
    bool exposed() { return QTest::qWaitForWindowExposed(widget.get()); }
    QImage shot() const { return gl ? gl->grabFramebuffer() : widget->grab().toImage(); }
    bool deliver(const TestPicture &pic) { return pair.deliver(pic.planes(), kind, sink); }
    QColor expected(Yuv c) const { return gl ? TestPicture::viaShader(c) : TestPicture::viaLibyuv(c); }

    const VideoFrameKind kind;
    std::function<void()> duringPaint;
    FramePair pair;
    std::unique_ptr<QWidget> widget;
    std::optional<QSignalSpy> sizes;
    OpenGLWidget *gl = nullptr;
    VideoWidgetInterface *sink = nullptr;
};

// Empty when shot has the colour want at, else what it has.
QString differs(const QImage &shot, QPoint at, QColor want, int tolerance = 4) {
    const QColor got = shot.pixelColor(at);
    if (TestPicture::near(got, want, tolerance))
        return {};
    return QString("at %1,%2 got %3 want %4").arg(at.x()).arg(at.y()).arg(got.name(), want.name());
}

// The first sample of shot that is not the four-field picture drawn into r, or not the background
// around it. Corner samples stay clear of the edges, which filtering blends.
QString mismatch(const View &view, const QImage &shot, const QRect &r) {
    const int in = 4;
    const Yuv fields[2][2] = {{kRed, kGreen}, {kBlue, kGrey}};
    std::vector<std::pair<QPoint, QColor>> samples;
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 2; ++col) {
            const QColor c = view.expected(fields[row][col]);
            samples.push_back(
                {r.topLeft() + QPoint((2 * col + 1) * r.width(), (2 * row + 1) * r.height()) / 4, c});
            samples.push_back(
                {{col ? r.right() - in : r.left() + in, row ? r.bottom() - in : r.top() + in}, c});
        }
    const int cx = r.center().x(), cy = r.center().y(), w = shot.width(), h = shot.height();
    for (const QPoint bar : {QPoint(cx, r.top() / 2), QPoint(cx, (r.bottom() + h) / 2),
                             QPoint(r.left() / 2, cy), QPoint((r.right() + w) / 2, cy)})
        if (!r.adjusted(-in, -in, in, in).contains(bar))
            samples.push_back({bar, kBackground});
    for (const auto &[at, want] : samples)
        if (const QString wrong = differs(shot, at, want); !wrong.isEmpty())
            return wrong;
    return {};
}

void byView() {
    QTest::addColumn<bool>("opengl");
    QTest::newRow("painter") << false;
    QTest::newRow("opengl") << true;
}

}  // namespace

class TestVideoViews : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(OpenGLHelper::init(&m_owner));
        pinLoadedLibraries();
        // Debian's Mesa (libgl1-mesa-dri) gives llvmpipe on Xvfb: the process takes the shader path.
        QVERIFY(OpenGLHelper::isSupported());
        QCOMPARE(VideoFrameFactory::processKind(), VideoFrameKind::YUV);
    }

    void picture_data() {
        QTest::addColumn<bool>("opengl");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("padding");
        QTest::addColumn<QSize>("viewSize");
        QTest::addColumn<QRect>("where");  // the picture's place in the view
        for (bool gl : {false, true}) {
            const char *name = gl ? "opengl" : "painter";
            QTest::addRow("%s 16:9 padded in 4:3", name)
                << gl << QSize(320, 180) << 16 << QSize(400, 300) << QRect(0, 37, 400, 225);
            QTest::addRow("%s square in 4:3", name)
                << gl << QSize(180, 180) << 0 << QSize(400, 300) << QRect(50, 0, 300, 300);
            // Rows of 101 and 51 bytes are not 4-byte aligned and must not drift.
            QTest::addRow("%s odd unaligned", name)
                << gl << QSize(101, 51) << 0 << QSize(202, 102) << QRect(0, 0, 202, 102);
            QTest::addRow("%s odd padded", name)
                << gl << QSize(75, 41) << 3 << QSize(150, 82) << QRect(0, 0, 150, 82);
        }
    }

    // A frame from the engine's thread, painted by the view's own wake-up (a timer, an eventfd).
    void picture() {
        QFETCH(bool, opengl);
        QFETCH(QSize, picture);
        QFETCH(int, padding);
        QFETCH(QSize, viewSize);
        QFETCH(QRect, where);
        View view(opengl, viewSize);
        QVERIFY(view.exposed());
        const TestPicture pic(picture, padding);
        bool taken = false;
        std::thread([&] { taken = view.deliver(pic); }).join();
        QVERIFY(taken);
        QTRY_COMPARE_WITH_TIMEOUT(view.sizes->count(), 1, 10000);
        QVERIFY(qAbs(view.sizes->at(0).at(0).toFloat() - float(picture.width()) / picture.height()) < 1e-3f);
        const QString wrong = mismatch(view, view.shot(), where);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

        // A frame of the other kind, or an empty reference (connection lost), leaves the background.
        const auto otherKind =
            VideoFrameFactory::create(pic.planes(), opengl ? VideoFrameKind::ARGB : VideoFrameKind::YUV);
        for (const auto &clearing : {otherKind, std::shared_ptr<VideoFrameInterface>()}) {
            QVERIFY(view.deliver(pic));
            QVERIFY(view.sink->renderFrame(clearing));
            QCOMPARE(differs(view.shot(), where.topLeft() + QPoint(where.width(), where.height()) / 4,
                             kBackground, 2),
                     QString());
        }
    }

    void sizeSignal_data() { byView(); }

    // Only a new ratio is signalled, not a change of 0.01 or less.
    void sizeSignal() {
        QFETCH(bool, opengl);
        View view(opengl, {400, 300});
        QVERIFY(view.exposed());
        for (const auto &[size, signalled] :
             {std::pair{QSize(320, 180), 1}, {QSize(321, 180), 1}, {QSize(180, 180), 2}}) {
            QVERIFY(view.deliver(TestPicture(size)));
            view.shot();
            QCOMPARE(view.sizes->count(), signalled);
        }
    }

    // Earlier fault: a view moved into another window (as for full screen) gets a new context and
    // drew nothing with it.
    void openglSurvivesNewWindow() {
        QWidget window;
        OpenGLWidget view;
        view.resize(160, 90);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(view.renderFrame(
            VideoFrameFactory::create(TestPicture({32, 18}, 0, &kGreen).planes(), VideoFrameKind::YUV)));
        const QColor green = TestPicture::viaShader(kGreen);
        QCOMPARE(differs(view.grabFramebuffer(), {80, 45}, green), QString());
        window.resize(320, 180);
        view.setParent(&window);
        view.setGeometry(0, 0, 320, 180);
        view.show();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(differs(view.grabFramebuffer(), {160, 90}, green), QString());
    }

    void refusesWhilePainting_data() { byView(); }

    void refusesWhilePainting() {
        QFETCH(bool, opengl);
        View view(opengl, {64, 48});
        QVERIFY(view.exposed());
        const TestPicture red({32, 24}, 0, &kRed), blue({32, 24}, 0, &kBlue);
        QVERIFY(view.deliver(red));
        const auto shown = view.pair.current();
        bool direct = true, delivered = true;
        view.duringPaint = [&] {
            direct = view.sink->renderFrame(std::weak_ptr<VideoFrameInterface>());
            delivered = view.deliver(blue);
        };
        const QImage shot = view.shot();
        view.duringPaint = nullptr;
        QVERIFY(!direct);
        QVERIFY(!delivered);
        QCOMPARE(view.pair.current(), shown);
        QCOMPARE(differs(shot, {32, 24}, view.expected(kRed)), QString());
        // Once the paint is over the view takes frames again.
        QVERIFY(view.deliver(blue));
        QCOMPARE(differs(view.shot(), {32, 24}, view.expected(kBlue)), QString());
    }

    void concurrentDeliveryWhilePainting_data() { byView(); }

    void concurrentDeliveryWhilePainting() {
        QFETCH(bool, opengl);
        View view(opengl, {320, 240});
        QVERIFY(view.exposed());
        std::atomic<int> taken{0}, offered{0};
        std::thread engine([&] {
            const TestPicture a({64, 36}), b({97, 55}, 5), c({640, 360}, 0, &kGrey);
            const TestPicture *pics[] = {&a, &b, &c};
            for (; offered < 2000; ++offered) {
                taken += view.deliver(*pics[(offered / 5) % 3]);
                if (offered % 97 == 0)
                    view.sink->renderFrame(std::weak_ptr<VideoFrameInterface>());
                std::this_thread::yield();
            }
        });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2000 && offered < 2000) {
            view.widget->repaint();
            QCoreApplication::processEvents();
        }
        engine.join();
        QVERIFY(taken > 0);
    }

private:
    QObject m_owner;
};

QTEST_MAIN(TestVideoViews)
#include "tst_videoviews.moc"
