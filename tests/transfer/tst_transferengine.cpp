// Files between two transferors over two real engine peers on the test namespace's veth pair.
#include <QtTest>

#include <QLoggingCategory>

#include "enginepair.h"
#include "rtc/zuwebrtc.h"
#include "transfertest.h"

using namespace transfertest;

class TestTransferEngine : public QObject {
    Q_OBJECT
private slots:
    void filesCrossRealPeers() {
        ZU_REQUIRE_TEST_NAMESPACE();
        useHome(freshHome());
        QLoggingCategory::setFilterRules("zushare.transfer.debug=false");
        ShareSyntheticPicture(160, 90, 5);
        enginetest::EnginePair pair;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.ready == 1 && pair.sender.ready == 1, 15000);
        Side host(pair.sender.pc), attendee(pair.receiver.pc);
        QStringList sums, received;
        for (int size : {0, 16385, 2 * 1024 * 1024 + 5}) {
            const QString name = QString("engine-%1.bin").arg(size);
            host.t->addTask(source(name, size, 99));
            sums << name + md5Of(scratch(name));
        }
        QTRY_COMPARE_WITH_TIMEOUT(attendee.saved.size(), 3, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(host.completions, 3, 5000);
        QVERIFY(host.failed.isEmpty() && attendee.failed.isEmpty());
        for (const QString &path : attendee.saved) {
            received << QFileInfo(path).fileName() + md5Of(path);
        }
        QCOMPARE(received, sums);
    }
};

QTEST_MAIN(TestTransferEngine)
#include "tst_transferengine.moc"
