#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QFile>
#include <QObject>
#include <QString>

#include "transfer/datapackage.h"
#include "transfer/transferprotocol.h"

class QTimer;

// Runs the file transfer protocol over the data channel of one peer connection: sends the queued
// files one after another and receives offered files into the download folder. Its owner moves it
// to a worker thread right after making it and keeps that thread's event loop running until the
// transferor is gone; the public operations may be called from any thread.
class FileTransferor : public QObject {
    Q_OBJECT
public:
    // The timer ticks every kTickMs; a direction without traffic for kTimeoutTicks ticks fails.
    static constexpr int kTickMs = 500;
    static constexpr uint32_t kTimeoutTicks = 20;
    // Attempts at a free temporary name before a received file is given up.
    static constexpr int kTemporaryNameAttempts = 40;
    // Attempts at a free final name ("name (n).ext") before the file stays under its temporary name.
    static constexpr int kFinalNameAttempts = 1000;

    explicit FileTransferor(int pc);
    ~FileTransferor() override;

    // Queues a file to send; it starts when the files before it have ended.
    void addTask(const QString &filePath);
    // Abandons the current send and receive without telling the peer; the queue keeps its entries
    // and resumes with the next addTask().
    void postStopTask();
    // True while a send or a receive is in progress.
    bool isRunning() const;
    // From now on offers of files from the peer are refused unanswered (a host takes no files).
    void refuseFiles() { acceptsFiles_ = false; }

    int peerConnection() const { return pc_; }
    QString saveFolder() const { return saveFolder_; }

    // The process-wide progress throttle: true for values above 99 and for every 51st other value.
    static bool passProgress(int value);

signals:
    void sigProgressChanged(int value);
    void sigTransferBegin();
    // path is the queued path for failures before a send starts, otherwise the file name.
    void sigTransferFail(QString path, QString error);
    // A received file is complete and stored under filePath (which may be a numbered free name).
    void sigFileSaved(QString filePath);
    // The files of a batch are saved in folder, which the user may want to see now: once the
    // batch has been quiet for a moment, or as the transferor goes. Showing it is the owner's
    // business.
    void sigDownloadFolderReady(QString folder);

private slots:
    void timerCheckRunning();

private:
    Q_INVOKABLE void startTimer();
    Q_INVOKABLE void stopTimer();
    Q_INVOKABLE void onCtrl(std::shared_ptr<DataPackage> package);
    Q_INVOKABLE void onData(std::shared_ptr<DataPackage> package);
    Q_INVOKABLE void executeTask();
    Q_INVOKABLE void stopTask();

    struct Slot;
    static void onDataFromDataChannel(uint8_t *buffer, int length, void *userData);
    void receiveMessage(uint8_t *buffer, int length);
    Slot *slotOf(const std::shared_ptr<DataPackage> &package);
    void releaseSlot(Slot *slot);

    void executeTaskLocked();
    void handleSendSide(const transferprotocol::ControlMessage &message);
    void handleReceiveSide(const transferprotocol::ControlMessage &message);
    bool sendControl(const char *type, const char *data, const std::string &name, uint32_t length);
    void sendNextChunk();
    void endSend();
    void failSend(const QString &error);
    void reportProgress(int value);
    static int percent(uint32_t done, uint32_t length);

    bool openReceiveFile();
    bool storeChunk(const uint8_t *chunk, uint32_t n);
    bool finishReceive();
    void abandonReceive();
    void failReceive(const QString &error);
    // Gives up the file being received and tells the sender so.
    void giveUpReceive(const QString &error);
    void reportSaveFolder();

    void runInWorker(const std::function<void()> &work);
    void shutDown();

    static constexpr int kSlotCount = 4;
    struct Slot {
        std::shared_ptr<DataPackage> package;
        uint32_t length = 0;
        bool busy = false;
    };

    enum class SendPhase { Idle, Offered, Sending, Completing };

    const int pc_;
    QString saveFolder_;
    std::shared_ptr<QTimer> checkTimer_;
    QMetaObject::Connection finishedConnection_;

    std::deque<QString> tasks_;
    std::mutex taskLock_;
    bool busy_ = false;     // guarded by taskLock_
    bool closing_ = false;  // guarded by taskLock_

    std::shared_ptr<QFile> inputFile_;
    std::shared_ptr<QFile> outputFile_;

    std::shared_ptr<DataPackage> sendBuffer_;
    // Control packages have their own buffer so that an answer never overwrites a data package
    // that may still have to be sent again.
    std::shared_ptr<DataPackage> controlBuffer_;
    std::shared_ptr<DataPackage> receiveBuffer_;
    std::array<Slot, kSlotCount> dispatch_;
    std::mutex dataLock_;

    // Sending side.
    SendPhase sendPhase_ = SendPhase::Idle;
    std::string sendName_;
    uint32_t sendLength_ = 0;
    uint32_t sent_ = 0;
    uint32_t lastChunk_ = 0;
    uint32_t repeatCount_ = 0;

    // Receiving side.
    std::string receiveName_;  // as offered, echoed in the answers
    QString diskName_;         // reduced to a plain file name
    QString finalPath_;
    QString temporaryPath_;
    QString tmpSuffix_;
    uint32_t receiveLength_ = 0;
    uint32_t received_ = 0;
    uint32_t mismatchCount_ = 0;
    bool folderPending_ = false;  // a file was saved since the folder was last reported
    uint32_t folderQuietTicks_ = 0;

    std::atomic<uint32_t> receiveCounter_{0};
    std::atomic<uint32_t> sendCounter_{0};
    std::atomic<bool> acceptsFiles_{true};
};
