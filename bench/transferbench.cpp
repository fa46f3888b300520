// Figures of the file transfer path, measured side by side in one run:
//   - a plain memory copy of the file in package-sized pieces (the ceiling of any in-process path);
//   - MD5 of 16384-byte chunks (computed once by each end for every chunk);
//   - the round trip of one 1024-byte message on the channel, and from it the protocol's limit:
//     one 16384-byte chunk per such round trip;
//   - a 64 MiB file sent between two transferors, as MB/s and as a share of that limit.
// The in-process channel runs without delay and again with a simulated one-way delay, as a LAN link
// has; the engine build (zushare_bench_transfer_engine) uses two real peers inside the test namespace.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "core/logger.h"
#ifdef ZUSHARE_BENCH_ENGINE
#include "enginepair.h"
#include "rtc/zuwebrtc.h"
#include "support/testsupport.h"
#else
#include "loopbackchannel.h"
#endif
#include "transfer/filetransferor.h"
#include "transfer/transferprotocol.h"

namespace {

constexpr qint64 kFileSize = 64LL * 1024 * 1024;
constexpr int kSenderPc = 1;
constexpr int kReceiverPc = 2;
constexpr double kMiB = 1024.0 * 1024.0;

double seconds(const QElapsedTimer &timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

double memcpyRate(const QByteArray &source) {
    std::vector<uint8_t> package(17408);
    QElapsedTimer timer;
    timer.start();
    size_t sum = 0;
    for (int round = 0; round < 4; ++round) {
        for (qint64 offset = 0; offset < source.size(); offset += 16384) {
            const qint64 n = std::min<qint64>(16384, source.size() - offset);
            std::memcpy(package.data() + 1024, source.constData() + offset, size_t(n));
            sum += package[1024 + (offset % 7)];
        }
    }
    const double rate = 4 * double(source.size()) / kMiB / seconds(timer);
    return sum == 42 ? rate + 0 : rate;  // keeps the copies from being optimised away
}

double md5Rate(const QByteArray &source) {
    QElapsedTimer timer;
    timer.start();
    for (qint64 offset = 0; offset < source.size(); offset += 16384) {
        QCryptographicHash::hash(QByteArray::fromRawData(source.constData() + offset, 16384),
                                 QCryptographicHash::Md5);
    }
    return double(source.size()) / kMiB / seconds(timer);
}

// Ping-pong of 1024-byte messages between two raw registrations; returns the mean round trip in µs.
struct Pinger {
    int a = kSenderPc;
    int b = kReceiverPc;
    uint8_t bufferA[ZUWEBRTC_RECEIVE_BUFFER];
    uint8_t bufferB[ZUWEBRTC_RECEIVE_BUFFER];
    std::mutex lock;
    std::condition_variable done;
    int remaining = 0;
    std::vector<uint8_t> message = std::vector<uint8_t>(1024, 'p');

    static void onA(uint8_t *, int, void *user) {
        auto *self = static_cast<Pinger *>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        if (--self->remaining > 0) {
            SendDataViaDataChannel(self->a, self->message.data(), 1024);
        } else {
            self->done.notify_all();
        }
    }
    static void onB(uint8_t *, int, void *user) {
        auto *self = static_cast<Pinger *>(user);
        SendDataViaDataChannel(self->b, self->message.data(), 1024);
    }

    double roundTripMicros(const std::function<void()> &settle, int rounds) {
        RegisterOnDataFromDataChannelReady(a, &Pinger::onA, bufferA, this, a);
        RegisterOnDataFromDataChannelReady(b, &Pinger::onB, bufferB, this, b);
        QElapsedTimer timer;
        timer.start();
        {
            std::unique_lock<std::mutex> guard(lock);
            remaining = rounds;
            SendDataViaDataChannel(a, message.data(), 1024);
            done.wait(guard, [this] { return remaining <= 0; });
        }
        const double micros = double(timer.nsecsElapsed()) / 1e3 / rounds;
        settle();
        RegisterOnDataFromDataChannelReady(a, nullptr, nullptr, nullptr, 0);
        RegisterOnDataFromDataChannelReady(b, nullptr, nullptr, nullptr, 0);
        return micros;
    }
};

double transferRate(const QString &path, bool &identical, const QByteArray &digest, int senderPc = kSenderPc,
                    int receiverPc = kReceiverPc) {
    QThread senderThread;
    QThread receiverThread;
    senderThread.start();
    receiverThread.start();
    double rate = 0;
    {
        FileTransferor sender(senderPc);
        FileTransferor receiver(receiverPc);
        sender.moveToThread(&senderThread);
        receiver.moveToThread(&receiverThread);
        QEventLoop loop;
        QString saved;
        bool senderDone = false;
        bool failed = false;
        QObject::connect(&sender, &FileTransferor::sigProgressChanged, &loop, [&](int value) {
            senderDone = senderDone || value == 100;
            if (senderDone && !saved.isEmpty()) {
                loop.quit();
            }
        });
        QObject::connect(&receiver, &FileTransferor::sigFileSaved, &loop, [&](const QString &file) {
            saved = file;
            if (senderDone) {
                loop.quit();
            }
        });
        auto fail = [&](const QString &name, const QString &error) {
            std::fprintf(stderr, "transfer of %s failed: %s\n", qPrintable(name), qPrintable(error));
            failed = true;
            loop.quit();
        };
        QObject::connect(&sender, &FileTransferor::sigTransferFail, &loop, fail);
        QObject::connect(&receiver, &FileTransferor::sigTransferFail, &loop, fail);
        QElapsedTimer timer;
        timer.start();
        sender.addTask(path);
        loop.exec();
        rate = double(kFileSize) / kMiB / seconds(timer);
        QFile file(saved);
        identical = !failed && file.open(QIODevice::ReadOnly) &&
                    QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5) == digest;
        file.close();
        QFile::remove(saved);
    }
    senderThread.quit();
    receiverThread.quit();
    senderThread.wait();
    receiverThread.wait();
    return rate;
}

void printLine(const QString &what, double rtt, double limit, double rate, double copyRate, bool identical) {
    std::printf(
        "%s: round trip of 1024 bytes %8.1f us, limit %8.1f MB/s, transfer %8.1f MB/s = %5.1f %% of limit, "
        "memcpy / transfer %6.1f%s\n",
        qPrintable(what), rtt, limit, rate, 100.0 * rate / limit, copyRate / rate,
        identical ? "" : "  (FILE DIFFERS)");
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/.config"));
    QLoggingCategory::setFilterRules("zushare.transfer.debug=false");
    g_logger->set_level(spdlog::level::warn);

    QByteArray content(int(kFileSize), Qt::Uninitialized);
    QRandomGenerator random(1234);
    random.fillRange(reinterpret_cast<quint32 *>(content.data()), int(kFileSize / 4));
    const QString path = home.filePath("bench-64MiB.bin");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Md5);

    std::printf("file transfer, %lld MiB file\n", kFileSize / (1024 * 1024));
    const double copyRate = memcpyRate(content);
    std::printf("  memcpy in 16384-byte pieces:        %9.1f MB/s\n", copyRate);
    std::printf("  MD5 of 16384-byte chunks:           %9.1f MB/s\n", md5Rate(content));
    content.clear();

#ifndef ZUSHARE_BENCH_ENGINE
    for (int delayMicros : {0, 100, 250}) {
        LoopbackChannel channel;
        channel.setRecording(false);
        channel.link(kSenderPc, kReceiverPc);
        channel.setDelay(std::chrono::microseconds(delayMicros));
        Pinger pinger;
        const double rtt =
            pinger.roundTripMicros([&] { channel.waitIdle(); }, delayMicros == 0 ? 20000 : 2000);
        const double limit = 16384.0 / kMiB / (rtt / 1e6);
        bool identical = false;
        const double rate = transferRate(path, identical, digest);
        printLine(QString("in-process channel, one-way delay %1 us").arg(delayMicros, 3), rtt, limit, rate,
                  copyRate, identical);
    }
#else
    if (!testsupport::inTestNamespace()) {
        std::printf("engine peers: skipped, run inside tests/support/in-netns.sh\n");
        return 0;
    }
    ShareSyntheticPicture(160, 90, 5);
    enginetest::EnginePair pair;
    pair.start();
    QElapsedTimer wait;
    wait.start();
    while (!(pair.receiver.ready == 1 && pair.sender.ready == 1) && wait.elapsed() < 15000) {
        QThread::msleep(20);
    }
    if (!(pair.receiver.ready == 1 && pair.sender.ready == 1)) {
        std::printf("engine peers: no data channel within 15 s\n");
        return 1;
    }
    Pinger pinger;
    pinger.a = pair.sender.pc;
    pinger.b = pair.receiver.pc;
    const double rtt = pinger.roundTripMicros([] { QThread::msleep(200); }, 2000);
    const double limit = 16384.0 / kMiB / (rtt / 1e6);
    bool identical = false;
    const double rate = transferRate(path, identical, digest, pair.sender.pc, pair.receiver.pc);
    printLine("two engine peers over the veth pair", rtt, limit, rate, copyRate, identical);
#endif
    return 0;
}
