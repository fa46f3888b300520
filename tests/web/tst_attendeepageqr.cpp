// The QR code of the page's address: finder patterns, and decoding back (Debian's zbarimg, if installed).

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "web/attendeepageqr.h"

namespace {

// A finder pattern: a dark 7x7 ring, a light ring inside it, a dark 3x3 centre.
bool finderAt(const QVector<bool> &m, int n, int x0, int y0) {
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x)
            if (m[(y0 + y) * n + x0 + x] !=
                (x % 6 == 0 || y % 6 == 0 || (x >= 2 && x <= 4 && y >= 2 && y <= 4)))
                return false;
    return true;
}

}  // namespace

class TestAttendeePageQr : public QObject {
    Q_OBJECT

private slots:
    void moduleMatrixHasFinderPatterns() {
        int n = 0;
        const QVector<bool> m = AttendeePageQr::modules("http://192.168.100.200:5677/", &n);
        QVERIFY(n >= 21 && (n - 17) % 4 == 0);  // version v has 17 + 4v modules a side
        QCOMPARE(m.size(), n * n);
        QVERIFY(finderAt(m, n, 0, 0) && finderAt(m, n, n - 7, 0) && finderAt(m, n, 0, n - 7));
        QVERIFY(!finderAt(m, n, n - 7, n - 7));
        for (int x = 8; x < n - 8; ++x)  // the timing pattern between the top finders
            QCOMPARE(m[6 * n + x], x % 2 == 0);
        QVERIFY(AttendeePageQr::modules("", &n).isEmpty() && n == 0 &&
                AttendeePageQr::render("", 200).isNull());
    }

    void pictureDecodesToTheAddress_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("size");
        QTest::newRow("lan") << "http://192.168.1.23:5677/" << 200;
        QTest::newRow("long address, small picture") << "http://172.31.255.254:65535/" << 90;
        QTest::newRow("large") << "http://10.77.0.1:5677/" << 600;
    }

    void pictureDecodesToTheAddress() {
        QFETCH(QString, url);
        QFETCH(int, size);
        const QString zbarimg = QStandardPaths::findExecutable("zbarimg");
        if (zbarimg.isEmpty())
            QSKIP("zbarimg (Debian's zbar-tools) is not installed");
        QTemporaryDir dir;
        QVERIFY(AttendeePageQr::render(url, size).save(dir.filePath("code.png")));
        QProcess zbar;
        zbar.start(zbarimg, {"--quiet", "--raw", "-Sdisable", "-Sqrcode.enable", dir.filePath("code.png")});
        QVERIFY(zbar.waitForFinished(20000));
        QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), url);
    }
};

QTEST_GUILESS_MAIN(TestAttendeePageQr)
#include "tst_attendeepageqr.moc"
