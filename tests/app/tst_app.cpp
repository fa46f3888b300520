#include <csignal>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "core/platformflags.h"
#include "support/testsupport.h"

class TestApp : public QObject {
    Q_OBJECT
private:
    // Starts the program in dir, lets it reach its event loop, then asks it to quit as a desktop
    // session would and returns its exit code.
    int runZushareBriefly(const QString &dir)
    {
        QProcess process;
        process.setWorkingDirectory(dir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // Without a display the offscreen platform stays off GLX, whose driver is unloaded at exit
        // with allocations the leak checker can no longer name; logging and quitting do not need it.
        env.remove("DISPLAY");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(ZUSHARE_BIN, QStringList());
        if (!process.waitForStarted(10000)) {
            return -100;
        }
        QTest::qWait(1500);
        if (process.state() != QProcess::Running) {
            return -101;
        }
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        if (!process.waitForFinished(15000)) {
            process.kill();
            return -102;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -103;
    }

private slots:
    void startLineIsFirstAndRestartAppends()
    {
        QTemporaryDir dir;
        QCOMPARE(runZushareBriefly(dir.path()), 0);
        const QString logPath = dir.filePath("logs/zu_share_log.txt");
        QByteArray log = testsupport::readFile(logPath);
        const QList<QByteArray> lines = log.split('\n');
        QVERIFY2(lines.size() >= 2, log.constData());
        QVERIFY2(lines.first().endsWith("] [zu_share] [info] zu share start\r"), lines.first().constData());
        // The default pattern: [YYYY-MM-DD HH:MM:SS.mmm]
        QVERIFY(QRegularExpression(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )")
                    .match(QString::fromUtf8(lines.first()))
                    .hasMatch());

        QCOMPARE(runZushareBriefly(dir.path()), 0);
        log = testsupport::readFile(logPath);
        QCOMPARE(log.count("zu share start\r\n"), 2);
    }

    void rotationKeepsExactlyThreeOlderFiles()
    {
        QTemporaryDir dir;
        // About 120 kB per run; four runs give well over four files' worth.
        for (int run = 0; run < 4; ++run) {
            QCOMPARE(testsupport::runProgram(LOGWRITER_BIN, {"240", "450"}, dir.path()), 0);
        }
        QDir logs(dir.filePath("logs"));
        QStringList files = logs.entryList(QDir::Files, QDir::Name);
        QCOMPARE(files, QStringList({"zu_share_log.1.txt", "zu_share_log.2.txt", "zu_share_log.3.txt",
                                     "zu_share_log.txt"}));
        for (const QString &name : files) {
            QVERIFY2(QFileInfo(logs.filePath(name)).size() <= 50000, qPrintable(name));
        }
        QVERIFY(QFileInfo(logs.filePath("zu_share_log.1.txt")).size() > 49000);
    }

    void smallOutputDoesNotRotate()
    {
        QTemporaryDir dir;
        QCOMPARE(testsupport::runProgram(LOGWRITER_BIN, {"100", "100"}, dir.path()), 0);
        QCOMPARE(QDir(dir.filePath("logs")).entryList(QDir::Files), QStringList({"zu_share_log.txt"}));
        const QByteArray log = testsupport::readFile(dir.filePath("logs/zu_share_log.txt"));
        QCOMPARE(log.count("\r\n"), 100);
        QCOMPARE(log.count("\n"), 100);
    }

    void unwritableLogFolderLeavesProgramRunning()
    {
        QTemporaryDir dir;
        // A plain file where the folder should be: even root cannot create the log there.
        QFile blocker(dir.filePath("logs"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QCOMPARE(testsupport::runProgram(LOGWRITER_BIN, {"10", "10"}, dir.path()), 0);
        QCOMPARE(runZushareBriefly(dir.path()), 0);
        QVERIFY(QFileInfo(dir.filePath("logs")).isFile());
    }

    void windowsVersionFlag()
    {
        QVERIFY(!platformflags::isWindows10Version("12"));
        QVERIFY(!platformflags::isWindows10Version("8.1"));
        QVERIFY(!platformflags::isWindows10Version("11"));
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
