// Files between two transferors over two real engine peers on the test namespace's veth pair.
#include <QtTest>

#include <QDesktopServices>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include "enginepair.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "support/testsupport.h"
#include "transfertest.h"

using namespace transfertest;

class UrlSink : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl &) {}
};

class TestTransferEngine : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    UrlSink urls_;

private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path() + "/.config"));
        QLoggingCategory::setFilterRules("zushare.transfer.debug=false");
        QDesktopServices::setUrlHandler("file", &urls_, "open");
        zuengine::testing::useSyntheticPicture(160, 90, 5);
    }
    void filesCrossRealPeers() {
        ZU_REQUIRE_TEST_NAMESPACE();
        enginetest::EnginePair pair;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.ready == 1 && pair.sender.ready == 1, 15000);
        Side host(pair.sender.pc);
        Side attendee(pair.receiver.pc);
        QStringList sums;
        for (int size : {0, 16385, 2 * 1024 * 1024 + 5}) {
            const QString name = QString("engine-%1.bin").arg(size);
            host.t->addTask(writeRandomFile(home_.filePath(name), size, 99));
            sums << name + md5Of(home_.filePath(name));
        }
        QTRY_COMPARE_WITH_TIMEOUT(attendee.saved.size(), 3, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(host.completions(), 3, 5000);
        QVERIFY(host.fails.isEmpty() && attendee.fails.isEmpty());
        for (int i = 0; i < sums.size(); ++i) {
            QCOMPARE(QFileInfo(attendee.saved[i]).fileName() + md5Of(attendee.saved[i]), sums[i]);
        }
    }
};

QTEST_MAIN(TestTransferEngine)
#include "tst_transferengine.moc"
