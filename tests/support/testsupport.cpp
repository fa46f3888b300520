#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cstdio>

namespace testsupport {

bool inTestNamespace() {
    return qEnvironmentVariableIsSet("ZU_TEST_NETNS");
}

bool benchInTestNamespace(const char *program) {
    if (inTestNamespace()) {
        return true;
    }
    std::fprintf(stderr,
                 "run me inside a private namespace: unshare --net --fork -- tests/support/in-netns.sh %s\n",
                 program);
    return false;
}

bool waitUntil(const std::function<bool()> &ready, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!ready()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

QString addressA() {
    return qEnvironmentVariable("ZU_TEST_ADDR_A", "10.77.0.1");
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

QString startPrivateDisplay(QProcess &xvfb, int width, int height) {
    const auto socketOf = [](int number) { return QStringLiteral("/tmp/.X11-unix/X%1").arg(number); };
    int number = 20;
    while (number < 1000 &&
           (QFile::exists(socketOf(number)) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))) {
        ++number;
    }
    if (number == 1000) {
        return {};
    }
    const QString display = QStringLiteral(":%1").arg(number);
    xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xvfb.start("Xvfb", {display, "-screen", "0", QStringLiteral("%1x%2x24").arg(width).arg(height),
                        "-nolisten", "tcp", "-noreset"});
    if (!xvfb.waitForStarted(10000)) {
        return {};
    }
    const QString socketPath = socketOf(number);
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(socketPath) && waited.elapsed() < 20000 && xvfb.state() == QProcess::Running) {
        QThread::msleep(50);
    }
    if (!QFile::exists(socketPath) || xvfb.state() != QProcess::Running) {
        xvfb.kill();
        xvfb.waitForFinished();
        return {};
    }
    return display;
}

QString startPipeWire(const QString &dir, const QString &runtime,
                      const std::function<QProcess *(const QString &, const QStringList &)> &start) {
    // No services on demand: the portal service would start the document portal, whose file system
    // mount outlives the session.
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(QDir(dir).filePath("bus.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return "cannot write the bus configuration";
    config.write(
        "<busconfig><type>session</type><listen>unix:path=" + runtime.toUtf8() +
        "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
        "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    config.close();
    start("dbus-daemon", {"--nofork", "--config-file=" + config.fileName()});
    start("pipewire", {});
    if (!waitUntil([&] { return QFile::exists(runtime + "/bus") && QFile::exists(runtime + "/pipewire-0"); },
                   5000))
        return "the session bus or PipeWire did not start";
    start("wireplumber", {});
    return QString();
}

}  // namespace testsupport
