// The QR code of the page's address: the module matrix has its finder patterns and the picture
// decodes back to the address (through Debian's zbarimg when it is installed).

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "web/attendeepageqr.h"

class TestAttendeePageQr : public QObject {
    Q_OBJECT

private slots:
    void moduleMatrixHasFinderPatterns();
    void pictureIsSquareBlackOnWhite();
    void pictureDecodesToTheAddress_data();
    void pictureDecodesToTheAddress();
    void emptyTextGivesNoPicture();
};

namespace {

// A finder pattern: a dark 7x7 ring, a light ring inside it, a dark 3x3 centre.
bool finderAt(const QVector<bool> &m, int n, int x0, int y0) {
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x) {
            const bool ring = x == 0 || y == 0 || x == 6 || y == 6;
            const bool centre = x >= 2 && x <= 4 && y >= 2 && y <= 4;
            if (m[(y0 + y) * n + x0 + x] != (ring || centre))
                return false;
        }
    return true;
}

}  // namespace

void TestAttendeePageQr::moduleMatrixHasFinderPatterns() {
    int n = 0;
    const QVector<bool> m = AttendeePageQr::modules("http://192.168.100.200:5677/", &n);
    QVERIFY(n >= 21);
    QCOMPARE((n - 17) % 4, 0);  // version v has 17 + 4v modules a side
    QCOMPARE(m.size(), n * n);
    QVERIFY(finderAt(m, n, 0, 0));
    QVERIFY(finderAt(m, n, n - 7, 0));
    QVERIFY(finderAt(m, n, 0, n - 7));
    QVERIFY(!finderAt(m, n, n - 7, n - 7));
    // Timing pattern between the top finders alternates.
    for (int x = 8; x < n - 8; ++x)
        QCOMPARE(m[6 * n + x], x % 2 == 0);
}

void TestAttendeePageQr::pictureIsSquareBlackOnWhite() {
    const QImage image = AttendeePageQr::render("http://10.0.0.5:5677/", 240);
    QVERIFY(!image.isNull());
    QCOMPARE(image.width(), 240);
    QCOMPARE(image.height(), 240);
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
    QCOMPARE(image.pixelColor(239, 239), QColor(Qt::white));
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            QVERIFY(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255));
            dark += p == qRgb(0, 0, 0);
        }
    QVERIFY(dark > 240 * 240 / 5 && dark < 240 * 240 * 3 / 4);
    // Too small a size still gives every module at least one pixel, with the quiet zone.
    int n = 0;
    AttendeePageQr::modules("http://10.0.0.5:5677/", &n);
    QCOMPARE(AttendeePageQr::render("http://10.0.0.5:5677/", 10).width(), n + 2 * AttendeePageQr::kQuietZone);
}

void TestAttendeePageQr::pictureDecodesToTheAddress_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("size");
    QTest::newRow("lan") << "http://192.168.1.23:5677/" << 200;
    QTest::newRow("long address, small picture") << "http://172.31.255.254:65535/" << 90;
    QTest::newRow("large") << "http://10.77.0.1:5677/" << 600;
}

void TestAttendeePageQr::pictureDecodesToTheAddress() {
    QFETCH(QString, url);
    QFETCH(int, size);
    const QString zbarimg = QStandardPaths::findExecutable("zbarimg");
    if (zbarimg.isEmpty())
        QSKIP("zbarimg (Debian's zbar-tools) is not installed");
    QTemporaryDir dir;
    const QString path = dir.filePath("code.png");
    QVERIFY(AttendeePageQr::render(url, size).save(path));
    QProcess zbar;
    zbar.start(zbarimg, {"--quiet", "--raw", "-Sdisable", "-Sqrcode.enable", path});
    QVERIFY(zbar.waitForFinished(20000));
    QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), url);
}

void TestAttendeePageQr::emptyTextGivesNoPicture() {
    int n = -1;
    QVERIFY(AttendeePageQr::modules("", &n).isEmpty());
    QCOMPARE(n, 0);
    QVERIFY(AttendeePageQr::render("", 200).isNull());
}

QTEST_GUILESS_MAIN(TestAttendeePageQr)
#include "tst_attendeepageqr.moc"
