// Drives the real X pointer (XTest) against frameless windows under the harness's window manager.
#include <QtTest>

#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "support/pinlibraries.h"
#include "ui/framelesswidgethelper.h"

// Xlib's macros (None, CursorShape, Bool) clash with Qt names; it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

class Pointer {
public:
    Pointer() : display_(XOpenDisplay(nullptr)) {}
    ~Pointer() {
        if (display_)
            XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }

    void moveTo(QPoint p) {
        XTestFakeMotionEvent(display_, -1, p.x(), p.y(), 0);
        XFlush(display_);
        QTest::qWait(15);
    }
    void press() {
        XTestFakeButtonEvent(display_, 1, True, 0);
        XFlush(display_);
        QTest::qWait(30);
    }
    void release() {
        XTestFakeButtonEvent(display_, 1, False, 0);
        XFlush(display_);
        QTest::qWait(30);
    }
    void drag(QPoint from, QPoint to) {
        moveTo(from);
        press();
        // A first small step starts the window manager's move or resize; give it time to take the
        // pointer before the rest of the way, also on a slow (sanitizer) build.
        const QPoint step = (to - from) / 20;
        moveTo(from + step);
        QTest::qWait(300);
        const int steps = 12;
        for (int i = 1; i <= steps; ++i)
            moveTo(from + (to - from) * i / steps);
        QTest::qWait(200);
        release();
    }
    void click(QPoint p) {
        moveTo(p);
        press();
        release();
    }
    void doubleClick(QPoint p) {
        moveTo(p);
        XTestFakeButtonEvent(display_, 1, True, 0);
        XTestFakeButtonEvent(display_, 1, False, 0);
        XTestFakeButtonEvent(display_, 1, True, 0);
        XTestFakeButtonEvent(display_, 1, False, 0);
        XFlush(display_);
        QTest::qWait(50);
    }

private:
    Display *display_;
};

// A frameless window with a 36-pixel title band and a button inside it.
class TestWindow : public QWidget {
public:
    TestWindow() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
        setStyleSheet("background: #DDE3EA;");
        button = new QPushButton("x", this);
        button->setGeometry(340, 4, 28, 28);
        helper = std::make_unique<FramelessWidgetHelper>(this);
        helper->setTitleHeight(36);
        helper->addTitleObject(button);
        setMinimumSize(300, 200);
    }
    QPushButton *button;
    std::unique_ptr<FramelessWidgetHelper> helper;
};

bool near(int a, int b, int tolerance = 8) {
    return qAbs(a - b) <= tolerance;
}

}  // namespace

class TestFramelessWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestWindow> window_;
    Pointer pointer_;

    QRect frame() const { return window_->windowHandle()->geometry(); }

private slots:
    void cleanupTestCase() { pinLoadedLibraries(); }
    void initTestCase() {
        if (qgetenv("DISPLAY").isEmpty() || !pointer_.ok())
            QSKIP("needs an X display");
    }

    void init() {
        window_ = std::make_unique<TestWindow>();
        window_->setGeometry(300, 200, 400, 300);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get(), 20000));
        QTest::qWait(200);
        QVERIFY(window_->helper->window() != nullptr);
    }

    void cleanup() {
        window_.reset();
        pointer_.moveTo({5, 1070});
    }

    void dragInTitleBandMovesWindow() {
        const QRect before = frame();
        pointer_.drag(before.topLeft() + QPoint(120, 18), before.topLeft() + QPoint(120 + 150, 18 + 90));
        QTRY_VERIFY_WITH_TIMEOUT(near(frame().x(), before.x() + 150) && near(frame().y(), before.y() + 90),
                                 5000);
        QCOMPARE(frame().size(), before.size());
    }

    void dragBelowTitleBandDoesNothing() {
        const QRect before = frame();
        pointer_.drag(before.topLeft() + QPoint(120, 120), before.topLeft() + QPoint(220, 200));
        QTest::qWait(300);
        QCOMPARE(frame(), before);
    }

    void titleObjectStaysClickable() {
        QSignalSpy clicked(window_->button, &QPushButton::clicked);
        const QRect before = frame();
        pointer_.click(before.topLeft() + window_->button->geometry().center());
        QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 3000);
        QCOMPARE(frame(), before);
    }

    void dragRightEdgeResizes() {
        const QRect before = frame();
        const QPoint start(before.right() - 1, before.top() + 150);
        pointer_.drag(start, start + QPoint(120, 0));
        QTRY_VERIFY_WITH_TIMEOUT(near(frame().width(), before.width() + 120), 5000);
        QVERIFY(near(frame().x(), before.x(), 1));
        QCOMPARE(frame().height(), before.height());
    }

    void dragBottomLeftCornerResizes() {
        const QRect before = frame();
        const QPoint start(before.left() + 1, before.bottom() - 1);
        pointer_.drag(start, start + QPoint(-60, 50));
        QTRY_VERIFY_WITH_TIMEOUT(
            near(frame().width(), before.width() + 60) && near(frame().height(), before.height() + 50), 5000);
        QVERIFY(near(frame().right(), before.right(), 2));
    }

    void minimumSizeIsKept() {
        const QRect before = frame();
        const QPoint start(before.right() - 1, before.bottom() - 1);
        pointer_.drag(start, start - QPoint(300, 250));
        QTest::qWait(400);
        QVERIFY2(frame().width() >= 300 && frame().height() >= 200,
                 qPrintable(QStringLiteral("%1x%2").arg(frame().width()).arg(frame().height())));
    }

    void cursorShowsResizeShape() {
        const QRect g = frame();
        pointer_.moveTo(QPoint(g.right() - 1, g.top() + 150));
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowHandle()->cursor().shape(), Qt::SizeHorCursor, 2000);
        pointer_.moveTo(QPoint(g.left() + 200, g.bottom() - 1));
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowHandle()->cursor().shape(), Qt::SizeVerCursor, 2000);
        pointer_.moveTo(QPoint(g.left() + 1, g.top() + 1));
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowHandle()->cursor().shape(), Qt::SizeFDiagCursor, 2000);
        pointer_.moveTo(QPoint(g.left() + 200, g.top() + 150));
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowHandle()->cursor().shape(), Qt::ArrowCursor, 2000);
    }

    void doubleClickMaximizesAndRestores() {
        const QRect before = frame();
        pointer_.doubleClick(before.topLeft() + QPoint(120, 18));
        QTRY_VERIFY_WITH_TIMEOUT(window_->isMaximized(), 5000);
        const QRect avail = window_->screen()->availableGeometry();
        QTRY_VERIFY_WITH_TIMEOUT(window_->frameGeometry().width() > before.width(), 3000);
        QVERIFY(avail.contains(window_->frameGeometry()));
        pointer_.doubleClick(frame().topLeft() + QPoint(120, 18));
        QTRY_VERIFY_WITH_TIMEOUT(!window_->isMaximized(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(frame().size() == before.size(), 3000);
    }

    void noBandsMeansNeitherMovableNorResizable() {
        FramelessWidgetHelper &h = *window_->helper;
        h.setTitleHeight(0);
        h.setLeftResizeMargin(0);
        h.setTopResizeMargin(0);
        h.setRightResizeMargin(0);
        h.setBottomResizeMargin(0);
        const QRect before = frame();
        pointer_.drag(before.topLeft() + QPoint(120, 18), before.topLeft() + QPoint(220, 100));
        pointer_.drag(QPoint(before.right() - 1, before.top() + 150),
                      QPoint(before.right() + 100, before.top() + 150));
        pointer_.drag(before.topLeft(), before.topLeft() - QPoint(50, 50));
        QTest::qWait(300);
        QCOMPARE(frame(), before);
    }

    void notMaximizableIgnoresDoubleClick() {
        window_->helper->setMaximizable(false);
        pointer_.doubleClick(frame().topLeft() + QPoint(120, 18));
        QTest::qWait(500);
        QVERIFY(!window_->isMaximized());
    }
};

QTEST_MAIN(TestFramelessWindow)
#include "tst_framelesswindow.moc"
