// Arbitrary packages into a receiving and a sending transferor. The input is a series of
// [target, length low, length high, bytes...]; even targets go to the receiver, odd ones to the
// sender, which has just offered a file. Both are made afresh for every input, in this thread, and
// every package is handled before the next one is delivered.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>

#include "core/logger.h"
#include "rtc/zuwebrtc.h"
#include "transfer/filetransferor.h"

namespace {

constexpr int kReceiverPc = 1;
constexpr int kSenderPc = 2;

struct Registration {
    OnDataFromDataChannelReady callback = nullptr;
    uint8_t *buffer = nullptr;
    void *userData = nullptr;
};
std::map<int, Registration> g_registrations;

}  // namespace

extern "C" int SendDataViaDataChannel(int pc, const uint8_t *data, int length) {
    if (pc <= 0 || !data || length <= 0 || length > ZUWEBRTC_MAX_MESSAGE) {
        std::abort();  // the transferor never sends anything the engine would refuse
    }
    return ZUWEBRTC_OK;
}

extern "C" int RegisterOnDataFromDataChannelReady(int pc, OnDataFromDataChannelReady callback,
                                                  uint8_t *buffer, void *userData, int tag) {
    if (!callback && !buffer && !userData && tag == 0) {
        g_registrations.erase(pc);
    } else {
        g_registrations[pc] = {callback, buffer, userData};
    }
    return ZUWEBRTC_OK;
}

namespace {

struct Environment {
    int argc = 1;
    char name[16] = "fuzz_transfer";
    char *argv[2] = {name, nullptr};
    QCoreApplication *app = nullptr;
    QTemporaryDir *home = nullptr;
    QString sendPath;

    Environment() {
        app = new QCoreApplication(argc, argv);
        home = new QTemporaryDir();
        qputenv("HOME", QFile::encodeName(home->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home->path() + "/.config"));
        QLoggingCategory::setFilterRules("zushare.transfer.debug=false");
        g_logger->set_level(spdlog::level::off);
        sendPath = home->filePath("send.bin");
        QFile file(sendPath);
        if (!file.open(QIODevice::WriteOnly)) {
            std::abort();
        }
        file.write(QByteArray(40000, 's'));
    }
};

void deliver(int pc, const uint8_t *bytes, size_t size, int claimed) {
    auto it = g_registrations.find(pc);
    if (it == g_registrations.end()) {
        return;
    }
    std::memcpy(it->second.buffer, bytes, std::min<size_t>(size, ZUWEBRTC_RECEIVE_BUFFER));
    it->second.callback(it->second.buffer, claimed, it->second.userData);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Environment *env = new Environment;
    {
        FileTransferor receiver(kReceiverPc);
        FileTransferor sender(kSenderPc);
        sender.addTask(env->sendPath);
        QCoreApplication::sendPostedEvents();

        while (size >= 3) {
            const int target = data[0] & 1 ? kSenderPc : kReceiverPc;
            // Now and then claim more than the buffer holds, as a faulty engine might.
            const bool overclaim = data[0] & 2;
            size_t length = size_t(data[1] | (data[2] << 8)) % (ZUWEBRTC_RECEIVE_BUFFER + 1);
            data += 3;
            size -= 3;
            length = std::min(length, size);
            deliver(target, data, length, overclaim ? int(length) + 40000 : int(length));
            data += length;
            size -= length;
            QCoreApplication::sendPostedEvents();
        }
        receiver.isRunning();
    }
    QCoreApplication::sendPostedEvents();
    // Nothing may have been written outside the download folder.
    const QStringList names =
        QDir(env->home->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (name != "Downloads" && name != "send.bin") {
            std::abort();
        }
    }
    QDir(env->home->filePath("Downloads")).removeRecursively();
    return 0;
}
