#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class QProcess;

namespace testsupport {

// True inside the namespace that scripts/test.sh makes; network tests skip themselves elsewhere.
bool inTestNamespace();
// For a benchmark, which runs without the harness: whether it runs in the test namespace; outside
// it, says how to run the program instead.
bool benchInTestNamespace(const char *program);

// Runs the event loop until ready() holds or timeoutMs have passed; whether it held.
bool waitUntil(const std::function<bool()> &ready, int timeoutMs);

// The first veth address of the test namespace (10.77.0.1).
QString addressA();

QByteArray readFile(const QString &path);

// Runs a program to its end and returns its exit code, or -1 when it could not start or time out.
int runProgram(const QString &program, const QStringList &arguments, const QString &workingDir,
               int timeoutMs = 30000);

// Starts a private Xvfb of the given size on a display number no X server of this machine uses and
// returns that display (":N"), or an empty string. The number is chosen here rather than with
// -displayfd: an Xvfb in another network namespace sees the harness's abstract socket as free, takes
// its number and on exit removes the harness's socket file.
QString startPrivateDisplay(QProcess &xvfb, int width, int height);

// Makes the private folder runtime and starts a session bus that starts no services on demand,
// PipeWire and WirePlumber, all with their sockets under runtime and the bus configuration in dir, through
// start (which keeps and ends the processes). Returns an empty string, or what did not come up.
QString startPipeWire(const QString &dir, const QString &runtime,
                      const std::function<QProcess *(const QString &, const QStringList &)> &start);

}  // namespace testsupport

// Skips the current test function unless it runs inside the test namespace.
#define ZU_REQUIRE_TEST_NAMESPACE()                                          \
    do {                                                                     \
        if (!testsupport::inTestNamespace())                                 \
            QSKIP("needs the private network namespace of scripts/test.sh"); \
    } while (false)
