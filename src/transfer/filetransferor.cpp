#include "filetransferor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QThread>
#include <QTime>
#include <QTimer>

#include "core/logger.h"
#include "core/refusallog.h"
#include "rtc/zuwebrtc.h"
#include "transfer/transferlog.h"

Q_LOGGING_CATEGORY(lcTransfer, "zushare.transfer")

using namespace transferprotocol;

static_assert(kDataPackageSize == ZUWEBRTC_MAX_MESSAGE, "a data package is the largest message");
static_assert(kMaxPackageSize == ZUWEBRTC_RECEIVE_BUFFER, "the receive buffer holds the largest package");

namespace {

const char *const kNameTooLong = QT_TRANSLATE_NOOP("FileTransferor", "文件名过长");
const char *const kNotAFile = QT_TRANSLATE_NOOP("FileTransferor", "不支持发送文件夹！");
const char *const kTooLarge = QT_TRANSLATE_NOOP("FileTransferor", "文件过大,暂不支持！");
const char *const kOpenFailed = QT_TRANSLATE_NOOP("FileTransferor", "打开文件失败！");
const char *const kTransferError = QT_TRANSLATE_NOOP("FileTransferor", "文件传输过程出错");
const char *const kInterrupted = QT_TRANSLATE_NOOP("FileTransferor", "文件传输中断");
const char *const kSaveFailed = QT_TRANSLATE_NOOP("FileTransferor", "保存文件失败！");
const char *const kNoSpace = QT_TRANSLATE_NOOP("FileTransferor", "磁盘空间不足，保存文件失败！");

// Quiet ticks after the last saved file before the folder is reported: the files of one batch follow
// each other within milliseconds, and the user wants to see the folder once, not once per file.
constexpr uint32_t kFolderQuietTicks = 2;

// The sender gives up at the fifth "repeat" for one chunk; the receiver at the fifth damaged copy.
constexpr uint32_t kMaxResends = 4;
constexpr uint32_t kMaxMismatches = 5;

QByteArray textOf(const uint8_t *bytes, int length) {
    const auto *begin = reinterpret_cast<const char *>(bytes);
    const void *zero = std::memchr(begin, 0, static_cast<size_t>(length));
    return QByteArray(begin, zero ? static_cast<int>(static_cast<const char *>(zero) - begin) : length);
}

// An answer that names another file than the current one is a late answer to an earlier offer.
bool answersFile(const ControlMessage &message, const std::string &name, uint32_t length) {
    return (!message.hasName || message.name == name) &&
           (!message.hasLength || message.length == static_cast<int64_t>(length));
}

bool fitsControl(const std::string &name) {
    // The longest message carrying a name is the receiver's "complete" answer.
    return controlText(kReceiveResponse, kComplete, name, kMaxFileLength).size() + 1 <= kJsonCapacity;
}

}  // namespace

FileTransferor::FileTransferor(int pc)
    : pc_(pc),
      saveFolder_(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)),
      sendBuffer_(DataPackage::create(kDataPackageSize)),
      controlBuffer_(DataPackage::create(kControlPackageSize)),
      receiveBuffer_(DataPackage::create(kMaxPackageSize)) {
    DataPackage::registerMetaType();
    std::memset(sendBuffer_->data(), 0, sendBuffer_->size());
    std::memset(controlBuffer_->data(), 0, controlBuffer_->size());
    std::memset(receiveBuffer_->data(), 0, receiveBuffer_->size());
    for (Slot &slot : dispatch_) {
        slot.package = DataPackage::create(kMaxPackageSize);
    }
    // Runs in the thread the owner moves the transferor to: posted events move along with it.
    QMetaObject::invokeMethod(this, "startTimer", Qt::QueuedConnection);
    // Last, so that no message arrives before the object is complete.
    RegisterOnDataFromDataChannelReady(pc_, &FileTransferor::onDataFromDataChannel, receiveBuffer_->data(),
                                       this, pc_);
}

FileTransferor::~FileTransferor() {
    // Returns only when no callback runs any more, so nothing new is dispatched after it.
    RegisterOnDataFromDataChannelReady(pc_, nullptr, nullptr, nullptr, 0);
    {
        std::lock_guard<std::mutex> lock(taskLock_);
        closing_ = true;
    }
    runInWorker([this] { shutDown(); });
}

void FileTransferor::addTask(const QString &filePath) {
    std::lock_guard<std::mutex> lock(taskLock_);
    if (closing_) {
        return;
    }
    tasks_.push_back(filePath);
    // Set here, not in executeTask(), so that paths added in a burst post only one start.
    if (!busy_) {
        busy_ = true;
        QMetaObject::invokeMethod(this, "executeTask", Qt::QueuedConnection);
    }
}

void FileTransferor::postStopTask() {
    std::lock_guard<std::mutex> lock(taskLock_);
    if (!closing_) {
        QMetaObject::invokeMethod(this, "stopTask", Qt::QueuedConnection);
    }
}

bool FileTransferor::isRunning() const {
    qCDebug(lcTransfer) << "isRunning" << sendCounter_.load();
    return receiveCounter_.load() != 0 || sendCounter_.load() != 0;
}

bool FileTransferor::passProgress(int value) {
    static std::atomic<int> counter{0};
    if (value > 99) {
        return true;
    }
    if (counter.fetch_add(1) + 1 > 50) {
        counter.store(0);
        return true;
    }
    return false;
}

// ---- incoming messages (engine thread) ----

void FileTransferor::onDataFromDataChannel(uint8_t *buffer, int length, void *userData) {
    if (userData) {
        static_cast<FileTransferor *>(userData)->receiveMessage(buffer, length);
    }
}

void FileTransferor::receiveMessage(uint8_t *buffer, int length) {
    if (!buffer || length <= 0) {
        return;
    }
    const int size = std::min<int>(length, static_cast<int>(kMaxPackageSize));
    qCDebug(lcTransfer) << "install" << textOf(buffer, size);

    std::lock_guard<std::mutex> lock(dataLock_);
    if (buffer != receiveBuffer_->data()) {
        return;
    }
    const PackageKind kind = kindOf(buffer, static_cast<size_t>(size));
    if (kind == PackageKind::Other) {
        return;
    }
    auto free = std::find_if(dispatch_.begin(), dispatch_.end(), [](const Slot &slot) { return !slot.busy; });
    if (free == dispatch_.end()) {
        g_logger->warn("file transfer: package refused, {} packages are still waiting", kSlotCount);
        return;
    }
    std::memcpy(free->package->data(), buffer, static_cast<size_t>(size));
    free->length = static_cast<uint32_t>(size);
    free->busy = true;
    QMetaObject::invokeMethod(this, kind == PackageKind::Control ? "onCtrl" : "onData", Qt::QueuedConnection,
                              Q_ARG(std::shared_ptr<DataPackage>, free->package));
}

FileTransferor::Slot *FileTransferor::slotOf(const std::shared_ptr<DataPackage> &package) {
    for (Slot &slot : dispatch_) {
        if (slot.busy && slot.package == package) {
            return &slot;
        }
    }
    return nullptr;
}

void FileTransferor::releaseSlot(Slot *slot) {
    slot->busy = false;
    slot->length = 0;
}

// ---- handlers (worker thread) ----

void FileTransferor::onCtrl(std::shared_ptr<DataPackage> package) {
    std::lock_guard<std::mutex> lock(dataLock_);
    Slot *slot = slotOf(package);
    if (!slot) {
        return;
    }
    const uint8_t *bytes = slot->package->data();
    qCDebug(lcTransfer) << "onCtrl" << controlJson(bytes, slot->length).c_str();
    ControlMessage message;
    const bool valid = readControl(bytes, slot->length, message);
    releaseSlot(slot);
    if (!valid) {
        qCDebug(lcTransfer) << "control message ignored";
        return;
    }
    if (message.type == kSendRequest) {
        handleReceiveSide(message);
    } else {
        handleSendSide(message);
    }
}

void FileTransferor::handleReceiveSide(const ControlMessage &message) {
    if (!acceptsFiles_) {
        // Unanswered, as by a receiver that cannot save: the sender gives up by itself.
        logRefusal("transfer: file offered to a host",
                   "file transfer: refused a file that a member offered to this host");
        return;
    }
    if (message.data == kBegin) {
        if (outputFile_) {
            failReceive(tr(kInterrupted));
        }
        receiveName_ = message.name;
        receiveLength_ = static_cast<uint32_t>(message.length);
        received_ = 0;
        mismatchCount_ = 0;
        const QString offered = QString::fromStdString(receiveName_);
        diskName_ = plainFileName(offered);
        if (diskName_ != offered) {
            g_logger->warn("file transfer: received name \"{}\" stored as \"{}\"", receiveName_,
                           diskName_.toStdString());
        }
        if (receiveName_.size() > kMaxNameBytes || !fitsControl(receiveName_)) {
            g_logger->warn("file transfer: offer refused, name of {} bytes", receiveName_.size());
            // Unanswered: the name cannot be echoed, and no sender that keeps to the limits offers it.
            failReceive(tr(kNameTooLong));
            return;
        }
        if (!openReceiveFile()) {
            g_logger->error("file transfer: cannot create a file for \"{}\" in \"{}\"",
                            diskName_.toStdString(), saveFolder_.toStdString());
            g_logger->flush();
            giveUpReceive(tr(kSaveFailed));
            return;
        }
        const qint64 available = QStorageInfo(saveFolder_).bytesAvailable();
        if (available >= 0 && available < qint64(receiveLength_)) {
            g_logger->error("file transfer: \"{}\" of {} bytes refused, only {} bytes free in \"{}\"",
                            receiveName_, receiveLength_, available, saveFolder_.toStdString());
            g_logger->flush();
            giveUpReceive(tr(kNoSpace));
            return;
        }
        sendControl(kReceiveResponse, kBegin, receiveName_, receiveLength_);
        receiveCounter_ = 1;
        emit sigTransferBegin();
    } else if (message.data == kComplete) {
        if (!outputFile_ || !answersFile(message, receiveName_, receiveLength_)) {
            return;
        }
        if (received_ != receiveLength_) {
            g_logger->warn("file transfer: \"{}\" ended after {} of {} bytes", receiveName_, received_,
                           receiveLength_);
            failReceive(tr(kTransferError));
            return;
        }
        if (!finishReceive()) {
            return;
        }
        sendControl(kReceiveResponse, kComplete, receiveName_, receiveLength_);
        receiveCounter_ = 0;
        emit sigProgressChanged(100);
        receiveName_.clear();
        receiveLength_ = 0;
    } else if (message.data == kCancel) {
        if (outputFile_ && answersFile(message, receiveName_, receiveLength_)) {
            failReceive(tr(kInterrupted));
        }
    }
}

void FileTransferor::handleSendSide(const ControlMessage &message) {
    if (sendPhase_ == SendPhase::Idle || !answersFile(message, sendName_, sendLength_)) {
        return;
    }
    if (message.data == kBegin) {
        if (sendPhase_ != SendPhase::Offered) {
            return;
        }
        sendCounter_ = 1;
        sendPhase_ = SendPhase::Sending;
        emit sigTransferBegin();
        sendNextChunk();
    } else if (message.data == kContinue) {
        if (sendPhase_ != SendPhase::Sending) {
            return;
        }
        sendCounter_ = 1;
        reportProgress(sent_ < sendLength_ ? percent(sent_, sendLength_) : 99);
        sendNextChunk();
    } else if (message.data == kRepeat) {
        if (sendPhase_ != SendPhase::Sending) {
            return;
        }
        sendCounter_ = 1;
        if (++repeatCount_ > kMaxResends) {
            failSend(tr(kTransferError));
            return;
        }
        SendDataViaDataChannel(pc_, sendBuffer_->data(), static_cast<int>(kDataPackageSize));
        g_logger->info("transfer file repeat package!");
    } else if (message.data == kComplete) {
        if (sendPhase_ != SendPhase::Completing) {
            return;
        }
        emit sigProgressChanged(100);
        sendCounter_ = 0;
        endSend();
        executeTaskLocked();
    } else if (message.data == kCancel) {
        failSend(tr(kInterrupted));
    }
}

void FileTransferor::onData(std::shared_ptr<DataPackage> package) {
    std::lock_guard<std::mutex> lock(dataLock_);
    Slot *slot = slotOf(package);
    if (!slot) {
        return;
    }
    const uint8_t *bytes = slot->package->data();
    const uint32_t size = slot->length;
    struct Release {
        FileTransferor *self;
        Slot *slot;
        ~Release() { self->releaseSlot(slot); }
    } release{this, slot};

    if (!outputFile_) {
        return;  // no file is being received
    }
    uint32_t n = 0;
    std::string digest;
    if (!readDataHeader(bytes, size, n, digest)) {
        g_logger->warn("file transfer: data package of {} bytes refused, bad chunk length", size);
        return;
    }
    if (static_cast<uint64_t>(received_) + n > receiveLength_) {
        g_logger->warn("file transfer: chunk of {} bytes refused, \"{}\" has {} of {} bytes", n, receiveName_,
                       received_, receiveLength_);
        return;
    }
    if (md5Hex(bytes + kHeaderSize, n) == digest) {
        mismatchCount_ = 0;
        // The chunk is sound: the sender reads its next one while this one is written. A write that
        // fails still gives up the whole file and tells the sender so.
        sendControl(kReceiveResponse, kContinue, receiveName_, receiveLength_);
        if (!storeChunk(bytes + kHeaderSize, n)) {
            g_logger->error("file transfer: writing \"{}\" failed: {}", temporaryPath_.toStdString(),
                            outputFile_->errorString().toStdString());
            g_logger->flush();
            giveUpReceive(outputFile_->error() == QFileDevice::ResourceError ? tr(kNoSpace)
                                                                             : tr(kSaveFailed));
            return;
        }
        received_ += n;
        reportProgress(received_ < receiveLength_ ? percent(received_, receiveLength_) : 99);
        receiveCounter_ = 1;
    } else if (++mismatchCount_ < kMaxMismatches) {
        sendControl(kReceiveResponse, kRepeat, receiveName_, receiveLength_);
        receiveCounter_ = 1;
    } else {
        g_logger->info("file transfer: \"{}\" abandoned after {} damaged copies of one chunk", receiveName_,
                       kMaxMismatches);
        mismatchCount_ = 0;
        failReceive(tr(kTransferError));
    }
}

// ---- sending ----

bool FileTransferor::sendControl(const char *type, const char *data, const std::string &name,
                                 uint32_t length) {
    if (!writeControl(controlBuffer_->data(), type, data, name, length)) {
        return false;
    }
    SendDataViaDataChannel(pc_, controlBuffer_->data(), static_cast<int>(kControlPackageSize));
    return true;
}

void FileTransferor::executeTask() {
    std::lock_guard<std::mutex> lock(dataLock_);
    executeTaskLocked();
}

void FileTransferor::executeTaskLocked() {
    // A send in progress starts the next file itself when it ends.
    if (sendPhase_ != SendPhase::Idle) {
        return;
    }
    inputFile_.reset();
    QString path;
    {
        std::lock_guard<std::mutex> lock(taskLock_);
        if (closing_) {
            return;
        }
        if (tasks_.empty()) {
            busy_ = false;
            return;
        }
        busy_ = true;
        path = tasks_.front();
        tasks_.pop_front();
    }
    auto next = [this] { QMetaObject::invokeMethod(this, "executeTask", Qt::QueuedConnection); };

    QString plain = path;
    plain.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const std::string name = plain.mid(plain.lastIndexOf(QLatin1Char('/')) + 1).toStdString();
    if (name.size() > kMaxNameBytes || !fitsControl(name)) {
        emit sigTransferFail(path, tr(kNameTooLong));
        next();
        return;
    }
    const QFileInfo info(path);
    if (!info.isFile()) {
        emit sigTransferFail(path, tr(kNotAFile));
        next();
        return;
    }
    if (info.size() > kMaxFileLength) {
        emit sigTransferFail(path, tr(kTooLarge));
        next();
        return;
    }
    g_logger->info("transfer file, name:{} , length:{}", name, info.size());
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        emit sigTransferFail(path, tr(kOpenFailed));
        next();
        return;
    }
    if (file->size() > kMaxFileLength) {
        emit sigTransferFail(path, tr(kTooLarge));
        next();
        return;
    }
    inputFile_ = std::move(file);
    sendName_ = name;
    sendLength_ = static_cast<uint32_t>(inputFile_->size());
    sent_ = 0;
    repeatCount_ = 0;
    sendPhase_ = SendPhase::Offered;
    reportProgress(0);
    sendControl(kSendRequest, kBegin, sendName_, sendLength_);
    sendCounter_ = 1;
}

void FileTransferor::sendNextChunk() {
    if (!inputFile_) {
        return;
    }
    qCDebug(lcTransfer) << "trans1M";
    repeatCount_ = 0;
    const uint32_t remaining = sendLength_ - sent_;
    if (remaining == 0) {
        sendControl(kSendRequest, kComplete, sendName_, sendLength_);
        sendPhase_ = SendPhase::Completing;
        sendCounter_ = 1;
        return;
    }
    const uint32_t n = std::min(kChunkAreaSize, remaining);
    uint8_t *buffer = sendBuffer_->data();
    // The length was fixed when the file was offered; a file that shrinks meanwhile cannot be sent.
    if (inputFile_->read(reinterpret_cast<char *>(buffer + kHeaderSize), n) != static_cast<qint64>(n)) {
        g_logger->error("file transfer: reading \"{}\" failed at byte {}", sendName_, sent_);
        failSend(tr(kTransferError));
        return;
    }
    sealData(buffer, n);
    qCDebug(lcTransfer) << "transfer data:" << textOf(buffer, static_cast<int>(kDataPackageSize))
                        << kDataPackageSize;
    SendDataViaDataChannel(pc_, buffer, static_cast<int>(kDataPackageSize));
    sent_ += n;
    sendCounter_ = 1;
}

void FileTransferor::endSend() {
    inputFile_.reset();
    sendPhase_ = SendPhase::Idle;
    sendName_.clear();
    sendLength_ = 0;
    sent_ = 0;
    repeatCount_ = 0;
}

void FileTransferor::failSend(const QString &error) {
    const QString name = QString::fromStdString(sendName_);
    sendCounter_ = 0;
    endSend();
    emit sigTransferFail(name, error);
    QMetaObject::invokeMethod(this, "executeTask", Qt::QueuedConnection);
}

void FileTransferor::reportProgress(int value) {
    if (passProgress(value)) {
        emit sigProgressChanged(value);
    }
}

int FileTransferor::percent(uint32_t done, uint32_t length) {
    if (length == 0 || done >= length) {
        return 99;
    }
    // Rounding alone would show 100 for the last bytes of a large file before it is complete.
    const uint64_t rounded =
        (static_cast<uint64_t>(done) * 200 + length) / (static_cast<uint64_t>(length) * 2);
    return static_cast<int>(std::min<uint64_t>(rounded, 99));
}

// ---- receiving ----

namespace {

// 0, or the errno of the failure (EEXIST when the name is taken). Never replaces what stands at the
// new name and never follows a symlink there: QFile::rename falls back to copying into the new name,
// which writes through a dangling symlink to wherever it points.
int renameWithoutReplacing(const QString &from, const QString &to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without the flag: a hard link is refused just as well where the name is taken.
    if (::link(source.constData(), target.constData()) != 0) {
        return errno;
    }
    ::unlink(source.constData());
    return 0;
}

}  // namespace

bool FileTransferor::openReceiveFile() {
    if (saveFolder_.isEmpty() || diskName_.contains(QLatin1Char('/')) || !QDir().mkpath(saveFolder_)) {
        return false;
    }
    const QString finalPath = QDir(saveFolder_).filePath(diskName_);
    const QTime now = QTime::currentTime();
    std::minstd_rand random(static_cast<unsigned>(now.msec() + 1000 * now.second()) + 1);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const QString suffix = QStringLiteral(".tmp_%1").arg(random() % 10);
        auto file = std::make_shared<QFile>(finalPath + suffix);
        // NewOnly: a file that happens to carry the temporary name is never truncated.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            outputFile_ = std::move(file);
            tmpSuffix_ = suffix;
            finalPath_ = finalPath;
            temporaryPath_ = finalPath + suffix;
            return true;
        }
    }
    return false;
}

bool FileTransferor::storeChunk(const uint8_t *chunk, uint32_t n) {
    return outputFile_->write(reinterpret_cast<const char *>(chunk), n) == static_cast<qint64>(n) &&
           outputFile_->flush();
}

bool FileTransferor::finishReceive() {
    const bool written = outputFile_->flush();
    outputFile_->close();
    const bool closed = written && outputFile_->error() == QFileDevice::NoError;
    outputFile_.reset();
    if (!closed) {
        QFile::remove(temporaryPath_);
        giveUpReceive(tr(kSaveFailed));
        return false;
    }
    const QDir folder(saveFolder_);
    QString saved;
    // A taken name, a symlink at it included, moves on to the next number.
    for (int attempt = 0; attempt < kFinalNameAttempts && saved.isEmpty(); ++attempt) {
        const QString candidate = folder.filePath(numberedFileName(diskName_, attempt));
        const int error = renameWithoutReplacing(temporaryPath_, candidate);
        if (error == 0) {
            saved = candidate;
        } else if (error != EEXIST) {
            break;
        }
    }
    if (saved.isEmpty()) {
        g_logger->error("file transfer: \"{}\" could not be given its name, it stays as \"{}\"", receiveName_,
                        temporaryPath_.toStdString());
        g_logger->flush();
        temporaryPath_.clear();  // the data is complete: keep it
        giveUpReceive(tr(kSaveFailed));
        return false;
    }
    if (saved != finalPath_) {
        g_logger->info("file transfer: \"{}\" exists, saved as \"{}\"", finalPath_.toStdString(),
                       saved.toStdString());
    }
    temporaryPath_.clear();
    emit sigFileSaved(saved);
    folderPending_ = true;
    folderQuietTicks_ = 0;
    return true;
}

void FileTransferor::abandonReceive() {
    if (outputFile_) {
        outputFile_->close();
        outputFile_.reset();
        // Nothing resumes a partial file, so it is not left behind.
        if (!temporaryPath_.isEmpty()) {
            QFile::remove(temporaryPath_);
        }
    }
    temporaryPath_.clear();
    receiveCounter_ = 0;
    receiveName_.clear();
    receiveLength_ = 0;
    received_ = 0;
    mismatchCount_ = 0;
}

void FileTransferor::failReceive(const QString &error) {
    const QString name = diskName_.isEmpty() ? QString::fromStdString(receiveName_) : diskName_;
    abandonReceive();
    emit sigTransferFail(name, error);
}

void FileTransferor::giveUpReceive(const QString &error) {
    // The protocol's own refusal, so that the sender moves on at once instead of timing out.
    sendControl(kReceiveResponse, kCancel, receiveName_, receiveLength_);
    failReceive(error);
}

void FileTransferor::reportSaveFolder() {
    folderPending_ = false;
    emit sigDownloadFolderReady(saveFolder_);
}

// ---- timer and stop ----

void FileTransferor::timerCheckRunning() {
    std::lock_guard<std::mutex> lock(dataLock_);
    if (folderPending_ && !outputFile_ && ++folderQuietTicks_ >= kFolderQuietTicks) {
        reportSaveFolder();
    }
    const uint32_t receiving = receiveCounter_.load();
    if (receiving != 0) {
        if (receiving < kTimeoutTicks) {
            receiveCounter_ = receiving + 1;
        } else {
            failReceive(tr(kInterrupted));
            g_logger->info("receive time out!");
        }
    }
    const uint32_t sending = sendCounter_.load();
    if (sending != 0) {
        if (sending < kTimeoutTicks) {
            sendCounter_ = sending + 1;
        } else {
            // Silence after the last permitted copy of a damaged chunk means the receiver gave up on it.
            failSend(repeatCount_ >= kMaxResends ? tr(kTransferError) : tr(kInterrupted));
            g_logger->info("send time out!");
        }
    }
}

void FileTransferor::startTimer() {
    if (checkTimer_) {
        return;
    }
    checkTimer_ = std::make_shared<QTimer>();
    connect(checkTimer_.get(), &QTimer::timeout, this, &FileTransferor::timerCheckRunning);
    checkTimer_->start(kTickMs);
    // A timer must go in its own thread; this covers a thread that ends before the transferor.
    finishedConnection_ = connect(
        thread(), &QThread::finished, this, [this] { stopTimer(); }, Qt::DirectConnection);
}

void FileTransferor::stopTimer() {
    if (checkTimer_) {
        checkTimer_->stop();
        checkTimer_.reset();
    }
}

void FileTransferor::stopTask() {
    std::lock_guard<std::mutex> lock(dataLock_);
    sendCounter_ = 0;
    endSend();
    abandonReceive();
    std::lock_guard<std::mutex> taskLock(taskLock_);
    busy_ = false;
}

// ---- destruction ----

void FileTransferor::runInWorker(const std::function<void()> &work) {
    QThread *worker = thread();
    // A thread that has ended, or never ran, runs nothing of this object any more.
    if (!worker || worker == QThread::currentThread() || !worker->isRunning()) {
        work();
        return;
    }
    // The owner keeps the loop running until its transferors are gone, so the call is answered.
    QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
}

void FileTransferor::shutDown() {
    disconnect(finishedConnection_);
    QCoreApplication::removePostedEvents(this);
    stopTimer();
    std::lock_guard<std::mutex> lock(dataLock_);
    endSend();
    abandonReceive();
    if (folderPending_) {
        reportSaveFolder();
    }
}
