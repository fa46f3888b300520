#include <QtTest>

#include "ui/framelesshittest.h"

using frameless::Hit;

Q_DECLARE_METATYPE(frameless::Hit)

namespace {
const QSize kSize(400, 300);
const QMargins kBands(6, 6, 6, 6);
const auto kAlwaysTitle = [](int, int) { return true; };
}  // namespace

class TestFramelessHitTest : public QObject {
    Q_OBJECT

private slots:
    void table_data() {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("titleHeight");
        QTest::addColumn<Hit>("expected");
        QTest::newRow("top-left corner") << QPoint(0, 0) << 36 << Hit::TopLeft;
        QTest::newRow("top-left band edge") << QPoint(6, 6) << 36 << Hit::TopLeft;
        QTest::newRow("top-right corner") << QPoint(399, 2) << 36 << Hit::TopRight;
        QTest::newRow("top-right on width") << QPoint(400, 0) << 36 << Hit::TopRight;
        QTest::newRow("bottom-left") << QPoint(3, 297) << 36 << Hit::BottomLeft;
        QTest::newRow("bottom-right") << QPoint(396, 299) << 36 << Hit::BottomRight;
        QTest::newRow("left") << QPoint(2, 150) << 36 << Hit::Left;
        QTest::newRow("right") << QPoint(394, 150) << 36 << Hit::Right;
        QTest::newRow("right band starts at w-6") << QPoint(393, 150) << 36 << Hit::Client;
        QTest::newRow("top") << QPoint(200, 3) << 36 << Hit::Top;
        QTest::newRow("bottom") << QPoint(200, 296) << 36 << Hit::Bottom;
        QTest::newRow("title band") << QPoint(200, 20) << 36 << Hit::Caption;
        QTest::newRow("title band last line") << QPoint(200, 35) << 36 << Hit::Caption;
        QTest::newRow("below title band") << QPoint(200, 36) << 36 << Hit::Client;
        QTest::newRow("no title band") << QPoint(200, 20) << 0 << Hit::Client;
        QTest::newRow("middle") << QPoint(200, 150) << 36 << Hit::Client;
    }

    void table() {
        QFETCH(QPoint, point);
        QFETCH(int, titleHeight);
        QFETCH(Hit, expected);
        QCOMPARE(frameless::hitTest(point, kSize, kBands, titleHeight, kAlwaysTitle), expected);
    }

    void titleObjectsStayClickable() {
        // The callback says "not title area" for a button at x >= 300 in the band.
        auto notOnButton = [](int x, int) { return x < 300; };
        QCOMPARE(frameless::hitTest({100, 20}, kSize, kBands, 36, notOnButton), Hit::Caption);
        QCOMPARE(frameless::hitTest({320, 20}, kSize, kBands, 36, notOnButton), Hit::Client);
    }

    void noMarginsNoTitleIsAlwaysClient() {
        const QMargins none(0, 0, 0, 0);
        for (int y = -1; y <= kSize.height() + 1; y += 1) {
            for (int x : {-1, 0, 1, 3, 6, 200, 394, 399, 400, 401}) {
                QCOMPARE(frameless::hitTest({x, y}, kSize, none, 0, kAlwaysTitle), Hit::Client);
            }
        }
    }

    void noMarginsWithTitleOnlyMoves() {
        const QMargins none(0, 0, 0, 0);
        QCOMPARE(frameless::hitTest({0, 0}, kSize, none, 36, kAlwaysTitle), Hit::Client);
        QCOMPARE(frameless::hitTest({0, 10}, kSize, none, 36, kAlwaysTitle), Hit::Caption);
        QCOMPARE(frameless::hitTest({399, 299}, kSize, none, 36, kAlwaysTitle), Hit::Client);
    }

    void shortWindowPrefersTop() {
        // Both bands overlap in a window 8 pixels high: the top band wins.
        const QSize flat(400, 8);
        QCOMPARE(frameless::hitTest({200, 4}, flat, kBands, 0, kAlwaysTitle), Hit::Top);
        QCOMPARE(frameless::hitTest({2, 4}, flat, kBands, 0, kAlwaysTitle), Hit::TopLeft);
        QCOMPARE(frameless::hitTest({398, 4}, flat, kBands, 0, kAlwaysTitle), Hit::TopRight);
    }

    void unequalMargins() {
        const QMargins m(6, 6, 3, 6);
        QCOMPARE(frameless::hitTest({395, 150}, kSize, m, 36, kAlwaysTitle), Hit::Client);
        QCOMPARE(frameless::hitTest({397, 150}, kSize, m, 36, kAlwaysTitle), Hit::Right);
    }

    void negativeScreenCoordinates() {
        // A window on a monitor left of and above the primary one.
        const QRect geometry(-1500, -200, 400, 300);
        QCOMPARE(frameless::hitTestGlobal({-1500, -200}, geometry, kBands, 36, kAlwaysTitle), Hit::TopLeft);
        QCOMPARE(frameless::hitTestGlobal({-1300, -180}, geometry, kBands, 36, kAlwaysTitle), Hit::Caption);
        QCOMPARE(frameless::hitTestGlobal({-1101, -50}, geometry, kBands, 36, kAlwaysTitle), Hit::Right);
        QCOMPARE(frameless::hitTestGlobal({-1300, 99}, geometry, kBands, 36, kAlwaysTitle), Hit::Bottom);
        QCOMPARE(frameless::hitTestGlobal({-1300, -50}, geometry, kBands, 36, kAlwaysTitle), Hit::Client);
        // Outside the window entirely.
        QCOMPARE(frameless::hitTestGlobal({-1600, -50}, geometry, kBands, 36, kAlwaysTitle), Hit::Client);
    }

    void edgesAndCursors() {
        QCOMPARE(frameless::edgesOf(Hit::TopLeft), Qt::TopEdge | Qt::LeftEdge);
        QCOMPARE(frameless::edgesOf(Hit::BottomRight), Qt::BottomEdge | Qt::RightEdge);
        QCOMPARE(frameless::edgesOf(Hit::Right), Qt::Edges(Qt::RightEdge));
        QCOMPARE(frameless::edgesOf(Hit::Caption), Qt::Edges());
        QCOMPARE(frameless::cursorOf(Hit::Left), Qt::SizeHorCursor);
        QCOMPARE(frameless::cursorOf(Hit::Bottom), Qt::SizeVerCursor);
        QCOMPARE(frameless::cursorOf(Hit::TopRight), Qt::SizeBDiagCursor);
        QCOMPARE(frameless::cursorOf(Hit::BottomRight), Qt::SizeFDiagCursor);
        QVERIFY(!frameless::isResizeHit(Hit::Caption));
        QVERIFY(!frameless::isResizeHit(Hit::Client));
        QVERIFY(frameless::isResizeHit(Hit::Top));
    }
};

QTEST_APPLESS_MAIN(TestFramelessHitTest)
#include "tst_framelesshittest.moc"
