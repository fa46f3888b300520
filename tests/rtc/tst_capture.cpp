// Capture on the harness's X display split into two monitors: capture classes, C contract, Qt windows.

#include <QtTest>
#include <QtWidgets>

#include <libyuv/planar_functions.h>

#include <atomic>
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
constexpr uint32_t kRed = 0xe61e1e, kBlue = 0x1e28dc, kYellow = 0xf0dc14, kCyan = 0x14d2dc, kBlack = 0;
constexpr const char *kMonitorNames[2] = {"ZU-TEST-LEFT", "ZU-TEST-RIGHT"};

struct Yuv {
    int y, u, v;
    QByteArray text() const { return QString("YUV %1 %2 %3").arg(y).arg(u).arg(v).toUtf8(); }
};

Yuv yuvOf(uint32_t rgb) {  // BT.601 limited range, as libyuv converts
    const int r = int(rgb >> 16) & 0xff, g = int(rgb >> 8) & 0xff, b = int(rgb) & 0xff;
    return {((66 * r + 129 * g + 25 * b + 128) >> 8) + 16, ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128,
            ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128};
}
Yuv at(const I420Planes &p, int x, int y) {
    return {p.y[y * p.strideY + x], p.u[y / 2 * p.strideU + x / 2], p.v[y / 2 * p.strideV + x / 2]};
}
bool near(Yuv a, uint32_t rgb, int t = 6) {
    const Yuv b = yuvOf(rgb);
    return std::abs(a.y - b.y) <= t && std::abs(a.u - b.u) <= t && std::abs(a.v - b.v) <= t;
}

#define ZU_VERIFY_SHOWS(seen, ...) QVERIFY2(near(seen, __VA_ARGS__), (seen).text().constData())

struct PictureRecorder {  // copies of what a stream pushes, for the test thread to look at
    std::mutex mutex;
    ScreenFrame frame;
    std::atomic<int> count{0}, keyFrames{0};
    void push(const I420Planes &p) {
        std::lock_guard lock(mutex);
        frame.resize(p.width, p.height);
        libyuv::I420Copy(p.y, p.strideY, p.u, p.strideU, p.v, p.strideV, frame.y(), frame.strideY(),
                         frame.u(), frame.strideUV(), frame.v(), frame.strideUV(), p.width, p.height);
        ++count;
    }
    ScreenFrame last() {
        std::lock_guard lock(mutex);
        return frame;
    }
    Yuv sample(double fx, double fy) {
        const ScreenFrame f = last();  // {-1, -1, -1}: nothing yet
        return f.width() ? at(f.view(), int(fx * f.width()), int(fy * f.height())) : Yuv{-1, -1, -1};
    }
};

struct Delivered {  // what the C contract's snapshot callback delivered
    std::string title;
    QSize size;
    bool packed;  // planes back to back, chroma rows of (width + 1) / 2 bytes
    Yuv centre, corner;
    std::thread::id thread;
};

struct Collector {
    std::mutex mutex;
    std::vector<Delivered> items;
    int deleteSelfAfter = 0, capturer = 0;  // deletes its capturer from the callback after that many
    int size() {
        std::lock_guard lock(mutex);
        return int(items.size());
    }
    int indexOf(const std::string &title) {
        std::lock_guard lock(mutex);
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
    const I420Planes p{y, u, v, strideY, strideU, strideV, w, h};
    const bool packed = strideU == (w + 1) / 2 && u == y + std::size_t(strideY) * h &&
                        v == u + std::size_t(strideU) * ((h + 1) / 2);
    std::lock_guard lock(collector->mutex);
    collector->items.push_back(
        {title, QSize(w, h), packed, at(p, w / 2, h / 2), at(p, w - 1, h - 1), std::this_thread::get_id()});
    if (collector->deleteSelfAfter == int(collector->items.size()))
        deleteScreenSourceCpaturer(collector->capturer);
}

bool captureRound(int cap, Collector &collector) {
    const int count = getSourceNum(cap);
    return asynCaptureAllScreenOnece(cap, onSnapshot, &collector, 0) == ZUWEBRTC_OK &&
           testsupport::waitUntil([&] { return collector.size() == count; }, 10000);
}

// The capture thread runs rounds in turn: once a fresh capturer's round has ended, every earlier one has.
bool drainCaptureThread() {
    Collector fence;
    const int cap = CreateScreenSourceCapturer();
    const bool done = captureRound(cap, fence);
    return deleteScreenSourceCpaturer(cap) == ZUWEBRTC_OK && done;
}

}  // namespace

class TestCapture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(QGuiApplication::platformName() == "xcb" && (d_ = XOpenDisplay(std::getenv("DISPLAY"))));
        XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });  // a window may be gone already
        root_ = DefaultRootWindow(d_);
        width_ = DisplayWidth(d_, DefaultScreen(d_));
        height_ = DisplayHeight(d_, DefaultScreen(d_));
        QVERIFY(splitIntoTwoMonitors());
    }
    void init() { warpPointer(width_ - 3, 3); }
    void cleanup() {
        while (!made_.empty())
            destroyWindow(made_.back());
    }
    void cleanupTestCase() {  // the harness's display serves the tests after this one
        if (!d_)
            return;
        for (const char *name : kMonitorNames)
            XRRDeleteMonitor(d_, root_, atom(name));
        XSetWindowBackground(d_, root_, BlackPixel(d_, DefaultScreen(d_)));
        XClearWindow(d_, root_);
        XCloseDisplay(d_);
    }

    // The stream's letterbox: centred, even, black bands; a picture one odd pixel too big is cropped.
    void letterboxIsCentredInBlack_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("tiny") << QSize(3, 3) << QSize(64, 32) << QRect(16, 0, 32, 32);
        QTest::newRow("odd crop") << QSize(1921, 1081) << QSize(1920, 1080) << QRect(0, 0, 1920, 1080);
        QTest::newRow("pillarbox") << QSize(960, 1080) << QSize(1920, 1080) << QRect(480, 0, 960, 1080);
        QTest::newRow("odd letterbox") << QSize(101, 57) << QSize(960, 1080) << QRect(0, 268, 960, 542);
    }
    void letterboxIsCentredInBlack() {
        QFETCH(QSize, picture);
        QFETCH(QSize, canvas);
        QFETCH(QRect, expected);
        const int w = picture.width(), h = picture.height();
        const auto r = ScreenScaler::fitRect(w, h, canvas.width(), canvas.height());
        QCOMPARE(QRect(r.x, r.y, r.width, r.height), expected);
        // Drawn: neither read past the picture nor leaving the canvas's garbage beside it.
        std::vector<uint32_t> pixels(w * h, 0xff000000u | kYellow);  // BGRX
        ScreenFrame frame(canvas.width(), canvas.height());
        std::memset(frame.y(), 0, frame.byteSize());
        ScreenScaler().letterbox(ScreenImage{reinterpret_cast<uint8_t *>(pixels.data()), w, h, w * 4}, frame);
        for (const QPoint &p :
             {QPoint(2, 2), expected.center(), QRect({}, canvas).bottomRight() - QPoint(2, 2)})
            ZU_VERIFY_SHOWS(at(frame.view(), p.x(), p.y()), expected.contains(p) ? kYellow : kBlack);
    }
    // A window closed between a round's listing and its capture once left the indexes shifted.
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
        for (int i = 0; i < int(titles.size()); ++i)
            QCOMPARE(capturer.sourceAt(i)->title, titles[i]);
        QCOMPARE(capturer.sourceAt(std::find(titles.begin(), titles.end(), "last") - titles.begin())->id,
                 last);
        QVERIFY(!capturer.sourceAt(int(titles.size())));
    }
    // Docks, minimised, excluded windows left out; the rest whole, in the WM's order, on one thread, packed.
    void snapshotsFollowWindowsInOrderOnOneThread() {
        const int cap = CreateScreenSourceCapturer();
        const int before = getSourceNum(cap);
        QCOMPARE(asynCaptureAllScreenOnece(cap, nullptr, nullptr, 0), ZUWEBRTC_EARG);
        QVERIFY(switchDesktopSource(cap, -1) == ZUWEBRTC_EARG &&
                switchDesktopSource(cap, before) == ZUWEBRTC_EARG);
        QVERIFY(window("a dock", 200, 600, 120, 30, kBlue, "_NET_WM_WINDOW_TYPE_DOCK") &&
                minimise(window("minimised", 480, 600, 120, 100, kCyan)));
        const uint64_t excluded = window("排除 excluded", 40, 400, 200, 150, kCyan);
        QVERIFY(excluded && window("第一 红", 40, 60, 400, 300, kRed) &&
                window("odd 101x57", 460, 60, 101, 57, kYellow) &&
                window("off-screen blue", width_ - 100, height_ - 50, 300, 200, kBlue) &&
                window("covering", 40, 60, 400, 300, kCyan));
        auto qt = std::make_unique<QWidget>();
        qt->setWindowTitle("Qt 窗口");
        qt->setGeometry(600, 80, 320, 240);
        qt->show();
        QVERIFY(QTest::qWaitForWindowExposed(qt.get()));
        QTRY_COMPARE(getSourceNum(cap), before + 6);
        QCOMPARE(setExcludedWindow(cap, excluded), ZUWEBRTC_OK);
        Collector collector;
        QVERIFY(captureRound(cap, collector));
        // A closed Qt window: the capture leaves it out, and neither it nor Qt falls over.
        qt.reset();
        QTRY_COMPARE(getSourceNum(cap), before + 4);
        QWidget after;
        after.show();
        QVERIFY(QTest::qWaitForWindowExposed(&after));
        QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
        const int ia = collector.indexOf("第一 红"), io = collector.indexOf("odd 101x57");
        const int ib = collector.indexOf("off-screen blue");
        QVERIFY(collector.indexOf("排除 excluded") == -1 && ia >= 2 && io > ia && ib > io &&
                collector.indexOf("Qt 窗口") > ib);
        const std::vector<Delivered> &items = collector.items;
        QCOMPARE(items[0].title + items[1].title, std::string("屏幕 1屏幕 2"));
        for (const Delivered &d : items)
            QVERIFY(d.thread == items[0].thread && d.thread != std::this_thread::get_id() && d.packed);
        // Monitors of 960 x 1080 each; their lower part shows the desktop's colour.
        QCOMPARE(items[0].size, QSize(240, 270));
        ZU_VERIFY_SHOWS(items[0].centre, kLeft);
        ZU_VERIFY_SHOWS(items[1].centre, kRight);
        QCOMPARE(items[ia].size, QSize(360, 270));
        ZU_VERIFY_SHOWS(items[ia].centre, kRed);
        QCOMPARE(items[ib].size, QSize(300, 200));
        ZU_VERIFY_SHOWS(items[ib].corner, kBlue);
        // An odd size is kept exactly, and its last column and row, chroma included, are the window's.
        QCOMPARE(items[io].size, QSize(101, 57));
        ZU_VERIFY_SHOWS(items[io].centre, kYellow);
        ZU_VERIFY_SHOWS(items[io].corner, kYellow, 4);
    }
    // Use-after-free: the caller may free its user data once the delete returns, even from its callback.
    void deletedCapturerDeliversNoPendingSnapshots() {
        for (int i = 0; i < 5; ++i)
            QVERIFY(window("pending " + std::to_string(i), 40 + 50 * i, 60, 500, 400, kBlue));
        for (int attempt = 0; attempt < 3; ++attempt) {
            auto *collector = new Collector;
            const int cap = CreateScreenSourceCapturer();
            for (int i = 0; i < 4; ++i)
                QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, collector, 0), ZUWEBRTC_OK);
            if (attempt > 0)
                QTRY_VERIFY_WITH_TIMEOUT(collector->size() >= attempt, 10000);
            QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
            goneCollector = collector;
            delete collector;
            QVERIFY(drainCaptureThread());
            goneCollector = nullptr;  // the next one may get the same address
            QCOMPARE(lateSnapshots.load(), 0);
        }
        // Deleted from its own callback, a capturer ends its round there; its handle is refused after.
        Collector collector;
        const int cap = collector.capturer = CreateScreenSourceCapturer();
        collector.deleteSelfAfter = 1;
        QVERIFY(getSourceNum(cap) >= 2);
        QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, &collector, 0), ZUWEBRTC_OK);
        QVERIFY(drainCaptureThread());
        QCOMPARE(collector.size(), 1);
        for (int rc :
             {getSourceNum(cap), setExcludedWindow(cap, 1), switchDesktopSource(cap, 0),
              asynCaptureAllScreenOnece(cap, onSnapshot, nullptr, 0), deleteScreenSourceCpaturer(cap)})
            QCOMPARE(rc, ZUWEBRTC_EHANDLE);
    }
    // Odd widths once reached the encoder in the wrong I420 layout: C contract to a peer, then a stream.
    void switchingShowsTheSourceLiveWithThePointer() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY(window("分享 红", 40, 60, 401, 301, kRed) && window("share blue", 480, 60, 400, 300, kBlue));
        const int cap = CreateScreenSourceCapturer();
        Collector collector;
        QVERIFY(captureRound(cap, collector));
        const int redIndex = collector.indexOf("分享 红"), blueIndex = collector.indexOf("share blue");
        auto pair = std::make_unique<enginetest::EnginePair>();
        pair->start();
        auto shows = [&pair](int quadrant, uint32_t rgb) {
            return enginetest::showsColour(pair->receiver.frame(), quadrant, rgb);
        };
        // Before any switch: the primary (left) monitor; its lower right quarter is plain desktop.
        QTRY_VERIFY_WITH_TIMEOUT(shows(3, kLeft), 20000);
        const std::size_t sdps = pair->sender.sdpCount();
        QCOMPARE(switchDesktopSource(cap, redIndex), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(shows(0, kRed) && shows(3, kRed), 10000);
        // The shared window closes: the stream goes on with its last picture.
        QCOMPARE(switchDesktopSource(cap, blueIndex), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(shows(3, kBlue), 10000);
        destroyWindow(made_.back());
        const int framesAtClose = pair->receiver.frames.load();
        // Five seconds of stream, longer than the engine's silence limit: a live peer is kept.
        QTRY_VERIFY_WITH_TIMEOUT(pair->receiver.frames.load() >= framesAtClose + 150, 20000);
        QVERIFY(shows(3, kBlue));
        // All of it on the one connection, at one size, without a new negotiation.
        QCOMPARE(QSize(pair->receiver.frame().width, pair->receiver.frame().height),
                 QSize(width_ / 2, height_));
        QCOMPARE(pair->receiver.closed.load(), 0);
        QCOMPARE(pair->sender.sdpCount(), sdps);
        QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
        pair.reset();

        // A stream of the capture classes: nothing without demand, then the window letterboxed in black.
        std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
        const std::vector<ScreenSource> all = source->windows({});
        const ScreenSource shared =
            *std::find_if(all.begin(), all.end(), [](auto &s) { return s.title == "分享 红"; });
        PictureRecorder recorder;
        std::atomic<int> opened{0};
        ScreenStream stream([&recorder](const I420Planes &p) { recorder.push(p); },
                            [&recorder] { ++recorder.keyFrames; }, 30,
                            [&opened]() -> std::unique_ptr<ScreenSourceBackend> {
                                ++opened;
                                return X11ScreenSource::open();
                            });
        stream.setSource(shared);
        QTest::qWait(300);  // nothing may happen without demand: there is no event to wait for
        QCOMPARE(recorder.count + opened, 0);
        stream.setDemand(true);
        QTRY_VERIFY_WITH_TIMEOUT(near(recorder.sample(0.5, 0.5), kRed), 5000);
        ZU_VERIFY_SHOWS(recorder.sample(0.5, 0.02), kBlack, 2);
        // Minimised while shared: the last picture stays, never the desktop behind it.
        QVERIFY(minimise(shared.id));
        const int hidden = recorder.count;
        QTRY_VERIFY_WITH_TIMEOUT(recorder.count >= hidden + 10, 5000);
        ZU_VERIFY_SHOWS(recorder.sample(0.5, 0.5), kRed);
        // A switch brings a key frame: the right monitor, the pointer in the middle of its lower half.
        const ScreenSource right = source->monitors().at(1);
        const int px = right.width / 2, py = right.height * 3 / 4;
        warpPointer(right.x + px, right.y + py);
        const int keyFrames = recorder.keyFrames;
        stream.setSource(right);
        QTRY_VERIFY_WITH_TIMEOUT(near(recorder.sample(0.5, 0.9), kRight), 5000);
        QVERIFY(recorder.keyFrames > keyFrames);
        // Around the pointer's hot spot some pixels differ from the desktop; far from it none do.
        const ScreenFrame frame = recorder.last();
        auto differing = [&](int cx, int cy) {  // in a 40 x 40 square
            int count = 0;
            for (int i = 0; i < 1600; ++i)
                count +=
                    std::abs(at(frame.view(), cx - 20 + i % 40, cy - 20 + i / 40).y - yuvOf(kRight).y) > 20;
            return count;
        };
        QVERIFY(differing(px, py) > 5 && differing(px, py - 200) == 0);
        // Once, viewers coming back after a pause got the primary monitor instead of the chosen source.
        stream.setDemand(false);
        QTest::qWait(150);  // a picture under way may still come
        const int paused = recorder.count;
        QTest::qWait(300);
        QCOMPARE(recorder.count, paused);
        stream.setDemand(true);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.count >= paused + 3, 5000);
        ZU_VERIFY_SHOWS(recorder.sample(0.5, 0.9), kRight);
        QCOMPARE(opened.load(), 2);
        stream.resetSource();
        QTRY_VERIFY_WITH_TIMEOUT(near(recorder.sample(0.5, 0.9), kLeft), 5000);
    }

private:
    // A managed, mapped window of that colour and title at x, y; 0 on failure.
    uint64_t window(const std::string &title, int x, int y, int w, int h, uint32_t colour,
                    const char *type = nullptr) {
        const Window window = XCreateSimpleWindow(d_, root_, x, y, w, h, 0, 0, colour);
        made_.push_back(window);
        XChangeProperty(d_, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(title.data()), int(title.size()));
        XStoreName(d_, window, "legacy name");  // the UTF-8 name is the title, not this one
        const Atom typeAtom = type ? atom(type) : 0;
        if (type)
            XChangeProperty(d_, window, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(&typeAtom), 1);
        // Mapped while the window manager was still starting, it never saw the request: map it again.
        auto managed = [&] { return viewable(window) && (type || windowList().count(window)); };
        for (int attempt = 0; attempt <= 10; ++attempt) {
            XUnmapWindow(d_, window);
            XMapWindow(d_, window);
            if (waitFor(managed, 1000)) {
                XMoveWindow(d_, window, x, y);  // the window manager may have placed it elsewhere
                waitFor([&] { return position(window) == QPoint(x, y); }, 2000);
                return window;
            }
        }
        return 0;
    }
    void destroyWindow(uint64_t window) {
        XDestroyWindow(d_, window);
        made_.erase(std::remove(made_.begin(), made_.end(), window), made_.end());
        waitFor([&] { return !windowList().count(window); }, 2000);
    }
    bool minimise(uint64_t window) {
        XIconifyWindow(d_, window, DefaultScreen(d_));
        return waitFor([&] { return !viewable(window); }, 4000);
    }
    void warpPointer(int x, int y) {
        XWarpPointer(d_, 0L, root_, 0, 0, 0, 0, x, y);
        XSync(d_, False);
    }
    bool waitFor(const std::function<bool()> &ready, int ms) {
        XSync(d_, False);
        return testsupport::waitUntil(ready, ms);
    }
    Atom atom(const char *name) { return XInternAtom(d_, name, False); }
    // Two monitors side by side, each half of the desktop painted its colour.
    bool splitIntoTwoMonitors() {
        XRRScreenResources *resources = XRRGetScreenResources(d_, root_);
        if (!resources || resources->noutput < 1)
            return false;
        const Pixmap background =
            XCreatePixmap(d_, root_, width_, height_, DefaultDepth(d_, DefaultScreen(d_)));
        GC gc = XCreateGC(d_, background, 0, nullptr);
        for (int k = 0; k < 2; ++k) {
            const int x = k * (width_ / 2), w = k ? width_ - x : width_ / 2;
            XRRMonitorInfo m{atom(kMonitorNames[k]), k == 0, False, 1 - k, x, 0, w, height_, 250, 280,
                             resources->outputs};
            XRRSetMonitor(d_, root_, &m);
            XSetForeground(d_, gc, k ? kRight : kLeft);
            XFillRectangle(d_, background, gc, x, 0, w, height_);
        }
        XFreeGC(d_, gc);
        XRRFreeScreenResources(resources);
        XSetWindowBackgroundPixmap(d_, root_, background);
        XClearWindow(d_, root_);
        int count = 0;
        XRRFreeMonitors(XRRGetMonitors(d_, root_, True, &count));
        return count == 2;
    }
    std::set<unsigned long> windowList() {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char *data = nullptr;
        XGetWindowProperty(d_, root_, atom("_NET_CLIENT_LIST"), 0, 4096, False, XA_WINDOW, &type, &format,
                           &count, &remaining, &data);
        const auto *ids = reinterpret_cast<const unsigned long *>(data);
        const std::set<unsigned long> list(ids, ids + count);
        XFree(data);
        return list;
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

    // The test's own connection, opened before any capture connection chains to its error handler.
    Display *d_ = nullptr;
    unsigned long root_ = 0;
    int width_ = 0, height_ = 0;
    std::vector<uint64_t> made_;  // closed after each test function
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
