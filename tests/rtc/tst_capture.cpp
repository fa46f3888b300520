// Capture of monitors and windows on the harness's X display, through the capture classes.

#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "rtc/gst/capturerthread.h"
#include "rtc/gst/screenscaler.h"
#include "rtc/gst/screensourcebackend.h"
#include "rtc/gst/screensourcecapturer.h"
#include "rtc/gst/screenstream.h"
#include "rtc/gst/x11screensource.h"
#include "tst_capturedesktop.h"

using zuengine::I420View;
using zuengine::ScreenFrame;
using zuengine::ScreenScaler;
using zuengine::ScreenSource;
using zuengine::ScreenSourceBackend;
using zuengine::ScreenSourceCapturer;
using zuengine::ScreenStream;
using zuengine::X11ScreenSource;
using Rgb = CaptureTestDesktop::Rgb;
using Yuv = CaptureTestDesktop::Yuv;
using namespace capturecolours;

namespace {

struct Snapshot {
    std::string title;
    ScreenFrame frame;
};

// Copies of what a stream pushes, for the test thread to look at.
class PictureRecorder {
public:
    void push(const I420View &view) {
        std::lock_guard<std::mutex> lock(mutex_);
        last_.resize(view.width, view.height);
        for (int row = 0; row < view.height; ++row)
            std::memcpy(last_.y() + row * last_.strideY(), view.y + row * view.strideY, view.width);
        for (int row = 0; row < (view.height + 1) / 2; ++row) {
            std::memcpy(last_.u() + row * last_.strideUV(), view.u + row * view.strideU,
                        (view.width + 1) / 2);
            std::memcpy(last_.v() + row * last_.strideUV(), view.v + row * view.strideV,
                        (view.width + 1) / 2);
        }
        ++count_;
    }
    void keyFrame() { ++keyFrames_; }
    int count() const { return count_.load(); }
    int keyFrames() const { return keyFrames_.load(); }
    ScreenFrame last() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }
    Yuv sample(double fx, double fy) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return CaptureTestDesktop::sample(last_, int(fx * last_.width()), int(fy * last_.height()));
    }

private:
    mutable std::mutex mutex_;
    ScreenFrame last_;
    std::atomic<int> count_{0};
    std::atomic<int> keyFrames_{0};
};

std::unique_ptr<ScreenStream> makeStream(PictureRecorder &recorder) {
    return std::make_unique<ScreenStream>([&recorder](const I420View &view) { recorder.push(view); },
                                          [&recorder] { recorder.keyFrame(); });
}

const ScreenSource *findTitle(const std::vector<ScreenSource> &sources, const std::string &title) {
    for (const ScreenSource &source : sources) {
        if (source.title == title)
            return &source;
    }
    return nullptr;
}

}  // namespace

class TestCapture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void thumbnailSizesKeepAspect();
    void letterboxRectsAreEven();
    void letterboxDrawsBordersAndColour();
    void monitorsComeFirstPrimaryFirst();
    void windowsListedWithTitlesAndExclusions();
    void hiddenDockAndMinimisedWindowsAreNoSources();
    void snapshotsInOrderWithColours();
    void oddSizedWindowGivesExactI420();
    void coveredAndOffScreenWindowsShowOwnContent();
    void vanishedSourceIsLeftOutAndIndexesFollow();
    void cancelledCapturerDeliversNothingMore();
    void streamSendsPrimaryMonitorAtFixedSize();
    void streamSwitchesLiveWithKeyFrame();
    void streamKeepsLastPictureWhenWindowGoes();
    void streamDrawsPointer();
    void streamCapturesNothingWithoutDemand();
    void streamKeepsChosenSourceAcrossPauses();
    void noDisplayGivesNoSources();

private:
    std::unique_ptr<CaptureTestDesktop> desktop_;
};

void TestCapture::initTestCase() {
    // The desktop's connection sets its error handler before any capture connection chains to it.
    ZU_OPEN_TWO_MONITORS(desktop_);
}

void TestCapture::cleanupTestCase() {
    desktop_.reset();
}

void TestCapture::init() {
    if (desktop_ && desktop_->isOpen())
        desktop_->warpPointer(desktop_->width() - 3, 3);
}

void TestCapture::cleanup() {}

void TestCapture::thumbnailSizesKeepAspect() {
    const struct {
        int width, height, wantWidth, wantHeight;
    } cases[] = {{1920, 1080, 480, 270},
                 {101, 57, 101, 57},
                 {3840, 1000, 480, 125},
                 {960, 1080, 240, 270},
                 {5000, 1, 480, 1}};
    for (const auto &c : cases) {
        int w = 0;
        int h = 0;
        ScreenScaler::thumbnailSize(c.width, c.height, 480, 270, w, h);
        QCOMPARE(w, c.wantWidth);
        QCOMPARE(h, c.wantHeight);
    }
}

void TestCapture::letterboxRectsAreEven() {
    const struct {
        int w, h, cw, ch;
        ScreenScaler::Rect expected;
    } cases[] = {
        {1920, 1080, 1920, 1080, {0, 0, 1920, 1080}},
        {1921, 1081, 1920, 1080, {0, 0, 1920, 1080}},  // one odd pixel is cropped, not scaled
        {960, 1080, 1920, 1080, {480, 0, 960, 1080}},
        {3840, 2160, 1920, 1080, {0, 0, 1920, 1080}},
        {301, 201, 960, 1080, {0, 220, 960, 640}},
        {101, 57, 960, 1080, {0, 268, 960, 542}},
    };
    for (const auto &c : cases) {
        const ScreenScaler::Rect r = ScreenScaler::fitRect(c.w, c.h, c.cw, c.ch);
        QVERIFY2(r == c.expected, qPrintable(QString("%1x%2 in %3x%4 gave %5,%6 %7x%8")
                                                 .arg(c.w)
                                                 .arg(c.h)
                                                 .arg(c.cw)
                                                 .arg(c.ch)
                                                 .arg(r.x)
                                                 .arg(r.y)
                                                 .arg(r.width)
                                                 .arg(r.height)));
        QCOMPARE(r.x % 2, 0);
        QCOMPARE(r.y % 2, 0);
        QCOMPARE(r.width % 2, 0);
        QCOMPARE(r.height % 2, 0);
    }
}

void TestCapture::letterboxDrawsBordersAndColour() {
    // A 3 x 3 picture of odd size must neither be read past nor leave garbage.
    std::vector<uint8_t> pixels(3 * 3 * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = uint8_t(kYellow.b);
        pixels[i + 1] = uint8_t(kYellow.g);
        pixels[i + 2] = uint8_t(kYellow.r);
        pixels[i + 3] = 255;
    }
    zuengine::ScreenImage image{pixels.data(), 3, 3, 12};
    ScreenFrame canvas(64, 32);
    std::memset(canvas.y(), 0, canvas.byteSize());
    ScreenScaler scaler;
    scaler.letterbox(image, canvas);
    const Yuv yellow = CaptureTestDesktop::toYuv(kYellow);
    const Yuv black{16, 128, 128};
    QVERIFY(CaptureTestDesktop::near(CaptureTestDesktop::sample(canvas, 32, 16), yellow));
    QVERIFY(CaptureTestDesktop::near(CaptureTestDesktop::sample(canvas, 2, 16), black, 1));
    QVERIFY(CaptureTestDesktop::near(CaptureTestDesktop::sample(canvas, 61, 16), black, 1));
}

void TestCapture::monitorsComeFirstPrimaryFirst() {
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    QVERIFY(source);
    const std::vector<ScreenSource> monitors = source->monitors();
    QCOMPARE(int(monitors.size()), 2);
    QVERIFY(monitors[0].primary);
    QCOMPARE(monitors[0].x, 0);
    QCOMPARE(monitors[0].width, desktop_->width() / 2);
    QCOMPARE(monitors[1].x, desktop_->width() / 2);
    QCOMPARE(monitors[0].title, std::string("屏幕 1"));
    QCOMPARE(monitors[1].title, std::string("屏幕 2"));
    QVERIFY(!monitors[0].isWindow());
}

void TestCapture::windowsListedWithTitlesAndExclusions() {
    const uint64_t a = desktop_->createWindow("甲 窗口 A", 40, 60, 320, 200, kRed);
    const uint64_t b = desktop_->createWindow("Window B", 400, 60, 200, 160, kBlue);
    QVERIFY(a && b);
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    std::vector<ScreenSource> windows = source->windows({});
    const ScreenSource *wa = findTitle(windows, "甲 窗口 A");
    const ScreenSource *wb = findTitle(windows, "Window B");
    QVERIFY(wa && wb);
    QCOMPARE(wa->id, a);
    QCOMPARE(wa->width, 320);
    QCOMPARE(wa->height, 200);
    QVERIFY(wa < wb);  // the window manager's order: oldest first
    const std::size_t before = windows.size();

    windows = source->windows({a});
    QCOMPARE(windows.size(), before - 1);
    QVERIFY(!findTitle(windows, "甲 窗口 A"));
    QVERIFY(findTitle(windows, "Window B"));

    // Through the capturer: the count is monitors plus windows, minus the excluded.
    ScreenSourceCapturer capturer(X11ScreenSource::open());
    QCOMPARE(capturer.sourceCount(), int(2 + before));
    capturer.exclude(b);
    QCOMPARE(capturer.sourceCount(), int(2 + before - 1));
    desktop_->destroyWindow(a);
    desktop_->destroyWindow(b);
    QCOMPARE(capturer.sourceCount(), int(2 + before - 2));
}

void TestCapture::hiddenDockAndMinimisedWindowsAreNoSources() {
    const uint64_t normal = desktop_->createWindow("normal", 40, 60, 120, 100, kRed);
    const uint64_t dock =
        desktop_->createWindow("a dock", 200, 60, 120, 30, kBlue, "_NET_WM_WINDOW_TYPE_DOCK");
    const uint64_t untitled = desktop_->createWindow("", 300, 60, 120, 100, kBlue);
    const uint64_t hidden = desktop_->createWindow("minimised", 400, 60, 120, 100, kCyan);
    QVERIFY(normal && dock && untitled && hidden);
    QVERIFY(desktop_->minimiseWindow(hidden));
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    const std::vector<ScreenSource> windows = source->windows({});
    QVERIFY(findTitle(windows, "normal"));
    QVERIFY(!findTitle(windows, "a dock"));
    QVERIFY(!findTitle(windows, "minimised"));
    for (const ScreenSource &w : windows)
        QVERIFY(!w.title.empty());
    for (uint64_t w : {normal, dock, untitled, hidden})
        desktop_->destroyWindow(w);
}

void TestCapture::snapshotsInOrderWithColours() {
    const uint64_t a = desktop_->createWindow("红色 窗口", 40, 60, 400, 300, kRed);
    const uint64_t b = desktop_->createWindow("Blue one", 480, 60, 300, 300, kBlue);
    QVERIFY(a && b);
    ScreenSourceCapturer capturer(X11ScreenSource::open());
    const int count = capturer.sourceCount();
    std::vector<Snapshot> snapshots;
    capturer.snapshotRound([&](const ScreenFrame &frame, const std::string &title) {
        snapshots.push_back({title, frame});
    });
    QCOMPARE(int(snapshots.size()), count);
    QCOMPARE(snapshots[0].title, std::string("屏幕 1"));
    QCOMPARE(snapshots[1].title, std::string("屏幕 2"));
    // Monitors: 960 x 1080 each, so 240 x 270 thumbnails; the lower part shows the desktop colour.
    QCOMPARE(snapshots[0].frame.width(), 240);
    QCOMPARE(snapshots[0].frame.height(), 270);
    const Yuv left = CaptureTestDesktop::sample(snapshots[0].frame, 120, 250);
    const Yuv right = CaptureTestDesktop::sample(snapshots[1].frame, 120, 250);
    QVERIFY2(CaptureTestDesktop::near(left, CaptureTestDesktop::toYuv(CaptureTestDesktop::kLeftColour)),
             CaptureTestDesktop::describe(left).c_str());
    QVERIFY2(CaptureTestDesktop::near(right, CaptureTestDesktop::toYuv(CaptureTestDesktop::kRightColour)),
             CaptureTestDesktop::describe(right).c_str());

    int indexA = -1;
    int indexB = -1;
    for (int i = 0; i < int(snapshots.size()); ++i) {
        if (snapshots[i].title == "红色 窗口")
            indexA = i;
        if (snapshots[i].title == "Blue one")
            indexB = i;
    }
    QVERIFY(indexA >= 2 && indexB > indexA);
    QCOMPARE(snapshots[indexA].frame.width(), 360);
    QCOMPARE(snapshots[indexA].frame.height(), 270);
    const Yuv red = CaptureTestDesktop::sample(snapshots[indexA].frame, 180, 135);
    const Yuv blue = CaptureTestDesktop::sample(snapshots[indexB].frame, 135, 135);
    QVERIFY2(CaptureTestDesktop::near(red, CaptureTestDesktop::toYuv(kRed)),
             CaptureTestDesktop::describe(red).c_str());
    QVERIFY2(CaptureTestDesktop::near(blue, CaptureTestDesktop::toYuv(kBlue)),
             CaptureTestDesktop::describe(blue).c_str());
    // Index n of the thumbnails is source n.
    QCOMPARE(capturer.sourceAt(indexA)->id, a);
    QCOMPARE(capturer.sourceAt(indexB)->id, b);
    QVERIFY(!capturer.sourceAt(count));
    desktop_->destroyWindow(a);
    desktop_->destroyWindow(b);
}

void TestCapture::oddSizedWindowGivesExactI420() {
    const uint64_t odd = desktop_->createWindow("odd 101x57", 40, 60, 101, 57, kYellow);
    QVERIFY(odd);
    ScreenSourceCapturer capturer(X11ScreenSource::open());
    capturer.sourceCount();
    bool seen = false;
    capturer.snapshotRound([&](const ScreenFrame &frame, const std::string &title) {
        if (title != "odd 101x57")
            return;
        seen = true;
        QCOMPARE(frame.width(), 101);
        QCOMPARE(frame.height(), 57);
        QCOMPARE(frame.strideY(), 101);
        QCOMPARE(frame.strideUV(), 51);
        QCOMPARE(frame.chromaRows(), 29);
        QCOMPARE(frame.byteSize(), std::size_t(101 * 57 + 2 * 51 * 29));
        QCOMPARE(frame.u(), frame.y() + 101 * 57);
        // The last column and row, chroma included, carry the window's colour.
        const Yuv corner = CaptureTestDesktop::toYuv(kYellow);
        QVERIFY(std::abs(frame.y()[56 * 101 + 100] - corner.y) <= 4);
        QVERIFY(std::abs(frame.u()[28 * 51 + 50] - corner.u) <= 4);
        QVERIFY(std::abs(frame.v()[28 * 51 + 50] - corner.v) <= 4);
    });
    QVERIFY(seen);
    desktop_->destroyWindow(odd);
}

void TestCapture::coveredAndOffScreenWindowsShowOwnContent() {
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    if (!source->hasComposite())
        QSKIP("the X server has no Composite extension");
    const uint64_t under = desktop_->createWindow("under", 100, 100, 300, 200, kCyan);
    const uint64_t over = desktop_->createWindow("over", 100, 100, 300, 200, kRed);
    QVERIFY(under && over);
    desktop_->raiseWindow(over);
    std::vector<ScreenSource> windows = source->windows({});
    const ScreenSource *covered = findTitle(windows, "under");
    QVERIFY(covered);
    zuengine::ScreenImage image;
    QVERIFY(source->grab(*covered, false, image));
    QCOMPARE(image.width, 300);
    QCOMPARE(image.height, 200);
    ScreenFrame frame;
    ScreenScaler scaler;
    scaler.toThumbnail(image, frame);
    Yuv seen = CaptureTestDesktop::sample(frame, 150, 100);
    QVERIFY2(CaptureTestDesktop::near(seen, CaptureTestDesktop::toYuv(kCyan)),
             CaptureTestDesktop::describe(seen).c_str());

    // Partly off the screen: still the whole window.
    desktop_->moveWindow(under, desktop_->width() - 100, desktop_->height() - 50);
    QVERIFY(source->grab(*covered, false, image));
    QCOMPARE(image.width, 300);
    QCOMPARE(image.height, 200);
    scaler.toThumbnail(image, frame);
    seen = CaptureTestDesktop::sample(frame, 250, 180);
    QVERIFY2(CaptureTestDesktop::near(seen, CaptureTestDesktop::toYuv(kCyan)),
             CaptureTestDesktop::describe(seen).c_str());
    desktop_->destroyWindow(under);
    desktop_->destroyWindow(over);
}

void TestCapture::vanishedSourceIsLeftOutAndIndexesFollow() {
    const uint64_t first = desktop_->createWindow("first", 40, 60, 200, 150, kRed);
    const uint64_t doomed = desktop_->createWindow("doomed", 300, 60, 200, 150, kBlue);
    const uint64_t last = desktop_->createWindow("last", 560, 60, 200, 150, kYellow);
    QVERIFY(first && doomed && last);
    ScreenSourceCapturer capturer(X11ScreenSource::open());
    const int listed = capturer.sourceCount();
    std::vector<Snapshot> snapshots;
    capturer.snapshotRound([&](const ScreenFrame &frame, const std::string &title) {
        // Between the round's listing and the capture of "doomed".
        if (title == "first")
            desktop_->destroyWindow(doomed);
        snapshots.push_back({title, frame});
    });
    for (const Snapshot &s : snapshots)
        qDebug() << QString::fromStdString(s.title);
    QCOMPARE(int(snapshots.size()), listed - 1);
    int lastIndex = -1;
    for (int i = 0; i < int(snapshots.size()); ++i) {
        QVERIFY(snapshots[i].title != "doomed");
        QCOMPARE(capturer.sourceAt(i)->title, snapshots[i].title);
        if (snapshots[i].title == "last")
            lastIndex = i;
    }
    QVERIFY(lastIndex > 0);
    QCOMPARE(capturer.sourceAt(lastIndex)->id, last);
    QVERIFY(!capturer.sourceAt(int(snapshots.size())));
    desktop_->destroyWindow(first);
    desktop_->destroyWindow(last);
}

void TestCapture::cancelledCapturerDeliversNothingMore() {
    std::vector<uint64_t> windows;
    for (int i = 0; i < 6; ++i)
        windows.push_back(desktop_->createWindow("w" + std::to_string(i), 20 + 60 * i, 60, 400, 300, kBlue));
    auto capturer = std::make_shared<ScreenSourceCapturer>(X11ScreenSource::open());
    std::atomic<bool> cancelReturned{false};
    std::atomic<int> late{0};
    std::atomic<int> delivered{0};
    QSemaphore firstDelivered;
    {
        zuengine::CapturerThread thread;
        thread.post([capturer, &cancelReturned, &late, &delivered, &firstDelivered] {
            capturer->snapshotRound([&](const ScreenFrame &, const std::string &) {
                if (cancelReturned)
                    ++late;
                if (++delivered == 1)
                    firstDelivered.release();
                QThread::msleep(30);
            });
        });
        // A second round queued behind the first never starts.
        thread.post([capturer, &late] {
            capturer->snapshotRound([&](const ScreenFrame &, const std::string &) { ++late; });
        });
        QVERIFY(firstDelivered.tryAcquire(1, 10000));
        capturer->cancel();
        cancelReturned = true;
    }
    QCOMPARE(late.load(), 0);
    QVERIFY(delivered.load() < 8);
    for (uint64_t w : windows)
        desktop_->destroyWindow(w);
}

void TestCapture::streamSendsPrimaryMonitorAtFixedSize() {
    PictureRecorder recorder;
    std::unique_ptr<ScreenStream> stream = makeStream(recorder);
    stream->setDemand(true);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= 3, 5000);
    int w = 0;
    int h = 0;
    stream->size(w, h);
    QCOMPARE(w, desktop_->width() / 2);
    QCOMPARE(h, desktop_->height());
    const ScreenFrame last = recorder.last();
    QCOMPARE(last.width(), w);
    QCOMPARE(last.height(), h);
    const Yuv seen = recorder.sample(0.5, 0.9);
    QVERIFY2(CaptureTestDesktop::near(seen, CaptureTestDesktop::toYuv(CaptureTestDesktop::kLeftColour)),
             CaptureTestDesktop::describe(seen).c_str());
}

void TestCapture::streamSwitchesLiveWithKeyFrame() {
    const uint64_t window = desktop_->createWindow("shared 窗口", 40, 60, 301, 201, kRed);
    QVERIFY(window);
    ScreenSourceCapturer capturer(X11ScreenSource::open());
    capturer.sourceCount();
    int windowIndex = -1;
    for (int i = 0; capturer.sourceAt(i); ++i) {
        if (capturer.sourceAt(i)->id == window)
            windowIndex = i;
    }
    QVERIFY(windowIndex >= 2);

    PictureRecorder recorder;
    std::unique_ptr<ScreenStream> stream = makeStream(recorder);
    stream->setDemand(true);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= 2, 5000);
    const int keyFramesBefore = recorder.keyFrames();

    stream->setSource(*capturer.sourceAt(windowIndex));
    const Yuv red = CaptureTestDesktop::toYuv(kRed);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(recorder.sample(0.5, 0.5), red), 5000);
    QVERIFY(recorder.keyFrames() > keyFramesBefore);
    // Letterboxed: same size as before, black bands above and below the window.
    QCOMPARE(recorder.last().width(), desktop_->width() / 2);
    QCOMPARE(recorder.last().height(), desktop_->height());
    QVERIFY(CaptureTestDesktop::near(recorder.sample(0.5, 0.02), Yuv{16, 128, 128}, 2));

    const int keyFramesAtWindow = recorder.keyFrames();
    stream->setSource(*capturer.sourceAt(1));
    const Yuv right = CaptureTestDesktop::toYuv(CaptureTestDesktop::kRightColour);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(recorder.sample(0.5, 0.9), right), 5000);
    QVERIFY(recorder.keyFrames() > keyFramesAtWindow);
    stream->resetSource();
    const Yuv left = CaptureTestDesktop::toYuv(CaptureTestDesktop::kLeftColour);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(recorder.sample(0.5, 0.9), left), 5000);
    stream.reset();
    desktop_->destroyWindow(window);
}

void TestCapture::streamKeepsLastPictureWhenWindowGoes() {
    const uint64_t window = desktop_->createWindow("closing", 40, 60, 320, 240, kCyan);
    const uint64_t hiding = desktop_->createWindow("hiding", 400, 60, 320, 240, kYellow);
    QVERIFY(window && hiding);
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    const std::vector<ScreenSource> windows = source->windows({});
    PictureRecorder recorder;
    std::unique_ptr<ScreenStream> stream = makeStream(recorder);
    stream->setSource(*findTitle(windows, "closing"));
    stream->setDemand(true);
    const Yuv cyan = CaptureTestDesktop::toYuv(kCyan);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(recorder.sample(0.5, 0.5), cyan), 5000);

    desktop_->destroyWindow(window);
    const int after = recorder.count();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= after + 10, 5000);
    QVERIFY(CaptureTestDesktop::near(recorder.sample(0.5, 0.5), cyan));
    QCOMPARE(recorder.last().width(), desktop_->width() / 2);

    // Minimised while shared: the last picture stays too, never the desktop behind it.
    stream->setSource(*findTitle(windows, "hiding"));
    const Yuv yellow = CaptureTestDesktop::toYuv(kYellow);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(recorder.sample(0.5, 0.5), yellow), 5000);
    QVERIFY(desktop_->minimiseWindow(hiding));
    const int hidden = recorder.count();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= hidden + 10, 5000);
    QVERIFY(CaptureTestDesktop::near(recorder.sample(0.5, 0.5), yellow));
    stream.reset();
    desktop_->destroyWindow(hiding);
}

void TestCapture::streamDrawsPointer() {
    // The pointer in the middle of the right monitor's lower half, which is plain desktop colour.
    const int px = desktop_->width() * 3 / 4;
    const int py = desktop_->height() * 3 / 4;
    desktop_->warpPointer(px, py);
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    const ScreenSource right = source->monitors().at(1);
    PictureRecorder recorder;
    std::unique_ptr<ScreenStream> stream = makeStream(recorder);
    stream->setSource(right);
    stream->setDemand(true);
    const Yuv background = CaptureTestDesktop::toYuv(CaptureTestDesktop::kRightColour);
    QTRY_VERIFY_WITH_TIMEOUT(CaptureTestDesktop::near(recorder.sample(0.5, 0.95), background), 5000);
    const ScreenFrame frame = recorder.last();
    // Around the pointer's hot spot some pixels differ from the desktop; far from it none do.
    auto differing = [&](int cx, int cy) {
        int count = 0;
        for (int y = cy - 20; y < cy + 20; ++y) {
            for (int x = cx - 20; x < cx + 20; ++x) {
                if (std::abs(frame.y()[y * frame.strideY() + x] - background.y) > 20)
                    ++count;
            }
        }
        return count;
    };
    const int localX = px - right.x;
    const int localY = py - right.y;
    QVERIFY(differing(localX, localY) > 5);
    QCOMPARE(differing(localX, localY - 200), 0);
}

void TestCapture::streamCapturesNothingWithoutDemand() {
    PictureRecorder recorder;
    std::atomic<int> backendsOpened{0};
    ScreenStream stream([&recorder](const I420View &view) { recorder.push(view); }, [] {}, 30,
                        [&backendsOpened]() -> std::unique_ptr<ScreenSourceBackend> {
                            ++backendsOpened;
                            return X11ScreenSource::open();
                        });
    QTest::qWait(300);
    QCOMPARE(recorder.count(), 0);
    QCOMPARE(backendsOpened.load(), 0);
    stream.setDemand(true);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count() > 0, 5000);
    stream.setDemand(false);
    QTest::qWait(150);
    const int paused = recorder.count();
    QTest::qWait(300);
    QCOMPARE(recorder.count(), paused);
    stream.setDemand(true);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count() > paused, 5000);
    QCOMPARE(backendsOpened.load(), 2);
}

void TestCapture::streamKeepsChosenSourceAcrossPauses() {
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    PictureRecorder recorder;
    std::unique_ptr<ScreenStream> stream = makeStream(recorder);
    stream->setSource(source->monitors().at(1));
    const Yuv right = CaptureTestDesktop::toYuv(CaptureTestDesktop::kRightColour);
    for (int round = 0; round < 2; ++round) {
        stream->setDemand(true);
        const int start = recorder.count();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= start + 3, 5000);
        const Yuv seen = recorder.sample(0.5, 0.9);
        QVERIFY2(CaptureTestDesktop::near(seen, right), CaptureTestDesktop::describe(seen).c_str());
        stream->setDemand(false);
        QTest::qWait(100);
    }
}

void TestCapture::noDisplayGivesNoSources() {
    const QByteArray saved = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    std::unique_ptr<ScreenSourceBackend> backend = ScreenSourceBackend::create();
    QVERIFY(!backend);
    ScreenSourceCapturer capturer(std::move(backend));
    QCOMPARE(capturer.sourceCount(), 0);
    int delivered = 0;
    capturer.snapshotRound([&](const ScreenFrame &, const std::string &) { ++delivered; });
    QCOMPARE(delivered, 0);
    QVERIFY(!capturer.sourceAt(0));
    {
        PictureRecorder recorder;
        std::unique_ptr<ScreenStream> stream = makeStream(recorder);
        stream->setDemand(true);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.count() >= 2, 5000);
        QCOMPARE(recorder.last().width(), int(ScreenStream::kNoDisplayWidth));
        QCOMPARE(recorder.last().height(), int(ScreenStream::kNoDisplayHeight));
        QVERIFY(CaptureTestDesktop::near(recorder.sample(0.5, 0.5), Yuv{16, 128, 128}, 0));
    }
    qputenv("DISPLAY", saved);
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
