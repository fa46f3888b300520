#include "testsupport.h"

#include <QFile>
#include <QProcess>

namespace testsupport {

bool inTestNamespace() {
    return qEnvironmentVariableIsSet("ZU_TEST_NETNS");
}

QString addressA() {
    return qEnvironmentVariable("ZU_TEST_ADDR_A", "10.77.0.1");
}

QString addressB() {
    return qEnvironmentVariable("ZU_TEST_ADDR_B", "10.77.0.2");
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

int runProgram(const QString &program, const QStringList &arguments, const QString &workingDir,
               int timeoutMs) {
    QProcess process;
    process.setWorkingDirectory(workingDir);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs) || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int freeDisplayNumber() {
    for (int number = 20; number < 1000; ++number) {
        const QString n = QString::number(number);
        if (!QFile::exists("/tmp/.X11-unix/X" + n) && !QFile::exists("/tmp/.X" + n + "-lock"))
            return number;
    }
    return -1;
}

}  // namespace testsupport
