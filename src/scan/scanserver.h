#pragma once

#include <QObject>
#include <QString>
#include <QThread>

class ScanServerWorker;

// The host's discovery responder: answers scanners' queries and finds the host's own LAN address
// by hearing its start-up announcement come back. Its socket lives on a thread the object owns; the
// object and its signals stay in the creator's thread.
class ScanServer : public QObject {
    Q_OBJECT
public:
    // Answers to one source address per second at most; more queries from it go unanswered, so a
    // forged source cannot turn the host into a broadcast amplifier.
    static constexpr int kAnswersPerSourcePerSecond = 10;

    ScanServer();
    ~ScanServer() override;
    ScanServer(const ScanServer &) = delete;
    ScanServer &operator=(const ScanServer &) = delete;

    bool postStartListening(quint16 port);
    bool postStopListening();

signals:
    void sigListeningSuccess();
    void sigListeningFail();
    void sigStop();
    void siglocalIp(QString ip);

private:
    QThread thread_;
    ScanServerWorker *worker_;
};
