// Files between two transferors over two real engine peers on the test namespace's veth pair.
#include <QtTest>

#include <QDesktopServices>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include "enginepair.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "support/testsupport.h"
#include "transfer/filetransferor.h"

namespace {

constexpr int kConnectMs = 15000;

QByteArray md5Of(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return "missing";
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(&file);
    return hash.result().toHex();
}

}  // namespace

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
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

    void filesCrossRealPeers() {
        ZU_REQUIRE_TEST_NAMESPACE();
        enginetest::EnginePair pair;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(pair.receiver.ready == 1 && pair.sender.ready == 1, kConnectMs);

        QThread hostThread;
        QThread attendeeThread;
        hostThread.start();
        attendeeThread.start();
        {
            FileTransferor host(pair.sender.pc, &hostThread);
            FileTransferor attendee(pair.receiver.pc, &attendeeThread);
            QStringList saved;
            QList<QString> fails;
            int completions = 0;
            connect(&attendee, &FileTransferor::sigFileSaved, this, [&](const QString &p) { saved << p; });
            connect(&host, &FileTransferor::sigProgressChanged, this,
                    [&](int v) { completions += v == 100; });
            connect(&host, &FileTransferor::sigTransferFail, this,
                    [&](const QString &, const QString &e) { fails << e; });
            connect(&attendee, &FileTransferor::sigTransferFail, this,
                    [&](const QString &, const QString &e) { fails << e; });

            QStringList paths;
            QRandomGenerator random(99);
            for (int size : {0, 16385, 2 * 1024 * 1024 + 5}) {
                QByteArray bytes(size, Qt::Uninitialized);
                for (char &c : bytes) {
                    c = char(random.generate());
                }
                const QString path = home_.filePath(QString("engine-%1.bin").arg(size));
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                QCOMPARE(file.write(bytes), qint64(size));
                paths << path;
            }
            for (const QString &path : paths) {
                host.addTask(path);
            }
            QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 3, 60000);
            QTRY_COMPARE_WITH_TIMEOUT(completions, 3, 5000);
            QVERIFY2(fails.isEmpty(), qPrintable(fails.join(", ")));
            for (int i = 0; i < paths.size(); ++i) {
                QCOMPARE(QFileInfo(saved[i]).fileName(), QFileInfo(paths[i]).fileName());
                QCOMPARE(md5Of(saved[i]), md5Of(paths[i]));
            }
        }
        hostThread.quit();
        attendeeThread.quit();
        hostThread.wait();
        attendeeThread.wait();
    }
};

QTEST_MAIN(TestTransferEngine)
#include "tst_transferengine.moc"
