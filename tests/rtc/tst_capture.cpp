// Capture of monitors and windows on the harness's X display, split here into two monitors of known
// colours: through the capture classes, through the engine's C contract (with a receiving engine
// peer that decodes what switching shows), and beside Qt's own windows as in the program.

#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "enginepair.h"
#include "rtc/gst/screenscaler.h"
#include "rtc/gst/screensourcecapturer.h"
#include "rtc/gst/screenstream.h"
#include "rtc/gst/x11screensource.h"
#include "rtc/zuwebrtc.h"
#include "support/testsupport.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#undef Bool
#undef None

using namespace zuengine;

namespace {

constexpr uint32_t kLeft = 0x28a03c, kRight = 0xc83cb4;  // the two monitors' desktop
constexpr uint32_t kRed = 0xe61e1e, kBlue = 0x1e28dc, kYellow = 0xf0dc14, kCyan = 0x14d2dc;
constexpr const char *kMonitorNames[2] = {"ZU-TEST-LEFT", "ZU-TEST-RIGHT"};

struct Yuv {
    int y, u, v;
};
constexpr Yuv kBlack{16, 128, 128};

Yuv yuvOf(uint32_t rgb) {  // BT.601 limited range, as libyuv converts
    const int r = int(rgb >> 16) & 0xff, g = int(rgb >> 8) & 0xff, b = int(rgb) & 0xff;
    return {((66 * r + 129 * g + 25 * b + 128) >> 8) + 16, ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128,
            ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128};
}

Yuv at(const I420View &p, int x, int y) {
    return {p.y[y * p.strideY + x], p.u[y / 2 * p.strideU + x / 2], p.v[y / 2 * p.strideV + x / 2]};
}

// The mean of a 5 x 5 square around x, y0.
Yuv sample(const I420View &p, int x, int y0) {
    Yuv sum{0, 0, 0};
    int n = 0;
    for (int row = std::max(0, y0 - 2); row <= std::min(p.height - 1, y0 + 2); ++row) {
        for (int col = std::max(0, x - 2); col <= std::min(p.width - 1, x + 2); ++col, ++n) {
            const Yuv c = at(p, col, row);
            sum = {sum.y + c.y, sum.u + c.u, sum.v + c.v};
        }
    }
    return n ? Yuv{sum.y / n, sum.u / n, sum.v / n} : Yuv{-1, -1, -1};
}

bool near(Yuv a, Yuv b, int tolerance = 6) {
    return std::abs(a.y - b.y) <= tolerance && std::abs(a.u - b.u) <= tolerance &&
           std::abs(a.v - b.v) <= tolerance;
}

QByteArray describe(Yuv c) {
    return QString("YUV(%1,%2,%3)").arg(c.y).arg(c.u).arg(c.v).toUtf8();
}

#define ZU_VERIFY_NEAR(seen, want, tolerance)                    \
    do {                                                         \
        const Yuv seen_ = (seen);                                \
        QVERIFY2(near(seen_, want, tolerance), describe(seen_)); \
    } while (false)
#define ZU_VERIFY_SHOWS(seen, rgb) ZU_VERIFY_NEAR(seen, yuvOf(rgb), 6)

int ignoreErrors(Display *, XErrorEvent *) {
    return 0;  // a window that is gone already is no failure of the test
}

// Copies of what a stream pushes, for the test thread to look at.
class PictureRecorder {
public:
    std::unique_ptr<ScreenStream> stream() {
        return std::make_unique<ScreenStream>([this](const I420View &p) { push(p); },
                                              [this] { ++keyFrames; });
    }
    void push(const I420View &p) {
        std::lock_guard<std::mutex> lock(mutex_);
        last_.resize(p.width, p.height);
        const int chroma = last_.strideUV();
        for (int row = 0; row < p.height; ++row) {
            std::memcpy(last_.y() + row * last_.strideY(), p.y + row * p.strideY, p.width);
            if (row % 2 == 0) {
                std::memcpy(last_.u() + row / 2 * chroma, p.u + row / 2 * p.strideU, chroma);
                std::memcpy(last_.v() + row / 2 * chroma, p.v + row / 2 * p.strideV, chroma);
            }
        }
        ++count_;
    }
    int count() const { return count_; }
    ScreenFrame last() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }
    QSize size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return {last_.width(), last_.height()};
    }
    Yuv sample(double fx, double fy) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return ::sample(last_.view(), int(fx * last_.width()), int(fy * last_.height()));
    }
    std::atomic<int> keyFrames{0};

private:
    mutable std::mutex mutex_;
    ScreenFrame last_;
    std::atomic<int> count_{0};
};

const ScreenSource *findSource(const std::vector<ScreenSource> &sources, const std::string &title,
                               uint64_t id = 0) {
    for (const ScreenSource &source : sources) {
        if (id ? source.id == id : source.title == title)
            return &source;
    }
    return nullptr;
}

// What the C contract's snapshot callback delivered.
struct Delivered {
    std::string title;
    QSize size;
    int strideU;
    bool packed;
    Yuv centre, corner;
    std::thread::id thread;
};

struct Collector {
    std::mutex mutex;
    std::vector<Delivered> items;
    int deleteSelfAfter = 0, capturer = 0;  // deletes its capturer from the callback after that many
    int size() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(items.size());
    }
    int indexOf(const std::string &title) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it =
            std::find_if(items.begin(), items.end(), [&](const Delivered &d) { return d.title == title; });
        return it == items.end() ? -1 : int(it - items.begin());
    }
};

std::atomic<int> lateSnapshots{0};
std::atomic<void *> goneCollector{nullptr};

void onSnapshot(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int strideY, int strideU,
                int strideV, int, int w, int h, int, int, const char *title, void *user) {
    if (user == goneCollector)
        ++lateSnapshots;
    auto *collector = static_cast<Collector *>(user);
    const I420View p{y, u, v, strideY, strideU, strideV, w, h};
    const bool packed = u == y + std::size_t(strideY) * h && v == u + std::size_t(strideU) * ((h + 1) / 2);
    std::lock_guard<std::mutex> lock(collector->mutex);
    collector->items.push_back({title, QSize(w, h), strideU, packed, sample(p, w / 2, h / 2),
                                at(p, w - 1, h - 1), std::this_thread::get_id()});
    if (collector->deleteSelfAfter == int(collector->items.size()))
        deleteScreenSourceCpaturer(collector->capturer);
}

// One snapshot round of a capturer through the C contract, waited for.
bool captureRound(int cap, Collector &collector) {
    const int count = getSourceNum(cap);
    return asynCaptureAllScreenOnece(cap, onSnapshot, &collector, 0) == ZUWEBRTC_OK &&
           testsupport::waitUntil([&] { return collector.size() == count; }, 10000);
}

// The capture thread runs rounds in turn: once a round of a fresh capturer has ended, every round
// queued before it has run or been dropped.
bool drainCaptureThread() {
    Collector fence;
    const int cap = CreateScreenSourceCapturer();
    const bool done = captureRound(cap, fence);
    deleteScreenSourceCpaturer(cap);
    return done;
}

}  // namespace

class TestCapture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const char *name = std::getenv("DISPLAY");
        if (!name || !*name || !(d_ = XOpenDisplay(name)))
            QSKIP("needs the X display of the test harness");
        XSetErrorHandler(ignoreErrors);
        root_ = DefaultRootWindow(d_);
        width_ = DisplayWidth(d_, DefaultScreen(d_));
        height_ = DisplayHeight(d_, DefaultScreen(d_));
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs Qt on the X display of the test harness");
        removeMonitors();
        // The harness starts the window manager beside the tests: give it time to take the screen.
        testsupport::waitUntil([this] { return !windowList("_NET_SUPPORTING_WM_CHECK").empty(); }, 3000);
        QVERIFY(splitIntoTwoMonitors());
    }
    void init() { warpPointer(width_ - 3, 3); }
    void cleanup() {
        while (!made_.empty())
            destroyWindow(made_.back());
    }
    void cleanupTestCase() {
        if (!d_)
            return;
        removeMonitors();
        XSetWindowBackground(d_, root_, BlackPixel(d_, DefaultScreen(d_)));
        XClearWindow(d_, root_);
        if (background_)
            XFreePixmap(d_, background_);
        XCloseDisplay(d_);
    }

    void thumbnailSizeKeepsAspect_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("thumbnail");
        QTest::newRow("16:9") << QSize(1920, 1080) << QSize(480, 270);
        QTest::newRow("wide") << QSize(3840, 1000) << QSize(480, 125);
        QTest::newRow("one row") << QSize(5000, 1) << QSize(480, 1);
    }
    void thumbnailSizeKeepsAspect() {
        QFETCH(QSize, picture);
        QFETCH(QSize, thumbnail);
        int w = 0, h = 0;
        ScreenScaler::thumbnailSize(picture.width(), picture.height(), 480, 270, w, h);
        QCOMPARE(QSize(w, h), thumbnail);
    }
    void letterboxRectIsEven_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("same") << QSize(1920, 1080) << QSize(1920, 1080) << QRect(0, 0, 1920, 1080);
        QTest::newRow("odd pixel cropped, not scaled")
            << QSize(1921, 1081) << QSize(1920, 1080) << QRect(0, 0, 1920, 1080);
        QTest::newRow("pillarbox") << QSize(960, 1080) << QSize(1920, 1080) << QRect(480, 0, 960, 1080);
        QTest::newRow("down") << QSize(3840, 2160) << QSize(1920, 1080) << QRect(0, 0, 1920, 1080);
        QTest::newRow("odd up") << QSize(301, 201) << QSize(960, 1080) << QRect(0, 220, 960, 640);
        QTest::newRow("odd letterbox") << QSize(101, 57) << QSize(960, 1080) << QRect(0, 268, 960, 542);
    }
    void letterboxRectIsEven() {
        QFETCH(QSize, picture);
        QFETCH(QSize, canvas);
        QFETCH(QRect, expected);
        const ScreenScaler::Rect r =
            ScreenScaler::fitRect(picture.width(), picture.height(), canvas.width(), canvas.height());
        QCOMPARE(QRect(r.x, r.y, r.width, r.height), expected);
    }

    void pillarboxOfATinyPictureHasBlackBands() {
        // A 3 x 3 picture must neither be read past nor leave the canvas's garbage beside it.
        std::vector<uint32_t> pixels(9, 0xff000000u | kYellow);  // BGRX bytes on a little-endian machine
        ScreenFrame canvas(64, 32);
        std::memset(canvas.y(), 0, canvas.byteSize());
        ScreenScaler().letterbox(ScreenImage{reinterpret_cast<uint8_t *>(pixels.data()), 3, 3, 12}, canvas);
        ZU_VERIFY_SHOWS(sample(canvas.view(), 32, 16), kYellow);
        ZU_VERIFY_NEAR(sample(canvas.view(), 2, 16), kBlack, 1);
        ZU_VERIFY_NEAR(sample(canvas.view(), 61, 16), kBlack, 1);
    }
    void windowsListedByTitleWithoutDocksOrHidden() {
        const uint64_t a = window("甲 窗口 A", 40, 60, 320, 200, kRed);
        QVERIFY(a && window("Window B", 400, 60, 200, 160, kBlue));
        QVERIFY(window("a dock", 200, 300, 120, 30, kBlue, "_NET_WM_WINDOW_TYPE_DOCK"));
        QVERIFY(window("", 300, 300, 120, 100, kBlue));
        QVERIFY(minimise(window("minimised", 400, 300, 120, 100, kCyan)));
        const std::vector<ScreenSource> windows = X11ScreenSource::open()->windows({});
        const ScreenSource *wa = findSource(windows, "甲 窗口 A");
        QVERIFY(wa && wa < findSource(windows, "Window B"));  // the window manager's order: oldest first
        QCOMPARE(wa->id, a);
        QCOMPARE(QSize(wa->width, wa->height), QSize(320, 200));
        QVERIFY(!findSource(windows, "a dock") && !findSource(windows, "minimised") &&
                !findSource(windows, ""));
    }
    void coveredAndOffScreenWindowsShowOwnContent() {
        std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
        if (!source->hasComposite())
            QSKIP("the X server has no Composite extension");
        const uint64_t under = window("under", 100, 100, 300, 200, kCyan);
        QVERIFY(under && window("over", 100, 100, 300, 200, kRed));  // mapped later, so on top
        const ScreenSource covered = *findSource(source->windows({}), "under");
        // Covered, then partly off the screen: still the whole window.
        for (const QPoint &to : {QPoint(100, 100), QPoint(width_ - 100, height_ - 50)}) {
            move(under, to.x(), to.y());
            ScreenImage image;
            QVERIFY(source->grab(covered, false, image));
            QCOMPARE(QSize(image.width, image.height), QSize(300, 200));
            ScreenFrame frame;
            ScreenScaler().toThumbnail(image, frame);
            ZU_VERIFY_SHOWS(sample(frame.view(), 150, 100), kCyan);
            ZU_VERIFY_SHOWS(sample(frame.view(), 290, 190), kCyan);
        }
    }
    void vanishedSourceIsLeftOutAndIndexesFollow() {
        QVERIFY(window("first", 40, 60, 200, 150, kRed));
        const uint64_t doomed = window("doomed", 300, 60, 200, 150, kBlue);
        const uint64_t last = window("last", 560, 60, 200, 150, kYellow);
        QVERIFY(doomed && last);
        ScreenSourceCapturer capturer(X11ScreenSource::open());
        const int listed = capturer.sourceCount();
        std::vector<std::string> titles;
        capturer.snapshotRound([&](const ScreenFrame &, const std::string &title) {
            if (title == "first")  // between the round's listing and the capture of "doomed"
                destroyWindow(doomed);
            titles.push_back(title);
        });
        QCOMPARE(int(titles.size()), listed - 1);
        QVERIFY(std::find(titles.begin(), titles.end(), "doomed") == titles.end());
        for (int i = 0; i < int(titles.size()); ++i)
            QCOMPARE(capturer.sourceAt(i)->title, titles[i]);
        const int lastIndex = int(std::find(titles.begin(), titles.end(), "last") - titles.begin());
        QCOMPARE(capturer.sourceAt(lastIndex)->id, last);
        QVERIFY(!capturer.sourceAt(int(titles.size())));
    }

    void unknownHandlesAreRefused() {
        QCOMPARE(getSourceNum(987654), ZUWEBRTC_EHANDLE);
        QCOMPARE(setExcludedWindow(987654, 1), ZUWEBRTC_EHANDLE);
        QCOMPARE(asynCaptureAllScreenOnece(987654, onSnapshot, nullptr, 0), ZUWEBRTC_EHANDLE);
        QCOMPARE(switchDesktopSource(987654, 0), ZUWEBRTC_EHANDLE);
        QCOMPARE(deleteScreenSourceCpaturer(987654), ZUWEBRTC_EHANDLE);
        const int cap = CreateScreenSourceCapturer();
        QVERIFY(cap > 0);
        QCOMPARE(asynCaptureAllScreenOnece(cap, nullptr, nullptr, 0), ZUWEBRTC_EARG);
        QCOMPARE(switchDesktopSource(cap, -1), ZUWEBRTC_EARG);
        QCOMPARE(switchDesktopSource(cap, getSourceNum(cap)), ZUWEBRTC_EARG);
        QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
        QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_EHANDLE);
    }
    void snapshotsFollowWindowsInOrderOnOneThread() {
        const int cap = CreateScreenSourceCapturer();
        const int before = getSourceNum(cap);
        QVERIFY(before >= 2);
        const uint64_t excluded = window("排除 excluded", 40, 400, 200, 150, kCyan);
        QVERIFY(excluded && window("第一 红", 40, 60, 400, 300, kRed) &&
                window("odd 101x57", 460, 60, 101, 57, kYellow) &&
                window("second blue", 600, 60, 300, 300, kBlue));
        QCOMPARE(getSourceNum(cap), before + 4);
        QCOMPARE(setExcludedWindow(cap, excluded), ZUWEBRTC_OK);
        QCOMPARE(getSourceNum(cap), before + 3);
        Collector collector;
        QVERIFY(captureRound(cap, collector));
        QCOMPARE(collector.indexOf("排除 excluded"), -1);
        destroyWindow(made_.back());
        QCOMPARE(getSourceNum(cap), before + 2);
        QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
        const int ia = collector.indexOf("第一 红"), io = collector.indexOf("odd 101x57");
        const int ib = collector.indexOf("second blue");
        QVERIFY(ia >= 2 && io > ia && ib > io);
        const std::vector<Delivered> &items = collector.items;
        QCOMPARE(items[0].title, std::string("屏幕 1"));
        QCOMPARE(items[1].title, std::string("屏幕 2"));
        for (const Delivered &d : items) {
            QCOMPARE(d.thread, items[0].thread);
            QVERIFY(d.thread != std::this_thread::get_id());
            QVERIFY(d.packed);
        }
        // Monitors of 960 x 1080 each; their lower part shows the desktop's colour.
        QCOMPARE(items[0].size, QSize(240, 270));
        ZU_VERIFY_SHOWS(items[0].centre, kLeft);
        ZU_VERIFY_SHOWS(items[1].centre, kRight);
        QCOMPARE(items[ia].size, QSize(360, 270));
        ZU_VERIFY_SHOWS(items[ia].centre, kRed);
        ZU_VERIFY_SHOWS(items[ib].centre, kBlue);
        // An odd size is kept exactly, and its last column and row, chroma included, are the window's.
        QCOMPARE(items[io].size, QSize(101, 57));
        QCOMPARE(items[io].strideU, 51);
        ZU_VERIFY_SHOWS(items[io].centre, kYellow);
        ZU_VERIFY_NEAR(items[io].corner, yuvOf(kYellow), 4);
    }
    void deletedCapturerDeliversNoPendingSnapshots() {
        for (int i = 0; i < 5; ++i)
            QVERIFY(window("pending " + std::to_string(i), 40 + 50 * i, 60, 500, 400, kBlue));
        for (int attempt = 0; attempt < 3; ++attempt) {
            auto *collector = new Collector;
            const int cap = CreateScreenSourceCapturer();
            for (int i = 0; i < 4; ++i)
                QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, collector, 0), ZUWEBRTC_OK);
            if (attempt > 0)  // in the middle of a round
                QTRY_VERIFY_WITH_TIMEOUT(collector->size() >= attempt, 10000);
            QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
            // The caller may free what it gave as user data as soon as the call returns.
            goneCollector = collector;
            delete collector;
            QVERIFY(drainCaptureThread());
            goneCollector = nullptr;  // the next one may get the same address
            QCOMPARE(lateSnapshots.load(), 0);
        }
    }
    void deletingFromTheCallbackStopsTheRound() {
        Collector collector;
        collector.capturer = CreateScreenSourceCapturer();
        collector.deleteSelfAfter = 1;
        QVERIFY(getSourceNum(collector.capturer) >= 2);
        QCOMPARE(asynCaptureAllScreenOnece(collector.capturer, onSnapshot, &collector, 0), ZUWEBRTC_OK);
        QVERIFY(drainCaptureThread());
        QCOMPARE(collector.size(), 1);
        QCOMPARE(getSourceNum(collector.capturer), ZUWEBRTC_EHANDLE);
    }
    void switchingShowsTheSourceToTheReceivingPeer() {
        ZU_REQUIRE_TEST_NAMESPACE();
        // Odd sizes: pictures of an odd width once reached the encoder in the wrong I420 layout.
        QVERIFY(window("分享 红", 40, 60, 401, 301, kRed) && window("share blue", 480, 60, 400, 300, kBlue));
        const int cap = CreateScreenSourceCapturer();
        Collector collector;
        QVERIFY(captureRound(cap, collector));
        const int redIndex = collector.indexOf("分享 红"), blueIndex = collector.indexOf("share blue");
        QVERIFY(redIndex >= 2 && blueIndex >= 2);
        enginetest::EnginePair pair;
        pair.start();
        auto shows = [&pair](int quadrant, uint32_t rgb) {
            return enginetest::showsColour(pair.receiver.frame(), quadrant, rgb);
        };
        auto size = [&pair] { return QSize(pair.receiver.frame().width, pair.receiver.frame().height); };
        // Before any switch: the primary (left) monitor; its lower right quarter is plain desktop.
        QTRY_VERIFY_WITH_TIMEOUT(shows(3, kLeft), 20000);
        QCOMPARE(size(), QSize(width_ / 2, height_));
        const std::size_t sdps = pair.sender.sdpCount();
        QCOMPARE(switchDesktopSource(cap, redIndex), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(shows(0, kRed) && shows(3, kRed), 10000);
        QCOMPARE(switchDesktopSource(cap, 1), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(shows(3, kRight), 10000);
        // The shared window closes: the stream goes on with its last picture.
        QCOMPARE(switchDesktopSource(cap, blueIndex), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(shows(3, kBlue), 10000);
        destroyWindow(made_.back());
        const int framesAtClose = pair.receiver.frames.load();
        // Five seconds of stream, longer than the engine's silence limit: a live peer is kept.
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames.load() >= framesAtClose + 150, 20000);
        QVERIFY(shows(3, kBlue));
        // All of it on the one connection, at one size, without a new negotiation.
        QCOMPARE(size(), QSize(width_ / 2, height_));
        QCOMPARE(pair.receiver.closed.load(), 0);
        QCOMPARE(pair.sender.sdpCount(), sdps);
        pair.closeReceiver();
        pair.closeSender();
        QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
    }

    void streamSwitchesLiveDrawsThePointerAndKeepsAHiddenWindow() {
        QVERIFY(window("shared 窗口", 40, 60, 301, 201, kRed));
        std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
        const ScreenSource shared = *findSource(source->windows({}), "", made_.back());
        PictureRecorder recorder;
        std::unique_ptr<ScreenStream> stream = recorder.stream();
        stream->setDemand(true);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= 2, 5000);
        int keyFrames = recorder.keyFrames;
        stream->setSource(shared);
        QTRY_VERIFY_WITH_TIMEOUT(near(recorder.sample(0.5, 0.5), yuvOf(kRed)), 5000);
        QVERIFY(recorder.keyFrames > keyFrames);
        // Letterboxed: the primary monitor's size, black bands above and below the window.
        QCOMPARE(recorder.size(), QSize(width_ / 2, height_));
        ZU_VERIFY_NEAR(recorder.sample(0.5, 0.02), kBlack, 2);
        // The right monitor, with the pointer in the middle of its lower half (plain desktop colour).
        const ScreenSource right = source->monitors().at(1);
        const int px = right.width / 2, py = right.height * 3 / 4;
        warpPointer(right.x + px, right.y + py);
        keyFrames = recorder.keyFrames;
        stream->setSource(right);
        QTRY_VERIFY_WITH_TIMEOUT(near(recorder.sample(0.5, 0.9), yuvOf(kRight)), 5000);
        QVERIFY(recorder.keyFrames > keyFrames);
        const ScreenFrame frame = recorder.last();
        // Around the pointer's hot spot some pixels differ from the desktop; far from it none do.
        auto differing = [&](int cx, int cy) {
            int count = 0;
            for (int y = cy - 20; y < cy + 20; ++y) {
                for (int x = cx - 20; x < cx + 20; ++x)
                    count += std::abs(at(frame.view(), x, y).y - yuvOf(kRight).y) > 20;
            }
            return count;
        };
        QVERIFY(differing(px, py) > 5);
        QCOMPARE(differing(px, py - 200), 0);
        stream->resetSource();
        QTRY_VERIFY_WITH_TIMEOUT(near(recorder.sample(0.5, 0.9), yuvOf(kLeft)), 5000);
        // Minimised while shared: the last picture stays, never the desktop behind it.
        stream->setSource(shared);
        QTRY_VERIFY_WITH_TIMEOUT(near(recorder.sample(0.5, 0.5), yuvOf(kRed)), 5000);
        QVERIFY(minimise(shared.id));
        const int hidden = recorder.count();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= hidden + 10, 5000);
        ZU_VERIFY_SHOWS(recorder.sample(0.5, 0.5), kRed);
    }
    // Once, viewers coming back after a pause got the primary monitor instead of the chosen source.
    void streamRunsOnDemandAndKeepsItsSource() {
        PictureRecorder recorder;
        std::atomic<int> backendsOpened{0};
        ScreenStream stream([&recorder](const I420View &view) { recorder.push(view); }, [] {}, 30,
                            [&backendsOpened]() -> std::unique_ptr<ScreenSourceBackend> {
                                ++backendsOpened;
                                return X11ScreenSource::open();
                            });
        stream.setSource(X11ScreenSource::open()->monitors().at(1));
        // Nothing may happen without demand: there is no event to wait for.
        QTest::qWait(300);
        QCOMPARE(recorder.count(), 0);
        QCOMPARE(backendsOpened.load(), 0);
        for (int round = 1; round <= 2; ++round) {
            stream.setDemand(true);
            const int start = recorder.count();
            QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= start + 3, 5000);
            ZU_VERIFY_SHOWS(recorder.sample(0.5, 0.9), kRight);
            QCOMPARE(backendsOpened.load(), round);
            stream.setDemand(false);
            QTest::qWait(150);  // a picture under way may still come
            const int paused = recorder.count();
            QTest::qWait(300);
            QCOMPARE(recorder.count(), paused);
        }
    }

    void qtWindowsAreSourcesByTheirIdsAndCloseWithoutErrors() {
        auto widget = std::make_unique<QWidget>();
        widget->setWindowTitle("Qt 窗口 绿");
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(30, 200, 60));
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
        widget->setGeometry(60, 80, 320, 240);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        const uint64_t id = widget->winId();
        std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
        QTRY_VERIFY_WITH_TIMEOUT(findSource(source->windows({}), "", id), 5000);
        const ScreenSource listed = *findSource(source->windows({}), "", id);
        QCOMPARE(QString::fromStdString(listed.title), QString("Qt 窗口 绿"));
        QCOMPARE(QSize(listed.width, listed.height), QSize(320, 240));
        // Closed: the capture says so, and neither it nor Qt falls over.
        ScreenImage image;
        QVERIFY(source->grab(listed, true, image));
        widget.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!source->grab(listed, true, image), 5000);
        QVERIFY(!findSource(source->windows({}), "", id));
        QWidget after;
        after.show();
        QVERIFY(QTest::qWaitForWindowExposed(&after));
    }
    void noDisplayGivesNoSources() {
        const QByteArray saved = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        QVERIFY(!ScreenSourceBackend::create());
        const int cap = CreateScreenSourceCapturer();
        QVERIFY(cap > 0);
        QCOMPARE(getSourceNum(cap), 0);
        QCOMPARE(setExcludedWindow(cap, 42), ZUWEBRTC_OK);
        Collector collector;
        QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, &collector, 0), ZUWEBRTC_OK);
        QCOMPARE(switchDesktopSource(cap, 0), ZUWEBRTC_EARG);
        {
            PictureRecorder recorder;
            std::unique_ptr<ScreenStream> stream = recorder.stream();
            stream->setDemand(true);
            QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= 2, 5000);
            QCOMPARE(recorder.size(), QSize(ScreenStream::kNoDisplayWidth, ScreenStream::kNoDisplayHeight));
            ZU_VERIFY_NEAR(recorder.sample(0.5, 0.5), kBlack, 0);
        }
        qputenv("DISPLAY", saved);
        QVERIFY(drainCaptureThread());
        QCOMPARE(collector.size(), 0);
        QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
    }

private:
    // A managed, mapped window of that colour and title at x, y; 0 on failure.
    uint64_t window(const std::string &title, int x, int y, int w, int h, uint32_t colour,
                    const char *type = nullptr) {
        const Window window = XCreateSimpleWindow(d_, root_, x, y, w, h, 0, 0, colour);
        made_.push_back(window);
        XSizeHints hints{};
        hints.flags = USPosition | USSize | PPosition | PSize;
        XSetWMNormalHints(d_, window, &hints);
        XChangeProperty(d_, window, XInternAtom(d_, "_NET_WM_NAME", False),
                        XInternAtom(d_, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(title.data()), int(title.size()));
        XStoreName(d_, window, "legacy name");  // the UTF-8 name is the title, not this one
        if (type) {
            const Atom atom = XInternAtom(d_, type, False);
            XChangeProperty(d_, window, XInternAtom(d_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char *>(&atom), 1);
        }
        // Mapped while the window manager was still starting, it never saw the request: map it again.
        for (int attempt = 0; attempt <= 10; ++attempt) {
            XUnmapWindow(d_, window);
            XMapWindow(d_, window);
            XSync(d_, False);
            if (testsupport::waitUntil(
                    [&] {
                        return viewable(window) && (type || windowList("_NET_CLIENT_LIST").count(window));
                    },
                    1000)) {
                move(window, x, y);  // the window manager may have placed it elsewhere
                return window;
            }
        }
        return 0;
    }
    void destroyWindow(uint64_t window) {
        XDestroyWindow(d_, window);
        made_.erase(std::remove(made_.begin(), made_.end(), window), made_.end());
        XSync(d_, False);
        testsupport::waitUntil([&] { return !windowList("_NET_CLIENT_LIST").count(window); }, 2000);
    }
    bool minimise(uint64_t window) {
        XIconifyWindow(d_, window, DefaultScreen(d_));
        XSync(d_, False);
        return testsupport::waitUntil([&] { return !viewable(window); }, 4000);
    }
    void move(uint64_t window, int x, int y) {
        XMoveWindow(d_, window, x, y);
        XSync(d_, False);
        testsupport::waitUntil([&] { return position(window) == QPoint(x, y); }, 2000);
    }
    void warpPointer(int x, int y) {
        XWarpPointer(d_, 0L, root_, 0, 0, 0, 0, x, y);
        XSync(d_, False);
    }
    // Two monitors side by side, each half of the desktop painted its colour.
    bool splitIntoTwoMonitors() {
        XRRScreenResources *resources = XRRGetScreenResources(d_, root_);
        if (!resources || resources->noutput < 1)
            return false;
        const int half = width_ / 2;
        background_ = XCreatePixmap(d_, root_, width_, height_, DefaultDepth(d_, DefaultScreen(d_)));
        GC gc = XCreateGC(d_, background_, 0, nullptr);
        for (int k = 0; k < 2; ++k) {
            XRRMonitorInfo m{XInternAtom(d_, kMonitorNames[k], False),
                             k == 0,
                             False,
                             k == 0 ? 1 : 0,
                             k * half,
                             0,
                             k == 0 ? half : width_ - half,
                             height_,
                             250,
                             280,
                             resources->outputs};
            XRRSetMonitor(d_, root_, &m);
            XSetForeground(d_, gc, k == 0 ? kLeft : kRight);
            XFillRectangle(d_, background_, gc, m.x, 0, m.width, height_);
        }
        XFreeGC(d_, gc);
        XRRFreeScreenResources(resources);
        XSetWindowBackgroundPixmap(d_, root_, background_);
        XClearWindow(d_, root_);
        int count = 0;
        XRRFreeMonitors(XRRGetMonitors(d_, root_, True, &count));
        return count == 2;
    }
    void removeMonitors() {
        for (const char *name : kMonitorNames)
            XRRDeleteMonitor(d_, root_, XInternAtom(d_, name, False));
        XSync(d_, False);
    }
    std::set<unsigned long> windowList(const char *property) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char *data = nullptr;
        std::set<unsigned long> ids;
        if (XGetWindowProperty(d_, root_, XInternAtom(d_, property, False), 0, 4096, False, XA_WINDOW, &type,
                               &format, &count, &remaining, &data) == Success &&
            data) {
            ids.insert(reinterpret_cast<const unsigned long *>(data),
                       reinterpret_cast<const unsigned long *>(data) + count);
            XFree(data);
        }
        return ids;
    }
    bool viewable(unsigned long window) {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(d_, window, &attributes) && attributes.map_state == IsViewable;
    }
    // Where the window manager placed the window's frame (or the window itself, without one).
    QPoint position(unsigned long window) {
        Window parent = 0, rootOut = 0, *children = nullptr;
        unsigned int count = 0;
        while (XQueryTree(d_, window, &rootOut, &parent, &children, &count) && parent != root_) {
            XFree(children);
            window = parent;
        }
        XFree(children);
        XWindowAttributes attributes{};
        XGetWindowAttributes(d_, window, &attributes);
        return {attributes.x, attributes.y};
    }

    // The test's own connection to the display, opened before any capture connection chains to its
    // error handler.
    Display *d_ = nullptr;
    unsigned long root_ = 0, background_ = 0;
    int width_ = 0, height_ = 0;
    std::vector<uint64_t> made_;  // closed after each test function
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
