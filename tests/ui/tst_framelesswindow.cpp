// Drives the real X pointer (XTest) against frameless windows under the harness's window manager.
#include "support/pinlibraries.h"
#include "ui/framelesswidgethelper.h"
#include "uiscript.h"

// Where a drag starts and how far it goes, the cursor there, how much each side of the window grows.
struct Drag {
    QPoint start, by;
    Qt::CursorShape cursor;
    QMargins grows;
    bool bands = true;  // else no title band and no resize bands
};
Q_DECLARE_METATYPE(Drag)

// Xlib's macros (None, CursorShape, Bool) clash with Qt names; it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

class TestFramelessWindow : public QObject {
    Q_OBJECT

    // A frameless 400 x 300 window with a 36-pixel title band and a button inside it.
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<FramelessWidgetHelper> helper_;
    std::unique_ptr<Display, decltype(&XCloseDisplay)> display_{XOpenDisplay(nullptr), XCloseDisplay};
    QRect frame() const { return window_->windowHandle()->geometry(); }
    // The pauses pace the fake events the way a hand would; the window manager sees each one.
    void moveTo(QPoint p, int pauseMs = 15) {
        XTestFakeMotionEvent(display_.get(), -1, p.x(), p.y(), 0);
        XFlush(display_.get());
        QTest::qWait(pauseMs);
    }
    void button(bool down, int pauseMs = 30) {
        XTestFakeButtonEvent(display_.get(), 1, down, 0);
        XFlush(display_.get());
        QTest::qWait(pauseMs);
    }
    void click(QPoint p, int times = 1) {
        moveTo(p);
        for (int i = 0; i < 2 * times; ++i)
            button(i % 2 == 0, times == 1 ? 30 : 0);
    }

private slots:
    void initTestCase() { QVERIFY2(display_, "needs an X display"); }
    void cleanupTestCase() { pinLoadedLibraries(); }
    void init() {
        window_ = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
        window_->setMinimumSize(300, 200);
        window_->setGeometry(300, 200, 400, 300);
        auto *button = new QPushButton("x", window_.get());
        button->setGeometry(340, 4, 28, 28);
        helper_ = std::make_unique<FramelessWidgetHelper>(window_.get());
        helper_->setTitleHeight(36);
        helper_->addTitleObject(button);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get(), 20000));
        QTest::qWait(200);  // the window manager's own placement settles
    }
    void cleanup() {
        window_.reset();
        moveTo({5, 1070});
    }

    void drag_data() {
        QTest::addColumn<Drag>("d");
        using QTest::newRow;
        newRow("title band moves") << Drag{{120, 18}, {150, 90}, Qt::ArrowCursor, {-150, -90, 150, 90}};
        newRow("below the title band nothing") << Drag{{120, 120}, {100, 80}, Qt::ArrowCursor, {}};
        newRow("right edge resizes") << Drag{{398, 150}, {120, 0}, Qt::SizeHorCursor, {0, 0, 120, 0}};
        newRow("bottom-left resizes") << Drag{{1, 298}, {-60, 50}, Qt::SizeBDiagCursor, {60, 0, 0, 50}};
        newRow("minimum size") << Drag{{398, 298}, {-300, -250}, Qt::SizeFDiagCursor, {0, 0, -100, -100}};
        newRow("no bands: title") << Drag{{120, 18}, {100, 82}, Qt::ArrowCursor, {}, false};
        newRow("no bands: top-left corner") << Drag{{0, 0}, {-50, -50}, Qt::ArrowCursor, {}, false};
    }
    void drag() {
        QFETCH(Drag, d);
        helper_->setTitleHeight(d.bands ? 36 : 0);
        helper_->setResizeMargins(d.bands ? 6 : 0);
        const QRect before = frame();
        const QPoint from = before.topLeft() + d.start;
        moveTo(from);
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowHandle()->cursor().shape(), d.cursor, 2000);
        button(true);
        // A first small step starts the window manager's move or resize, also on a slow (sanitizer) build.
        for (int i = 0; i <= 12; ++i)
            moveTo(from + (i ? d.by * i / 12 : d.by / 20), i ? 15 : 300);
        QTest::qWait(200);
        button(false);
        if (d.grows.isNull())
            QTest::qWait(300);  // nothing to wait for: what would have moved had its time
        const QRect want = before + d.grows;
        QTRY_VERIFY_WITH_TIMEOUT((frame().topLeft() - want.topLeft()).manhattanLength() <= 16 &&
                                     (frame().bottomRight() - want.bottomRight()).manhattanLength() <= 16,
                                 5000);
    }

    // A click on the title band's button; double clicks maximize, restore, then (not maximizable) do nothing.
    void titleButtonClicksAndDoubleClickMaximizes() {
        auto *button = window_->findChild<QPushButton *>();
        QSignalSpy clicked(button, &QPushButton::clicked);
        const QRect before = frame();
        click(before.topLeft() + button->geometry().center());
        QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 3000);
        QCOMPARE(frame(), before);
        click(before.topLeft() + QPoint(120, 18), 2);
        QTRY_VERIFY_WITH_TIMEOUT(window_->isMaximized() && window_->frameGeometry().width() > before.width(),
                                 5000);
        QVERIFY(window_->screen()->availableGeometry().contains(window_->frameGeometry()));
        click(frame().topLeft() + QPoint(120, 18), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!window_->isMaximized() && frame().size() == before.size(), 5000);
        helper_->setMaximizable(false);
        click(frame().topLeft() + QPoint(120, 18), 2);
        QTest::qWait(500);
        QVERIFY(!window_->isMaximized());
    }
};

QTEST_MAIN(TestFramelessWindow)
#include "tst_framelesswindow.moc"
