// The capture functions of the engine's C contract, and a receiving engine peer that decodes what
// switching shows.

#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "enginepair.h"
#include "rtc/zuwebrtc.h"
#include "support/testsupport.h"
#include "tst_capturedesktop.h"

using Rgb = CaptureTestDesktop::Rgb;
using Yuv = CaptureTestDesktop::Yuv;
using namespace capturecolours;

namespace {

struct Delivered {
    std::string title;
    int width = 0;
    int height = 0;
    int strideY = 0;
    int strideU = 0;
    bool packed = false;
    Yuv centre{};
    std::thread::id thread;
};

struct Collector {
    std::mutex mutex;
    std::vector<Delivered> items;
    int deleteSelfAfter = 0;  // deletes its capturer from the callback after that many
    int capturer = 0;
    int size() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(items.size());
    }
};

std::atomic<int> lateSnapshots{0};
std::atomic<bool> collectorGone{false};

void onSnapshot(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int strideY, int strideU,
                int strideV, int, int width, int height, int, int, const char *title, void *user) {
    if (collectorGone)
        ++lateSnapshots;
    auto *collector = static_cast<Collector *>(user);
    Delivered d;
    d.title = title;
    d.width = width;
    d.height = height;
    d.strideY = strideY;
    d.strideU = strideU;
    d.packed = u == y + std::size_t(strideY) * height && v == u + std::size_t(strideU) * ((height + 1) / 2);
    d.centre =
        CaptureTestDesktop::sample(y, u, v, strideY, strideU, strideV, width, height, width / 2, height / 2);
    d.thread = std::this_thread::get_id();
    bool deleteNow = false;
    {
        std::lock_guard<std::mutex> lock(collector->mutex);
        collector->items.push_back(d);
        deleteNow =
            collector->deleteSelfAfter > 0 && int(collector->items.size()) == collector->deleteSelfAfter;
    }
    if (deleteNow)
        deleteScreenSourceCpaturer(collector->capturer);
}

int indexOf(const std::vector<Delivered> &items, const std::string &title) {
    for (int i = 0; i < int(items.size()); ++i) {
        if (items[i].title == title)
            return i;
    }
    return -1;
}

Yuv quadrant(const enginetest::FrameInfo &frame, int q) {
    return Yuv{frame.samples[q][0], frame.samples[q][1], frame.samples[q][2]};
}

}  // namespace

class TestCaptureApi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void unknownHandlesAreRefused();
    void countFollowsWindowsAndExclusions();
    void snapshotsArriveInOrderOnOneThread();
    void deletedCapturerDeliversNoPendingSnapshots();
    void deletingFromTheCallbackStopsTheRound();
    void switchingShowsTheSourceToTheReceivingPeer();
    void noDisplayGivesNoSources();

private:
    std::unique_ptr<CaptureTestDesktop> desktop_;  // lives as long as the test object
};

void TestCaptureApi::initTestCase() {
    ZU_OPEN_TWO_MONITORS(desktop_);
    desktop_->warpPointer(desktop_->width() - 3, 3);
}

void TestCaptureApi::unknownHandlesAreRefused() {
    QCOMPARE(getSourceNum(987654), ZUWEBRTC_EHANDLE);
    QCOMPARE(setExcludedWindow(987654, 1), ZUWEBRTC_EHANDLE);
    QCOMPARE(asynCaptureAllScreenOnece(987654, onSnapshot, nullptr, 0), ZUWEBRTC_EHANDLE);
    QCOMPARE(switchDesktopSource(987654, 0), ZUWEBRTC_EHANDLE);
    QCOMPARE(deleteScreenSourceCpaturer(987654), ZUWEBRTC_EHANDLE);
    const int cap = CreateScreenSourceCapturer();
    QVERIFY(cap > 0);
    QCOMPARE(asynCaptureAllScreenOnece(cap, nullptr, nullptr, 0), ZUWEBRTC_EARG);
    QCOMPARE(switchDesktopSource(cap, -1), ZUWEBRTC_EARG);
    QCOMPARE(switchDesktopSource(cap, 10000), ZUWEBRTC_EARG);
    QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
    QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_EHANDLE);
    QCOMPARE(getSourceNum(cap), ZUWEBRTC_EHANDLE);
}

void TestCaptureApi::countFollowsWindowsAndExclusions() {
    const int cap = CreateScreenSourceCapturer();
    const int before = getSourceNum(cap);
    QVERIFY(before >= 2);
    const uint64_t a = desktop_->createWindow("计数 A", 40, 60, 200, 150, kRed);
    const uint64_t b = desktop_->createWindow("count B", 300, 60, 200, 150, kBlue);
    QVERIFY(a && b);
    QCOMPARE(getSourceNum(cap), before + 2);
    QCOMPARE(setExcludedWindow(cap, a), ZUWEBRTC_OK);
    QCOMPARE(getSourceNum(cap), before + 1);

    Collector collector;
    QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, &collector, 0), ZUWEBRTC_OK);
    QTRY_COMPARE_WITH_TIMEOUT(collector.size(), before + 1, 10000);
    QCOMPARE(indexOf(collector.items, "计数 A"), -1);
    QVERIFY(indexOf(collector.items, "count B") >= 2);
    desktop_->destroyWindow(b);
    QCOMPARE(getSourceNum(cap), before);
    QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
    desktop_->destroyWindow(a);
}

void TestCaptureApi::snapshotsArriveInOrderOnOneThread() {
    const uint64_t a = desktop_->createWindow("第一 红", 40, 60, 320, 240, kRed);
    const uint64_t odd = desktop_->createWindow("odd", 400, 60, 77, 33, kYellow);
    const uint64_t b = desktop_->createWindow("second blue", 500, 60, 320, 240, kBlue);
    QVERIFY(a && odd && b);
    const int cap = CreateScreenSourceCapturer();
    const int count = getSourceNum(cap);
    Collector collector;
    QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, &collector, 0), ZUWEBRTC_OK);
    QTRY_COMPARE_WITH_TIMEOUT(collector.size(), count, 10000);
    std::lock_guard<std::mutex> lock(collector.mutex);
    const std::vector<Delivered> &items = collector.items;
    QCOMPARE(items[0].title, std::string("屏幕 1"));
    QCOMPARE(items[1].title, std::string("屏幕 2"));
    const int ia = indexOf(items, "第一 红");
    const int io = indexOf(items, "odd");
    const int ib = indexOf(items, "second blue");
    QVERIFY(ia >= 2 && io > ia && ib > io);
    for (const Delivered &d : items) {
        QCOMPARE(d.thread, items[0].thread);
        QVERIFY(d.packed);
        QVERIFY(d.width <= 480 && d.height <= 270);
        QVERIFY(d.thread != std::this_thread::get_id());
    }
    QVERIFY(CaptureTestDesktop::near(items[ia].centre, CaptureTestDesktop::toYuv(kRed)));
    QVERIFY(CaptureTestDesktop::near(items[ib].centre, CaptureTestDesktop::toYuv(kBlue)));
    QVERIFY(CaptureTestDesktop::near(items[io].centre, CaptureTestDesktop::toYuv(kYellow)));
    QCOMPARE(items[io].width, 77);
    QCOMPARE(items[io].height, 33);
    QCOMPARE(items[io].strideU, 39);
    QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
    for (uint64_t w : {a, odd, b})
        desktop_->destroyWindow(w);
}

void TestCaptureApi::deletedCapturerDeliversNoPendingSnapshots() {
    std::vector<uint64_t> windows;
    for (int i = 0; i < 5; ++i)
        windows.push_back(
            desktop_->createWindow("pending " + std::to_string(i), 40 + 50 * i, 60, 500, 400, kBlue));
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto *collector = new Collector;
        const int cap = CreateScreenSourceCapturer();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, collector, 0), ZUWEBRTC_OK);
        if (attempt > 0)
            QTRY_VERIFY_WITH_TIMEOUT(collector->size() >= attempt, 10000);
        QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
        // The caller may free what it gave as user data as soon as the call returns.
        collectorGone = true;
        delete collector;
        QTest::qWait(400);
        QCOMPARE(lateSnapshots.load(), 0);
        collectorGone = false;
    }
    for (uint64_t w : windows)
        desktop_->destroyWindow(w);
}

void TestCaptureApi::deletingFromTheCallbackStopsTheRound() {
    Collector collector;
    collector.capturer = CreateScreenSourceCapturer();
    collector.deleteSelfAfter = 1;
    QVERIFY(getSourceNum(collector.capturer) >= 2);
    QCOMPARE(asynCaptureAllScreenOnece(collector.capturer, onSnapshot, &collector, 0), ZUWEBRTC_OK);
    QTRY_COMPARE_WITH_TIMEOUT(collector.size(), 1, 10000);
    QTest::qWait(300);
    QCOMPARE(collector.size(), 1);
    QCOMPARE(getSourceNum(collector.capturer), ZUWEBRTC_EHANDLE);
}

void TestCaptureApi::switchingShowsTheSourceToTheReceivingPeer() {
    ZU_REQUIRE_TEST_NAMESPACE();
    const uint64_t red = desktop_->createWindow("分享 红", 40, 60, 401, 301, kRed);
    const uint64_t blue = desktop_->createWindow("share blue", 480, 60, 400, 300, kBlue);
    QVERIFY(red && blue);
    const int cap = CreateScreenSourceCapturer();
    Collector collector;
    const int count = getSourceNum(cap);
    QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, &collector, 0), ZUWEBRTC_OK);
    QTRY_COMPARE_WITH_TIMEOUT(collector.size(), count, 10000);
    const int redIndex = indexOf(collector.items, "分享 红");
    const int blueIndex = indexOf(collector.items, "share blue");
    QVERIFY(redIndex >= 2 && blueIndex >= 2);

    enginetest::EnginePair pair;
    pair.start();
    // Before any switch: the primary (left) monitor; its lower right quarter is plain desktop.
    const Yuv left = CaptureTestDesktop::toYuv(CaptureTestDesktop::kLeftColour);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(quadrant(pair.receiver.frame(), 3), left, 14), 20000);
    const int width = pair.receiver.frame().width;
    const int height = pair.receiver.frame().height;
    QCOMPARE(width, desktop_->width() / 2);
    QCOMPARE(height, desktop_->height());
    const std::size_t sdps = pair.sender.sdpCount();

    QCOMPARE(switchDesktopSource(cap, redIndex), ZUWEBRTC_OK);
    const Yuv redYuv = CaptureTestDesktop::toYuv(kRed);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(quadrant(pair.receiver.frame(), 0), redYuv, 14) &&
                                 CaptureTestDesktop::near(quadrant(pair.receiver.frame(), 3), redYuv, 14),
                             10000);

    QCOMPARE(switchDesktopSource(cap, 1), ZUWEBRTC_OK);
    const Yuv right = CaptureTestDesktop::toYuv(CaptureTestDesktop::kRightColour);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(quadrant(pair.receiver.frame(), 3), right, 14), 10000);

    // The shared window closes: the stream goes on with its last picture.
    QCOMPARE(switchDesktopSource(cap, blueIndex), ZUWEBRTC_OK);
    const Yuv blueYuv = CaptureTestDesktop::toYuv(kBlue);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(quadrant(pair.receiver.frame(), 3), blueYuv, 14),
                             10000);
    desktop_->destroyWindow(blue);
    const int framesAtClose = pair.receiver.frames.load();
    // Five seconds of stream, longer than the engine's silence limit: a live peer is kept.
    QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.frames.load() >= framesAtClose + 150, 20000);
    QVERIFY(CaptureTestDesktop::near(quadrant(pair.receiver.frame(), 3), blueYuv, 14));

    // All of it on the one connection, at one size, without a new negotiation.
    QCOMPARE(pair.receiver.frame().width, width);
    QCOMPARE(pair.receiver.frame().height, height);
    QCOMPARE(pair.receiver.closed.load(), 0);
    QCOMPARE(pair.sender.sdpCount(), sdps);
    pair.closeReceiver();
    pair.closeSender();
    QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
    desktop_->destroyWindow(red);
}

void TestCaptureApi::noDisplayGivesNoSources() {
    const QByteArray saved = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    const int cap = CreateScreenSourceCapturer();
    QVERIFY(cap > 0);
    QCOMPARE(getSourceNum(cap), 0);
    QCOMPARE(setExcludedWindow(cap, 42), ZUWEBRTC_OK);
    Collector collector;
    QCOMPARE(asynCaptureAllScreenOnece(cap, onSnapshot, &collector, 0), ZUWEBRTC_OK);
    QTest::qWait(300);
    QCOMPARE(collector.size(), 0);
    QCOMPARE(switchDesktopSource(cap, 0), ZUWEBRTC_EARG);
    QCOMPARE(deleteScreenSourceCpaturer(cap), ZUWEBRTC_OK);
    qputenv("DISPLAY", saved);
}

QTEST_GUILESS_MAIN(TestCaptureApi)
#include "tst_capture_api.moc"
