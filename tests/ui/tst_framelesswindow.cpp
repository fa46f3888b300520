// Drives the real X pointer (XTest) against frameless windows under the harness's window manager.
#include "support/pinlibraries.h"
#include "ui/framelesswidgethelper.h"
#include "uiscript.h"

// Xlib's macros (None, CursorShape, Bool) clash with Qt names; it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

Q_DECLARE_METATYPE(QMargins)

namespace {

// The pauses pace the fake events the way a hand would; the window manager sees each one.
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
    void button(bool down, int pauseMs = 30) {
        XTestFakeButtonEvent(display_, 1, down, 0);
        XFlush(display_);
        QTest::qWait(pauseMs);
    }
    void drag(QPoint from, QPoint to) {
        moveTo(from);
        button(true);
        // A first small step starts the window manager's move or resize; give it time to take the
        // pointer before the rest of the way, also on a slow (sanitizer) build.
        moveTo(from + (to - from) / 20);
        QTest::qWait(300);
        for (int i = 1; i <= 12; ++i)
            moveTo(from + (to - from) * i / 12);
        QTest::qWait(200);
        button(false);
    }
    void click(QPoint p) {
        moveTo(p);
        button(true);
        button(false);
    }
    void doubleClick(QPoint p) {
        moveTo(p);
        for (bool down : {true, false, true, false})
            button(down, 0);
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

bool near(const QRect &a, const QRect &b, int tolerance = 8) {
    return qAbs(a.left() - b.left()) <= tolerance && qAbs(a.top() - b.top()) <= tolerance &&
           qAbs(a.right() - b.right()) <= tolerance && qAbs(a.bottom() - b.bottom()) <= tolerance;
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
        QTest::qWait(200);  // the window manager's own placement settles
        QVERIFY(window_->helper->window() != nullptr);
    }

    void cleanup() {
        window_.reset();
        pointer_.moveTo({5, 1070});
    }

    // Where a drag starts (in the window, negative from its right or bottom edge), how far it goes and
    // how the window's edges must move.
    void drag_data() {
        QTest::addColumn<QPoint>("start");
        QTest::addColumn<QPoint>("by");
        QTest::addColumn<QMargins>("edgesMove");
        QTest::addColumn<bool>("noBands");  // no title band and no resize bands
        auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
        row("title band moves") << QPoint(120, 18) << QPoint(150, 90) << QMargins(150, 90, 150, 90) << false;
        row("below the title band nothing") << QPoint(120, 120) << QPoint(100, 80) << QMargins() << false;
        row("right edge resizes") << QPoint(-2, 150) << QPoint(120, 0) << QMargins(0, 0, 120, 0) << false;
        row("bottom-left corner resizes")
            << QPoint(1, -2) << QPoint(-60, 50) << QMargins(-60, 0, 0, 50) << false;
        row("minimum size kept") << QPoint(-2, -2) << QPoint(-300, -250) << QMargins(0, 0, -100, -100)
                                 << false;
        row("no bands: title") << QPoint(120, 18) << QPoint(100, 82) << QMargins() << true;
        row("no bands: right edge") << QPoint(-2, 150) << QPoint(100, 0) << QMargins() << true;
        row("no bands: top-left corner") << QPoint(0, 0) << QPoint(-50, -50) << QMargins() << true;
    }
    void drag() {
        QFETCH(QPoint, start);
        QFETCH(QPoint, by);
        QFETCH(QMargins, edgesMove);
        QFETCH(bool, noBands);
        if (noBands) {
            FramelessWidgetHelper &h = *window_->helper;
            h.setTitleHeight(0);
            h.setLeftResizeMargin(0);
            h.setTopResizeMargin(0);
            h.setRightResizeMargin(0);
            h.setBottomResizeMargin(0);
        }
        const QRect before = frame();
        const QPoint from(start.x() < 0 ? before.width() + start.x() : start.x(),
                          start.y() < 0 ? before.height() + start.y() : start.y());
        pointer_.drag(before.topLeft() + from, before.topLeft() + from + by);
        const QRect expected(
            QPoint(before.left() + edgesMove.left(), before.top() + edgesMove.top()),
            QPoint(before.right() + edgesMove.right(), before.bottom() + edgesMove.bottom()));
        if (edgesMove.isNull())
            QTest::qWait(300);  // nothing to wait for: what would have moved had its time
        QTRY_VERIFY_WITH_TIMEOUT(near(frame(), expected), 5000);
    }

    void titleObjectStaysClickable() {
        QSignalSpy clicked(window_->button, &QPushButton::clicked);
        const QRect before = frame();
        pointer_.click(before.topLeft() + window_->button->geometry().center());
        QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 3000);
        QCOMPARE(frame(), before);
    }

    void cursorShowsResizeShape() {
        const QRect g = frame();
        const QList<QPair<QPoint, decltype(Qt::ArrowCursor)>> points = {
            {QPoint(g.right() - 1, g.top() + 150), Qt::SizeHorCursor},
            {QPoint(g.left() + 200, g.bottom() - 1), Qt::SizeVerCursor},
            {QPoint(g.left() + 1, g.top() + 1), Qt::SizeFDiagCursor},
            {QPoint(g.left() + 200, g.top() + 150), Qt::ArrowCursor}};
        for (const auto &p : points) {
            pointer_.moveTo(p.first);
            QTRY_COMPARE_WITH_TIMEOUT(window_->windowHandle()->cursor().shape(), p.second, 2000);
        }
    }

    void doubleClickMaximizesAndRestores() {
        const QRect before = frame();
        pointer_.doubleClick(before.topLeft() + QPoint(120, 18));
        QTRY_VERIFY_WITH_TIMEOUT(window_->isMaximized(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(window_->frameGeometry().width() > before.width(), 3000);
        QVERIFY(window_->screen()->availableGeometry().contains(window_->frameGeometry()));
        pointer_.doubleClick(frame().topLeft() + QPoint(120, 18));
        QTRY_VERIFY_WITH_TIMEOUT(!window_->isMaximized(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(frame().size() == before.size(), 3000);
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
