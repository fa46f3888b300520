#include <QtTest>
#include <csignal>

#include "support/testsupport.h"

class TestApp : public QObject {
    Q_OBJECT
    // Starts the program in dir and, once in its event loop, asks it to quit as a desktop session would.
    int runZushareBriefly(const QString &dir) {
        QProcess process;
        process.setWorkingDirectory(dir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // Without a display the offscreen platform stays off GLX, whose driver leaks past the leak checker.
        env.remove("DISPLAY");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(ZUSHARE_BIN, QStringList());
        QTest::qWait(1500);  // nothing outside tells that the loop runs; the start-up is well done by then
        if (process.state() == QProcess::Running) {  // else waitForFinished() fails
            ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        }
        return process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit
                   ? process.exitCode()
                   : -1;
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
        const QByteArray log = testsupport::readFile(logPath);
        QVERIFY(log.count("zu share start\r\n") == 2 && log.count("\r\n") == log.count('\n'));  // CRLF lines
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
        const QStringList files = QDir(dir.filePath("logs")).entryList(QDir::Files, QDir::Name);
        QCOMPARE(files, QStringList({"zu_share_log.1.txt", "zu_share_log.2.txt", "zu_share_log.3.txt",
                                     "zu_share_log.txt"}));
        for (const QString &name : files) {
            QVERIFY2(QFileInfo(dir.filePath("logs/" + name)).size() <= 50000, qPrintable(name));
        }
        QVERIFY(QFileInfo(dir.filePath("logs/zu_share_log.1.txt")).size() > 49000);
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
