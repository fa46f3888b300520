#include <QtTest>

#include "ui/framelesshittest.h"

using frameless::Hit;

Q_DECLARE_METATYPE(frameless::Hit)
Q_DECLARE_METATYPE(QMargins)

class TestFramelessHitTest : public QObject {
    Q_OBJECT

private slots:
    // A 400 x 300 window with 6-pixel resize bands unless a row says otherwise; a title object (a
    // button) covers x >= 300 of the title band in the rows that have one.
    void hitTest_data() {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QMargins>("bands");
        QTest::addColumn<int>("titleHeight");
        QTest::addColumn<bool>("button");
        QTest::addColumn<Hit>("expected");
        const QSize s(400, 300);
        const QMargins b(6, 6, 6, 6), none;
        auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
        row("top-left corner") << QPoint(0, 0) << s << b << 36 << false << Hit::TopLeft;
        row("top-left band edge") << QPoint(6, 6) << s << b << 36 << false << Hit::TopLeft;
        row("top-right corner") << QPoint(399, 2) << s << b << 36 << false << Hit::TopRight;
        row("top-right on width") << QPoint(400, 0) << s << b << 36 << false << Hit::TopRight;
        row("bottom-left") << QPoint(3, 297) << s << b << 36 << false << Hit::BottomLeft;
        row("bottom-right") << QPoint(396, 299) << s << b << 36 << false << Hit::BottomRight;
        row("left") << QPoint(2, 150) << s << b << 36 << false << Hit::Left;
        row("right") << QPoint(394, 150) << s << b << 36 << false << Hit::Right;
        row("right band starts at w-6") << QPoint(393, 150) << s << b << 36 << false << Hit::Client;
        row("top") << QPoint(200, 3) << s << b << 36 << false << Hit::Top;
        row("bottom") << QPoint(200, 296) << s << b << 36 << false << Hit::Bottom;
        row("title band") << QPoint(200, 20) << s << b << 36 << false << Hit::Caption;
        row("title band last line") << QPoint(200, 35) << s << b << 36 << false << Hit::Caption;
        row("below title band") << QPoint(200, 36) << s << b << 36 << false << Hit::Client;
        row("no title band") << QPoint(200, 20) << s << b << 0 << false << Hit::Client;
        row("middle") << QPoint(200, 150) << s << b << 36 << false << Hit::Client;
        row("title beside the button") << QPoint(100, 20) << s << b << 36 << true << Hit::Caption;
        row("title object clickable") << QPoint(320, 20) << s << b << 36 << true << Hit::Client;
        row("no bands, no title: corner") << QPoint(0, 0) << s << none << 0 << false << Hit::Client;
        row("no bands, no title: outside") << QPoint(401, -1) << s << none << 0 << false << Hit::Client;
        row("no bands: title moves") << QPoint(0, 10) << s << none << 36 << false << Hit::Caption;
        row("no bands: corner in title") << QPoint(0, 0) << s << none << 36 << false << Hit::Client;
        row("no bands: bottom-right") << QPoint(399, 299) << s << none << 36 << false << Hit::Client;
        // Both bands overlap in a window 8 pixels high: the top band wins.
        row("flat: top") << QPoint(200, 4) << QSize(400, 8) << b << 0 << false << Hit::Top;
        row("flat: top-left") << QPoint(2, 4) << QSize(400, 8) << b << 0 << false << Hit::TopLeft;
        row("flat: top-right") << QPoint(398, 4) << QSize(400, 8) << b << 0 << false << Hit::TopRight;
        row("narrow right band: inside")
            << QPoint(395, 150) << s << QMargins(6, 6, 3, 6) << 36 << false << Hit::Client;
        row("narrow right band") << QPoint(397, 150) << s << QMargins(6, 6, 3, 6) << 36 << false
                                 << Hit::Right;
    }
    void hitTest() {
        QFETCH(QPoint, point);
        QFETCH(QSize, size);
        QFETCH(QMargins, bands);
        QFETCH(int, titleHeight);
        QFETCH(bool, button);
        QFETCH(Hit, expected);
        auto isTitle = [button](int x, int) { return !button || x < 300; };
        QCOMPARE(frameless::hitTest(point, size, bands, titleHeight, isTitle), expected);
    }

    void negativeScreenCoordinates() {
        // A window on a monitor left of and above the primary one.
        const QRect g(-1500, -200, 400, 300);
        const QMargins b(6, 6, 6, 6);
        auto at = [&](QPoint p) {
            return frameless::hitTestGlobal(p, g, b, 36, [](int, int) { return true; });
        };
        QCOMPARE(at({-1500, -200}), Hit::TopLeft);
        QCOMPARE(at({-1300, -180}), Hit::Caption);
        QCOMPARE(at({-1101, -50}), Hit::Right);
        QCOMPARE(at({-1300, 99}), Hit::Bottom);
        QCOMPARE(at({-1300, -50}), Hit::Client);
        QCOMPARE(at({-1600, -50}), Hit::Client);
    }

    // The real-pointer test covers the right and bottom-left drags and three cursors.
    void edgesAndCursors() {
        QCOMPARE(frameless::edgesOf(Hit::TopLeft), Qt::TopEdge | Qt::LeftEdge);
        QCOMPARE(frameless::edgesOf(Hit::Caption), Qt::Edges());
        QCOMPARE(frameless::cursorOf(Hit::TopRight), Qt::SizeBDiagCursor);
        QCOMPARE(frameless::cursorOf(Hit::BottomRight), Qt::SizeFDiagCursor);
        QVERIFY(!frameless::isResizeHit(Hit::Caption) && !frameless::isResizeHit(Hit::Client));
        QVERIFY(frameless::isResizeHit(Hit::Top));
    }
};

QTEST_APPLESS_MAIN(TestFramelessHitTest)
#include "tst_framelesshittest.moc"
