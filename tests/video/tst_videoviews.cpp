// Frames, conversion, the frame pair, the probe and both views on the harness's Xvfb with Mesa:
// colours, bars, size signal, threads, refusal while painting.
#include <algorithm>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

#include <QApplication>
#include <QOpenGLContext>
#include <QtTest>

#include "core/i420planes.h"
#include "support/pinlibraries.h"
#include "video/argbframe.h"
#include "video/framepair.h"
#include "video/openglhelper.h"
#include "video/openglwidget.h"
#include "video/videoframefactory.h"
#include "video/videowidget.h"
#include "video/yuvframe.h"

Q_DECLARE_METATYPE(I420Planes)

namespace {

struct Yuv {
    uint8_t y, u, v;
};
// BT.601 studio-range values.
constexpr Yuv kRed{81, 90, 240}, kGreen{145, 54, 34}, kBlue{41, 240, 110}, kGrey{128, 128, 128};

// I420 of four fields (red, green over blue, grey) or of one colour. Rows end in junk: padding bytes
// for Y and U, twice as many for V, so that padded pictures have three different strides.
struct TestPicture {
    explicit TestPicture(QSize size, int padding = 0, const Yuv *only = nullptr)
        : w(size.width()), h(size.height()), sY(w + padding), sU((w + 1) / 2 + padding), sV(sU + padding) {
        const Yuv fields[2][2] = {{kRed, kGreen}, {kBlue, kGrey}};
        y_.assign(std::size_t(sY) * h, 0xEE);
        u_.assign(std::size_t(sU) * ((h + 1) / 2), 0x11);
        v_.assign(std::size_t(sV) * ((h + 1) / 2), 0x33);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Yuv c = only ? *only : fields[y >= h / 2][x >= w / 2];
                y_[std::size_t(y) * sY + x] = c.y;
                if (x % 2 == 0 && y % 2 == 0) {  // a 2x2 block's chroma is its top-left pixel's
                    u_[std::size_t(y / 2) * sU + x / 2] = c.u;
                    v_[std::size_t(y / 2) * sV + x / 2] = c.v;
                }
            }
    }

    I420Planes planes() const { return I420Planes::of(y_.data(), u_.data(), v_.data(), sY, sU, sV, w, h); }
    Yuv at(int x, int y) const {
        const std::size_t c = std::size_t(y / 2);
        return Yuv{y_[std::size_t(y) * sY + x], u_[c * sU + x / 2], v_[c * sV + x / 2]};
    }

    const int w, h, sY, sU, sV;
    std::vector<uint8_t> y_, u_, v_;
};

QColor rgb(double r, double g, double b) {
    const auto c = [](double v) { return std::clamp(int(std::lround(v)), 0, 255); };
    return QColor(c(r), c(g), c(b));
}
// What each path should show: the fragment shader's formula, and libyuv's BT.601 studio range.
QColor viaShader(Yuv c) {
    const double y = c.y, u = c.u - 127.5, v = c.v - 127.5;
    return rgb(y + 1.402 * v, y - 0.344 * u - 0.714 * v, y + 1.772 * u);
}
QColor viaLibyuv(Yuv c) {
    const double y = 1.164 * (c.y - 16), u = c.u - 128.0, v = c.v - 128.0;
    return rgb(y + 1.596 * v, y - 0.391 * u - 0.813 * v, y + 2.018 * u);
}

// Empty when shot has the colour want (opaque) at, else what it has.
QString differs(const QImage &shot, QPoint at, QColor want, int tolerance = 4) {
    const QColor got = shot.pixelColor(at);
    const int off = std::max({std::abs(got.red() - want.red()), std::abs(got.green() - want.green()),
                              std::abs(got.blue() - want.blue()), 255 - got.alpha()});
    const QString where = QString("at %1,%2 got ").arg(at.x()).arg(at.y());
    return off <= tolerance ? QString() : where + got.name(QColor::HexArgb) + " want " + want.name();
}

const QColor kBackground(10, 20, 30);

// Keeps what it is given, as the real views do, and refuses while told to.
struct RecordingView : VideoWidgetInterface {
    bool renderFrame(std::weak_ptr<VideoFrameInterface> frame) override {
        if (!refuse)
            shown = frame.lock();
        return !refuse;
    }
    std::shared_ptr<VideoFrameInterface> shown;
    bool refuse = false;
};

const auto raw = [](const uint8_t *data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
};
const auto bytes = [](const std::shared_ptr<VideoFrameInterface> &f) { return raw(f->data(), f->size()); };

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
    QImage shot() const { return gl ? gl->grabFramebuffer() : widget->grab().toImage(); }
    bool deliver(const TestPicture &pic) { return pair.deliver(pic.planes(), kind, sink); }
    QColor expected(Yuv c) const { return gl ? viaShader(c) : viaLibyuv(c); }

    const VideoFrameKind kind;
    std::function<void()> duringPaint;
    FramePair pair;
    std::unique_ptr<QWidget> widget;
    std::optional<QSignalSpy> sizes;
    OpenGLWidget *gl = nullptr;
    VideoWidgetInterface *sink = nullptr;
};

// The first sample of shot that is not the four-field picture drawn into r (near its corners, as
// filtering blends the edges) or not the background in the bars around it.
QString mismatch(const View &view, const QImage &shot, const QRect &r) {
    const int in = 4, cx = r.center().x(), cy = r.center().y();
    std::vector<std::pair<QPoint, QColor>> samples{{r.topLeft() + QPoint(in, in), view.expected(kRed)},
                                                   {r.topRight() + QPoint(-in, in), view.expected(kGreen)},
                                                   {r.bottomLeft() + QPoint(in, -in), view.expected(kBlue)},
                                                   {r.bottomRight() - QPoint(in, in), view.expected(kGrey)}};
    for (const QPoint bar : {QPoint(cx, r.top() / 2), QPoint(cx, (r.bottom() + shot.height()) / 2),
                             QPoint(r.left() / 2, cy), QPoint((r.right() + shot.width()) / 2, cy)})
        if (!r.adjusted(-in, -in, in, in).contains(bar))
            samples.push_back({bar, kBackground});
    QString wrong;
    for (auto it = samples.begin(); wrong.isEmpty() && it != samples.end(); ++it)
        wrong = differs(shot, it->first, it->second);
    return wrong;
}

}  // namespace

class FrameReceiver : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void appendApp(const QString &, std::shared_ptr<VideoFrameInterface> f) { got = f; }
    std::shared_ptr<VideoFrameInterface> got;
};

class TestVideoViews : public QObject {
    Q_OBJECT
    QObject owner_;
    const TestPicture small_{{8, 8}};

private slots:
    void initTestCase() {
        QVERIFY(OpenGLHelper::init(&owner_));
        pinLoadedLibraries();
        // Debian's Mesa (libgl1-mesa-dri) gives llvmpipe on Xvfb: the process takes the shader path.
        QVERIFY(OpenGLHelper::isSupported() && VideoFrameFactory::processKind() == VideoFrameKind::YUV);
    }

    void refusesHostilePlanes_data() {
        QTest::addColumn<I420Planes>("planes");
        const I420Planes p = small_.planes();
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
            QVERIFY(!view.shown && !pair.current() && !pair.spare());
        }
    }

    void framesHoldThePicture_data() { picture_data(); }

    // The frame each view is given: the three planes as they came, or every pixel as B, G, R, 255.
    void framesHoldThePicture() {
        QFETCH(bool, opengl);
        QFETCH(QSize, picture);
        QFETCH(int, padding);
        const TestPicture pic(picture, padding);
        const I420Planes p = pic.planes();
        if (opengl) {  // back to back, an odd height keeping its last chroma row
            auto yuv = std::dynamic_pointer_cast<YUVFrame>(VideoFrameFactory::create(p, VideoFrameKind::YUV));
            const auto nY = std::size_t(p.strideY) * p.height, nU = std::size_t(p.strideU) * p.chromaHeight();
            QVERIFY(yuv && yuv->planeU() == yuv->data() + nY && yuv->planeV() == yuv->planeU() + nU);
            QCOMPARE(bytes(yuv), raw(p.y, nY) + raw(p.u, nU) + raw(p.v, p.strideV * p.chromaHeight()));
            return;
        }
        auto argb = std::dynamic_pointer_cast<ARGBFrame>(VideoFrameFactory::create(p, VideoFrameKind::ARGB));
        QVERIFY(argb && argb->size() == std::size_t(pic.w * pic.h * 4));
        const QImage shown(argb->data(), pic.w, pic.h, int(argb->stride()), QImage::Format_ARGB32);
        for (int y = 0; y < pic.h; ++y)
            for (int x = 0; x < pic.w; ++x)
                QCOMPARE(differs(shown, {x, y}, viaLibyuv(pic.at(x, y))), QString());
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
        QVERIFY(view.shown == pair.current() && bytes(view.shown) == redBytes);
        view.refuse = false;
        QVERIFY(pair.deliver(green.planes(), VideoFrameKind::ARGB, &view));
        QVERIFY(view.shown == pair.current() && view.shown.get() == spare && bytes(view.shown) != redBytes);
        // A frame someone still holds (a paint, a thumbnail list) is never written again.
        const std::shared_ptr<VideoFrameInterface> held = pair.spare();
        QVERIFY(pair.deliver(blue.planes(), VideoFrameKind::ARGB, &view));
        QVERIFY(bytes(held) == redBytes && pair.current() != held);
        pair.clear();
        QVERIFY(!pair.current() && !pair.spare());
    }

    // Earlier fault: a queued call by name (the source dialog's thumbnails) did not know the frame type.
    void queuedCallByNameCarriesAFrame() {
        FrameReceiver receiver;
        auto frame = VideoFrameFactory::create(small_.planes(), VideoFrameKind::ARGB);
        QVERIFY(QMetaObject::invokeMethod(&receiver, "appendApp", Qt::QueuedConnection,
                                          Q_ARG(QString, QStringLiteral("screen")),
                                          Q_ARG(std::shared_ptr<VideoFrameInterface>, frame)));
        QTRY_COMPARE(receiver.got, frame);
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
            // Odd strides of 103, 53 and 55 bytes are not 4-byte aligned and must not drift.
            QTest::addRow("%s odd unaligned", name)
                << gl << QSize(101, 51) << 2 << QSize(202, 102) << QRect(0, 0, 202, 102);
        }
    }

    // A frame from the engine's thread, painted by the view's own wake-up (a timer, an eventfd).
    void picture() {
        QFETCH(bool, opengl);
        QFETCH(QSize, picture);
        QFETCH(int, padding);
        QFETCH(QSize, viewSize);
        QFETCH(QRect, where);
        QWidget window;  // outlives the view it takes in
        View view(opengl, viewSize);
        QVERIFY(QTest::qWaitForWindowExposed(view.widget.get()));
        const TestPicture pic(picture, padding);
        bool taken = false;
        std::thread([&] { taken = view.deliver(pic); }).join();
        QVERIFY(taken);
        QTRY_COMPARE_WITH_TIMEOUT(view.sizes->count(), 1, 10000);
        QVERIFY(qAbs(view.sizes->at(0).at(0).toFloat() - float(picture.width()) / picture.height()) < 1e-3f);
        // While a paint holds the frame lock the view refuses at once; the pair keeps what it shows.
        const auto shown = view.pair.current();
        const TestPicture blue(picture, 0, &kBlue);
        bool direct = true, delivered = true;
        view.duringPaint = [&] {
            direct = view.sink->renderFrame(std::weak_ptr<VideoFrameInterface>());
            delivered = view.deliver(blue);
        };
        QCOMPARE(mismatch(view, view.shot(), where), QString());
        view.duringPaint = nullptr;
        QVERIFY(!direct && !delivered && view.pair.current() == shown);
        // Only a new ratio is signalled, not a change of 0.01 or less.
        QVERIFY(view.deliver(TestPicture(picture * 4 + QSize(1, 0))) && !view.shot().isNull());
        QVERIFY(view.deliver(TestPicture({picture.width(), picture.height() / 2})) && !view.shot().isNull());
        QCOMPARE(view.sizes->count(), 2);
        // A frame of the other kind, or an empty reference (connection lost), leaves the background.
        const auto otherKind =
            VideoFrameFactory::create(pic.planes(), opengl ? VideoFrameKind::ARGB : VideoFrameKind::YUV);
        for (const auto &clearing : {otherKind, std::shared_ptr<VideoFrameInterface>()}) {
            QVERIFY(view.deliver(pic) && view.sink->renderFrame(clearing));
            QCOMPARE(differs(view.shot(), where.center(), kBackground, 2), QString());
        }
        // Earlier fault: a view moved into another window (full screen) drew nothing with its new context.
        QVERIFY(view.deliver(pic) && !view.shot().isNull());  // painted, and so uploaded, in the old context
        view.widget->setParent(&window);
        view.widget->setGeometry(QRect(QPoint(), viewSize));
        view.widget->show();
        window.resize(viewSize);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(mismatch(view, view.shot(), where), QString());
    }

    // No context (as without OpenGL) or only OpenGL ES: the software path.
    // Earlier fault: the probe ignored the application's default format and made a desktop context.
    void probeFallsBack_data() {
        QTest::addColumn<QSurfaceFormat::RenderableType>("type");
        QTest::newRow("no context") << QSurfaceFormat::OpenVG;
        QTest::newRow("OpenGL ES only") << QSurfaceFormat::OpenGLES;
    }

    void probeFallsBack() {
        QFETCH(QSurfaceFormat::RenderableType, type);
        QSurfaceFormat format;
        format.setRenderableType(type);
        format.setVersion(2, 0);
        QSurfaceFormat::setDefaultFormat(format);
        QObject owner;
        const bool made = OpenGLHelper::init(&owner);
        QVERIFY(made == (type == QSurfaceFormat::OpenGLES) && !OpenGLHelper::isSupported());
        QVERIFY(!made || owner.findChild<QOpenGLContext *>()->isOpenGLES());
        QCOMPARE(VideoFrameFactory::processKind(), VideoFrameKind::ARGB);
    }
};

QTEST_MAIN(TestVideoViews)
#include "tst_videoviews.moc"
