#include <QtTest>
#include <csignal>

#include "support/testsupport.h"

class TestApp : public QObject {
    Q_OBJECT
private:
    // Starts the program in dir, lets it run into its event loop, then asks it to quit as a desktop
    // session would and returns its exit code.
    int runZushareBriefly(const QString &dir) {
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
        // Nothing outside tells that the loop runs; the start-up is well done by then.
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
    void startLineIsFirstAndRestartAppends() {
        QTemporaryDir dir;
        QCOMPARE(runZushareBriefly(dir.path()), 0);
        const QString logPath = dir.filePath("logs/zu_share_log.txt");
        const QByteArray first = testsupport::readFile(logPath).split('\n').first();
        const QRegularExpression line(
            R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[zu_share\] \[info\] zu share start\r$)");
        QVERIFY2(line.match(first).hasMatch(), first.constData());
        QCOMPARE(runZushareBriefly(dir.path()), 0);
        QCOMPARE(testsupport::readFile(logPath).count("zu share start\r\n"), 2);
    }

    void unwritableLogFolderLeavesProgramRunning() {
        QTemporaryDir dir;
        // A plain file where the folder should be: even root cannot create the log there.
        QVERIFY(QFile(dir.filePath("logs")).open(QIODevice::WriteOnly));
        QCOMPARE(testsupport::runProgram(LOGWRITER_BIN, {"10", "10"}, dir.path()), 0);
        QCOMPARE(runZushareBriefly(dir.path()), 0);
        QVERIFY(QFileInfo(dir.filePath("logs")).isFile());
    }

    void rotationKeepsExactlyThreeOlderFiles() {
        QTemporaryDir dir;
        // About 120 kB per run; four runs give well over four files' worth.
        for (int run = 0; run < 4; ++run) {
            QCOMPARE(testsupport::runProgram(LOGWRITER_BIN, {"240", "450"}, dir.path()), 0);
        }
        QDir logs(dir.filePath("logs"));
        const QStringList files = logs.entryList(QDir::Files, QDir::Name);
        QCOMPARE(files, QStringList({"zu_share_log.1.txt", "zu_share_log.2.txt", "zu_share_log.3.txt",
                                     "zu_share_log.txt"}));
        for (const QString &name : files) {
            QVERIFY2(QFileInfo(logs.filePath(name)).size() <= 50000, qPrintable(name));
        }
        QVERIFY(QFileInfo(logs.filePath("zu_share_log.1.txt")).size() > 49000);

        // Small output stays in one file, one CRLF line per record.
        QTemporaryDir small;
        QCOMPARE(testsupport::runProgram(LOGWRITER_BIN, {"100", "100"}, small.path()), 0);
        QCOMPARE(QDir(small.filePath("logs")).entryList(QDir::Files), QStringList({"zu_share_log.txt"}));
        const QByteArray log = testsupport::readFile(small.filePath("logs/zu_share_log.txt"));
        QCOMPARE(log.count("\r\n"), 100);
        QCOMPARE(log.count("\n"), 100);
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
