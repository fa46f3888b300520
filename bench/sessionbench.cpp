// Session figures on the namespace LAN with a moving 1920x1080 picture at 30 fps on a private
// Xvfb: time from start() to the first frame on the attendee, frames per second received,
// capture-to-render latency (p50, p99) read from time stamps painted into the picture, and the
// host's CPU with 1 and with 5 attendees side by side. Run it inside a private namespace:
//   sudo unshare --net --fork -- tests/support/in-netns.sh build/bench/zushare_bench_session

#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "support/testlan.h"
#include "support/testsupport.h"

namespace {

struct Watcher {
    QProcess *process = nullptr;
    QByteArray output;
    void pump() { output += process->readAll(); }
    QString lastFrames() {
        pump();
        const QStringList lines = QString::fromUtf8(output).split('\n');
        for (int i = lines.size() - 1; i >= 0; --i) {
            if (lines[i].startsWith("frames ")) {
                return lines[i];
            }
        }
        return QString();
    }
    int field(const QString &name) {
        const QRegularExpressionMatch m = QRegularExpression(name + "=(-?\\d+)").match(lastFrames());
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }
    int firstFrameMs() {
        pump();
        const QRegularExpressionMatch m =
            QRegularExpression("first frame after (\\d+) ms").match(QString::fromUtf8(output));
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }
};

double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QString text = QString::fromLatin1(stat.readAll());
    const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

bool waitFor(const std::function<bool()> &ready, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (ready()) {
            return true;
        }
        spin(100);
    }
    return ready();
}

double hostCpuShare(qint64 pid, int windowMs) {
    const double before = cpuSeconds(pid);
    QElapsedTimer t;
    t.start();
    spin(windowMs);
    const double after = cpuSeconds(pid);
    return (after - before) / (double(t.elapsed()) / 1000.0);
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (!testsupport::inTestNamespace()) {
        std::fprintf(stderr,
                     "run me inside a private namespace: unshare --net --fork -- "
                     "tests/support/in-netns.sh %s\n",
                     argv[0]);
        return 2;
    }
    const int windowMs = argc > 1 ? std::max(2000, atoi(argv[1])) : 10000;
    const QString display = QStringLiteral(":%1").arg(70 + getpid() % 20);
    QProcess xvfb;
    xvfb.start("Xvfb", {display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"});
    if (!xvfb.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 2;
    }
    spin(1500);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    QProcess pattern;
    pattern.setProcessEnvironment(env);
    pattern.start(ZUSHARE_PATTERN, {"30"});
    if (!pattern.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start the test pattern\n");
        return 2;
    }
    testsupport::TestLan lan(4);
    if (!lan.isUp()) {
        std::fprintf(stderr, "no test LAN: %s\n", qPrintable(lan.errorString()));
        return 2;
    }
    spin(1000);
    QProcess *host = lan.start(1, ZUSHARE_CLI, {"host", "--no-discovery"}, {"DISPLAY=" + display});
    QByteArray hostOutput;
    if (!waitFor(
            [&] {
                hostOutput += host->readAll();
                return hostOutput.contains("share started");
            },
            20000)) {
        std::fprintf(stderr, "the host did not start:\n%s\n", hostOutput.constData());
        return 2;
    }
    const qint64 hostPid = host->processId();
    const double idleCpu = hostCpuShare(hostPid, 3000);

    std::vector<std::unique_ptr<Watcher>> watchers;
    auto addWatcher = [&](int lanHost, int n) {
        auto w = std::make_unique<Watcher>();
        w->process =
            lan.start(lanHost, ZUSHARE_CLI,
                      {"watch", lan.address(1), "--nickname", QStringLiteral("bench%1").arg(n), "--stamps"});
        watchers.push_back(std::move(w));
    };
    addWatcher(2, 0);
    if (!waitFor([&] { return watchers[0]->field("total") > 30; }, 60000)) {
        std::fprintf(stderr, "no frames reached the attendee:\n%s\n", watchers[0]->output.constData());
        return 1;
    }
    const double oneCpu = hostCpuShare(hostPid, windowMs);
    const int oneFps = watchers[0]->field("fps");
    const int oneP50 = watchers[0]->field("latency_p50");
    const int oneP99 = watchers[0]->field("latency_p99");

    const int hosts[4] = {3, 4, 2, 3};
    for (int i = 0; i < 4; ++i) {
        addWatcher(hosts[i], i + 1);
    }
    bool all = waitFor(
        [&] {
            for (auto &w : watchers) {
                if (w->field("total") <= 30) {
                    return false;
                }
            }
            return true;
        },
        120000);
    if (!all) {
        std::fprintf(stderr, "not every attendee received frames\n");
        return 1;
    }
    const double fiveCpu = hostCpuShare(hostPid, windowMs);
    QVector<int> firstFrames, fps;
    for (auto &w : watchers) {
        firstFrames.append(w->firstFrameMs());
        fps.append(w->field("fps"));
    }
    std::sort(firstFrames.begin(), firstFrames.end());
    std::printf(
        "session benchmark: 1920x1080 moving picture at 30 fps on Xvfb, host and attendees on a "
        "namespace LAN, %d ms windows\n",
        windowMs);
    std::printf("  start() to first frame: first attendee %d ms; all five: min %d, median %d, max %d ms\n",
                watchers[0]->firstFrameMs(), firstFrames.first(), firstFrames[firstFrames.size() / 2],
                firstFrames.last());
    std::printf("  frames per second received: 1 attendee %d; with 5 attendees:", oneFps);
    for (int f : fps) {
        std::printf(" %d", f);
    }
    std::printf(
        "\n  capture-to-render latency with 1 attendee: p50 %d ms, p99 %d ms; with 5 (first attendee, "
        "cumulative): p50 %d ms, p99 %d ms\n",
        oneP50, oneP99, watchers[0]->field("latency_p50"), watchers[0]->field("latency_p99"));
    std::printf(
        "  host CPU (share of one core): idle share %.2f, 1 attendee %.2f, 5 attendees %.2f, "
        "ratio 5/1 = %.2f (aim: at most 1.3)\n",
        idleCpu, oneCpu, fiveCpu, oneCpu > 0 ? fiveCpu / oneCpu : 0.0);
    std::fflush(stdout);

    for (auto &w : watchers) {
        w->process->terminate();
    }
    for (auto &w : watchers) {
        w->process->waitForFinished(5000);
    }
    host->terminate();
    host->waitForFinished(5000);
    pattern.terminate();
    pattern.waitForFinished(3000);
    xvfb.terminate();
    xvfb.waitForFinished(3000);
    return 0;
}
