// Session figures on the namespace LAN with a moving 1920x1080 picture at 30 fps on a private
// Xvfb: time from start() to the first frame on the attendee, frames per second received with 1, 3
// and 5 attendees, capture-to-render latency (p50, p99) read from time stamps painted into the
// picture, the host's CPU with 1, 3 and 5 attendees side by side, and the file throughput of a
// second share to one attendee. Run it inside a private namespace:
//   sudo unshare --net --fork -- tests/support/in-netns.sh build/bench/zushare_bench_session

#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
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
    bool has(const char *text) {
        pump();
        return output.contains(text);
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

double hostCpuShare(qint64 pid, int windowMs) {
    const double before = cpuSeconds(pid);
    QElapsedTimer t;
    t.start();
    spin(windowMs);
    const double after = cpuSeconds(pid);
    return (after - before) / (double(t.elapsed()) / 1000.0);
}

struct Figures {
    std::vector<std::unique_ptr<Watcher>> watchers;
    QVector<int> firstFrames, threeFps, fps;
    double idleCpu = 0, oneCpu = 0, threeCpu = 0, fiveCpu = 0;
    int oneFps = 0, oneP50 = 0, oneP99 = 0, fiveP50 = 0, fiveP99 = 0, startupMax = 0;
    int offsetP50 = -1, offsetAbsP99 = -1, offsetCount = 0;
};

// One share of the stamped picture to 1, 3 and then 5 attendees; withSound, the host beeps and
// the attendees ask for its sound, each writing it into scratch.
bool share(testsupport::TestLan &lan, const QString &display, int windowMs, const QString &scratch,
           bool withSound, Figures &out) {
    QStringList hostArgs{"host", "--no-discovery"};
    if (withSound) {
        hostArgs << "--beeping-sound";
    }
    QProcess *host = lan.start(1, ZUSHARE_CLI, hostArgs, {"DISPLAY=" + display});
    QByteArray hostOutput;
    if (!testsupport::waitUntil(
            [&] {
                hostOutput += host->readAll();
                return hostOutput.contains("share started");
            },
            20000)) {
        std::fprintf(stderr, "the host did not start:\n%s\n", hostOutput.constData());
        return false;
    }
    const qint64 hostPid = host->processId();
    out.idleCpu = hostCpuShare(hostPid, 3000);

    std::vector<std::unique_ptr<Watcher>> &watchers = out.watchers;
    auto addWatcher = [&](int lanHost, int n) {
        auto w = std::make_unique<Watcher>();
        QStringList args{"watch", lan.address(1), "--nickname", QStringLiteral("bench%1").arg(n), "--stamps"};
        if (withSound) {
            args << "--sound" << QDir(scratch).filePath(QStringLiteral("sound%1.wav").arg(n));
        }
        w->process = lan.start(lanHost, ZUSHARE_CLI, args);
        watchers.push_back(std::move(w));
    };
    addWatcher(2, 0);
    if (!testsupport::waitUntil([&] { return watchers[0]->field("total") > 30; }, 60000)) {
        std::fprintf(stderr, "no frames reached the attendee:\n%s\n", watchers[0]->output.constData());
        return false;
    }
    out.oneCpu = hostCpuShare(hostPid, windowMs);
    out.oneFps = watchers[0]->field("fps");
    out.oneP50 = watchers[0]->field("latency_p50");
    out.oneP99 = watchers[0]->field("latency_p99");
    out.startupMax = watchers[0]->field("latency_startup_max");

    auto allReceiving = [&] {
        for (auto &w : watchers) {
            if (w->field("total") <= 30) {
                return false;
            }
        }
        return true;
    };
    auto fpsNow = [&] {
        QVector<int> fps;
        for (auto &w : watchers) {
            fps.append(w->field("fps"));
        }
        return fps;
    };
    const int hosts[4] = {3, 4, 2, 3};
    addWatcher(hosts[0], 1);
    addWatcher(hosts[1], 2);
    if (!testsupport::waitUntil(allReceiving, 120000)) {
        std::fprintf(stderr, "not every one of three attendees received frames\n");
        return false;
    }
    out.threeCpu = hostCpuShare(hostPid, windowMs);
    out.threeFps = fpsNow();
    addWatcher(hosts[2], 3);
    addWatcher(hosts[3], 4);
    if (!testsupport::waitUntil(allReceiving, 120000)) {
        std::fprintf(stderr, "not every attendee received frames\n");
        return false;
    }
    out.fiveCpu = hostCpuShare(hostPid, windowMs);
    out.fps = fpsNow();
    for (auto &w : watchers) {
        out.firstFrames.append(w->firstFrameMs());
    }
    std::sort(out.firstFrames.begin(), out.firstFrames.end());
    out.offsetP50 = watchers[0]->field("av_offset_p50");
    out.offsetAbsP99 = watchers[0]->field("av_offset_abs_p99");
    out.offsetCount = watchers[0]->field("av_offset_n");
    out.fiveP50 = watchers[0]->field("latency_p50");
    out.fiveP99 = watchers[0]->field("latency_p99");
    for (auto &w : watchers) {
        w->process->terminate();
    }
    for (auto &w : watchers) {
        w->process->waitForFinished(5000);
    }
    host->terminate();
    host->waitForFinished(5000);
    return true;
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (!testsupport::benchInTestNamespace(argv[0])) {
        return 2;
    }
    const int windowMs = argc > 1 ? std::max(2000, atoi(argv[1])) : 10000;
    QTemporaryDir dir;
    QProcess xvfb;
    const QString display = testsupport::startPrivateDisplay(xvfb, 1920, 1080);
    if (!dir.isValid() || display.isEmpty()) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 2;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    QProcess pattern;
    pattern.setProcessEnvironment(env);
    pattern.start(ZUSHARE_PATTERN, {"30"});
    if (!pattern.waitForStarted(5000) ||
        !testsupport::waitUntil([&] { return pattern.readAll().contains("pattern shown"); }, 30000)) {
        std::fprintf(stderr, "cannot start the test pattern\n");
        return 2;
    }
    testsupport::TestLan lan(4);
    if (!lan.isUp()) {
        std::fprintf(stderr, "no test LAN: %s\n", qPrintable(lan.errorString()));
        return 2;
    }
    spin(1000);
    Figures plain;
    Figures sound;
    if (!share(lan, display, windowMs, dir.path(), false, plain) ||
        !share(lan, display, windowMs, dir.path(), true, sound)) {
        return 1;
    }

    // File throughput: a second share of a small synthetic picture sends one file to one member;
    // the time runs from the member's "receive begin" to its "file saved".
    const int fileMb = 32;
    const QString sendPath = dir.filePath("bench.bin");
    {
        QFile file(sendPath);
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (int i = 0; i < block.size(); ++i) {
            block[i] = char((i * 131 + i / 977) & 0xff);
        }
        if (!file.open(QIODevice::WriteOnly)) {
            return 2;
        }
        for (int i = 0; i < fileMb; ++i) {
            block[0] = char(i);
            file.write(block);
        }
    }
    QProcess *fileHost = lan.start(1, ZUSHARE_CLI,
                                   {"host", "--synthetic", "--size", "320x240", "--fps", "5", "--send",
                                    sendPath, "--port", "5690", "--no-discovery", "--no-web"});
    Watcher fileHostOut{fileHost, {}};
    if (!testsupport::waitUntil([&] { return fileHostOut.has("share started"); }, 20000)) {
        std::fprintf(stderr, "the file host did not start:\n%s\n", fileHostOut.output.constData());
        return 2;
    }
    Watcher receiver{lan.start(2, ZUSHARE_CLI,
                               {"watch", lan.address(1), "--port", "5690", "--nickname", "benchfile",
                                "--downloads", dir.filePath("downloads")}),
                     {}};
    QElapsedTimer transfer;
    if (!testsupport::waitUntil([&] { return receiver.has("receive begin"); }, 60000)) {
        std::fprintf(stderr, "no file transfer began:\n%s\n", receiver.output.constData());
        return 1;
    }
    transfer.start();
    while (!receiver.has("file saved") && transfer.elapsed() < 600000 &&
           receiver.process->state() == QProcess::Running) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        receiver.process->waitForReadyRead(5);
    }
    const qint64 transferMs = transfer.elapsed();
    const bool saved = receiver.has("file saved") &&
                       testsupport::readFile(QDir(dir.filePath("downloads")).filePath("bench.bin")) ==
                           testsupport::readFile(sendPath);
    receiver.process->terminate();
    receiver.process->waitForFinished(5000);
    fileHost->terminate();
    fileHost->waitForFinished(5000);

    std::printf(
        "session benchmark: 1920x1080 moving picture at 30 fps on Xvfb, host and attendees on a "
        "namespace LAN, %d ms windows\n",
        windowMs);
    std::printf("  start() to first frame: first attendee %d ms; all five: min %d, median %d, max %d ms\n",
                plain.watchers[0]->firstFrameMs(), plain.firstFrames.first(),
                plain.firstFrames[plain.firstFrames.size() / 2], plain.firstFrames.last());
    for (size_t i = 0; i < plain.watchers.size(); ++i) {
        const QRegularExpressionMatch steps = QRegularExpression("join steps \\(ms\\): ([^\n]*)")
                                                  .match(QString::fromUtf8(plain.watchers[i]->output));
        std::printf("  attendee %zu joined (ms after start()): %s\n", i + 1,
                    steps.hasMatch() ? qPrintable(steps.captured(1)) : "no steps printed");
    }
    std::printf("  frames per second received: 1 attendee %d; with 3 attendees:", plain.oneFps);
    for (int f : plain.threeFps) {
        std::printf(" %d", f);
    }
    std::printf("; with 5 attendees:");
    for (int f : plain.fps) {
        std::printf(" %d", f);
    }
    std::printf(
        "\n  capture-to-render latency with 1 attendee: p50 %d ms, p99 %d ms; with 5 (first attendee, "
        "cumulative): p50 %d ms, p99 %d ms\n",
        plain.oneP50, plain.oneP99, plain.fiveP50, plain.fiveP99);
    std::printf(
        "  (latency counted from a second after the first frame; the start-up's worst frame: %d ms)\n",
        plain.startupMax);
    std::printf(
        "  host CPU (share of one core): idle share %.2f, 1 attendee %.2f, 3 attendees %.2f, 5 attendees "
        "%.2f, "
        "ratio 5/1 = %.2f (aim: at most 1.3)\n",
        plain.idleCpu, plain.oneCpu, plain.threeCpu, plain.fiveCpu,
        plain.oneCpu > 0 ? plain.fiveCpu / plain.oneCpu : 0.0);
    std::printf(
        "  with the share's sound (a beep every second, Opus, asked for by every attendee): host CPU 1 "
        "attendee %.2f (%.2f without sound, ratio %.2f), 5 attendees %.2f (%.2f without, ratio %.2f)\n",
        sound.oneCpu, plain.oneCpu, plain.oneCpu > 0 ? sound.oneCpu / plain.oneCpu : 0.0, sound.fiveCpu,
        plain.fiveCpu, plain.fiveCpu > 0 ? sound.fiveCpu / plain.fiveCpu : 0.0);
    std::printf(
        "  sound behind the picture at the first attendee (beeps against the stamped picture of the same "
        "second, %d beeps): p50 %d ms, p99 of the distance %d ms; picture latency with sound p50 %d ms\n",
        sound.offsetCount, sound.offsetP50, sound.offsetAbsP99, sound.oneP50);
    if (saved) {
        std::printf("  file to one attendee over the data channel: %d MiB in %lld ms = %.1f MiB/s, intact\n",
                    fileMb, transferMs, fileMb * 1000.0 / double(std::max<qint64>(1, transferMs)));
    } else {
        std::printf("  file to one attendee: not saved intact within %lld ms\n", transferMs);
    }
    // The rate that the file's stop-and-wait can reach at most: the engine's own messages of the
    // same size and the same exchange, measured now, on this machine's load.
    QProcess engine;
    engine.start(ZUSHARE_ENGINE_BENCH, {"--data"});
    engine.waitForFinished(180000);
    const QRegularExpressionMatch limit =
        QRegularExpression("stop-and-wait 17408 out / 1024 back: ([0-9.]+) MB/s").match(engine.readAll());
    if (saved && limit.hasMatch()) {
        const double fileMBps = fileMb * 1048576.0 / 1e6 * 1000.0 / double(std::max<qint64>(1, transferMs));
        std::printf(
            "  file rate %.1f MB/s against the engine's stop-and-wait %s MB/s: ratio %.2f (aim: 0.9)\n",
            fileMBps, qPrintable(limit.captured(1)), fileMBps / limit.captured(1).toDouble());
    }
    std::fflush(stdout);

    pattern.terminate();
    pattern.waitForFinished(3000);
    xvfb.terminate();
    xvfb.waitForFinished(3000);
    return 0;
}
