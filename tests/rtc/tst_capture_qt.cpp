// Capture beside a Qt application on the same display, as in the program: Qt's own windows are
// found, and left out, by the ids Qt gives; X errors on the capture's connection stay ours.

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "rtc/gst/screenframe.h"
#include "rtc/gst/screensourcecapturer.h"
#include "rtc/gst/x11screensource.h"
#include "tst_capturedesktop.h"

using zuengine::ScreenFrame;
using zuengine::ScreenSource;
using zuengine::ScreenSourceCapturer;
using zuengine::X11ScreenSource;

namespace {

std::unique_ptr<QWidget> colouredWindow(const QString &title, const QColor &colour, QSize size) {
    auto widget = std::make_unique<QWidget>();
    widget->setWindowTitle(title);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    widget->resize(size);
    widget->move(60, 80);
    widget->show();
    return widget;
}

const ScreenSource *findId(const std::vector<ScreenSource> &sources, uint64_t id) {
    for (const ScreenSource &source : sources) {
        if (source.id == id)
            return &source;
    }
    return nullptr;
}

}  // namespace

class TestCaptureQt : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void qtWindowsAreSourcesByTheirIds();
    void closedQtWindowIsNoErrorForQt();
};

void TestCaptureQt::initTestCase() {
    if (QGuiApplication::platformName() != "xcb")
        QSKIP("needs the X display of the test harness");
}

void TestCaptureQt::qtWindowsAreSourcesByTheirIds() {
    std::unique_ptr<QWidget> window = colouredWindow("Qt 窗口 绿", QColor(30, 200, 60), QSize(320, 240));
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const uint64_t id = window->winId();
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    QVERIFY(source);
    const ScreenSource *listed = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((listed = findId(source->windows({}), id)) != nullptr, 5000);
    const std::vector<ScreenSource> windows = source->windows({});
    listed = findId(windows, id);
    QVERIFY(listed);
    QCOMPARE(QString::fromStdString(listed->title), QString("Qt 窗口 绿"));
    QCOMPARE(listed->width, 320);
    QCOMPARE(listed->height, 240);
    QVERIFY(!findId(source->windows({id}), id));

    // Its thumbnail shows what Qt painted.
    ScreenSourceCapturer capturer(X11ScreenSource::open());
    capturer.sourceCount();
    CaptureTestDesktop::Yuv centre{-1, -1, -1};
    for (int attempt = 0;
         attempt < 20 && !CaptureTestDesktop::near(centre, CaptureTestDesktop::toYuv({30, 200, 60}));
         ++attempt) {
        capturer.snapshotRound([&](const ScreenFrame &frame, const std::string &title) {
            if (title == "Qt 窗口 绿")
                centre = CaptureTestDesktop::sample(frame, frame.width() / 2, frame.height() / 2);
        });
        QTest::qWait(50);
    }
    QVERIFY2(CaptureTestDesktop::near(centre, CaptureTestDesktop::toYuv({30, 200, 60})),
             CaptureTestDesktop::describe(centre).c_str());

    capturer.exclude(id);
    int excludedSeen = 0;
    capturer.snapshotRound([&](const ScreenFrame &, const std::string &title) {
        if (title == "Qt 窗口 绿")
            ++excludedSeen;
    });
    QCOMPARE(excludedSeen, 0);
}

void TestCaptureQt::closedQtWindowIsNoErrorForQt() {
    std::unique_ptr<QWidget> window =
        colouredWindow("closing Qt window", QColor(200, 30, 30), QSize(200, 150));
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const uint64_t id = window->winId();
    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open();
    QTRY_VERIFY_WITH_TIMEOUT(findId(source->windows({}), id) != nullptr, 5000);
    const ScreenSource shared = *findId(source->windows({}), id);
    zuengine::ScreenImage image;
    QVERIFY(source->grab(shared, true, image));
    window.reset();
    QCoreApplication::processEvents();
    QTest::qWait(100);
    // The window is gone: the capture says so, and neither it nor Qt falls over.
    QVERIFY(!source->grab(shared, true, image));
    QVERIFY(!findId(source->windows({}), id));
    std::unique_ptr<QWidget> after = colouredWindow("after", QColor(20, 20, 200), QSize(100, 100));
    QVERIFY(QTest::qWaitForWindowExposed(after.get()));
}

QTEST_MAIN(TestCaptureQt)
#include "tst_capture_qt.moc"
