#include <QtTest>

#include "ui/framelesshittest.h"

using frameless::Hit;

Q_DECLARE_METATYPE(frameless::Hit)
Q_DECLARE_METATYPE(QMargins)

class TestFramelessHitTest : public QObject {
    Q_OBJECT

private slots:
    // A 400 x 300 window, 6-pixel resize bands and a 36-pixel title band unless a row says otherwise; the
    // button rows have a title object over x >= 300 of the title band.
    void hitTest_data() {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QMargins>("bands");
        QTest::addColumn<int>("titleHeight");
        QTest::addColumn<bool>("button");
        QTest::addColumn<Hit>("expected");
        const QSize s(400, 300), flat(400, 8);
        const QMargins b(6, 6, 6, 6), none, narrow(6, 6, 3, 6);
        auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
        row("top-left band edge") << QPoint(6, 6) << s << b << 36 << false << Hit::TopLeft;
        row("top-right on width") << QPoint(400, 0) << s << b << 36 << false << Hit::TopRight;
        row("left") << QPoint(2, 150) << s << b << 36 << false << Hit::Left;
        row("right") << QPoint(394, 150) << s << b << 36 << false << Hit::Right;
        row("right band starts at w-6") << QPoint(393, 150) << s << b << 36 << false << Hit::Client;
        row("top") << QPoint(200, 3) << s << b << 36 << false << Hit::Top;
        row("bottom") << QPoint(200, 296) << s << b << 36 << false << Hit::Bottom;
        row("title band last line") << QPoint(200, 35) << s << b << 36 << false << Hit::Caption;
        row("below title band") << QPoint(200, 36) << s << b << 36 << false << Hit::Client;
        row("no title band") << QPoint(200, 20) << s << b << 0 << false << Hit::Client;
        row("button: title beside it") << QPoint(100, 20) << s << b << 36 << true << Hit::Caption;
        row("button: clickable") << QPoint(320, 20) << s << b << 36 << true << Hit::Client;
        row("no bands, no title: corner") << QPoint(0, 0) << s << none << 0 << false << Hit::Client;
        row("no bands: title moves") << QPoint(0, 10) << s << none << 36 << false << Hit::Caption;
        row("no bands: corner in title") << QPoint(0, 0) << s << none << 36 << false << Hit::Client;
        row("no bands: bottom-right") << QPoint(399, 299) << s << none << 36 << false << Hit::Client;
        // Both bands overlap in a window 8 pixels high: the top band wins.
        row("flat: top") << QPoint(200, 4) << flat << b << 0 << false << Hit::Top;
        row("flat: top-left") << QPoint(2, 4) << flat << b << 0 << false << Hit::TopLeft;
        row("narrow right band: inside") << QPoint(395, 150) << s << narrow << 36 << false << Hit::Client;
        row("narrow right band") << QPoint(397, 150) << s << narrow << 36 << false << Hit::Right;
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

    // The real-pointer test covers the right edge, two corners and their cursors.
    void edgesAndCursors() {
        QCOMPARE(frameless::edgesOf(Hit::TopLeft), Qt::TopEdge | Qt::LeftEdge);
        QCOMPARE(frameless::edgesOf(Hit::Caption), Qt::Edges());
        QCOMPARE(frameless::cursorOf(Hit::Bottom), Qt::SizeVerCursor);
        QVERIFY(!frameless::isResizeHit(Hit::Caption) && !frameless::isResizeHit(Hit::Client));
        QVERIFY(frameless::isResizeHit(Hit::Top));
    }
};

QTEST_APPLESS_MAIN(TestFramelessHitTest)
#include "tst_framelesshittest.moc"
