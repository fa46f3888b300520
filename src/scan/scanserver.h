#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QThread>
#include <QUdpSocket>
#include <atomic>
#include <memory>

// The host's discovery responder: answers scanners' queries and finds the host's own LAN address
// by hearing its start-up announcement come back.
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

private slots:
    void processPengingDatagram();

private:
    Q_INVOKABLE void startListening();
    Q_INVOKABLE void stopListening();
    void send(const QByteArray &datagram, const QHostAddress &to, quint16 port);
    bool mayAnswer(const QHostAddress &source);

    std::atomic<quint16> port_{0};
    std::shared_ptr<QThread> thread_;
    std::shared_ptr<QUdpSocket> socket_;
    QString id_;
    struct Answered {
        qint64 second = 0;
        int count = 0;
    };
    QHash<quint32, Answered> answered_;
    std::atomic<bool> listening_{false};
    // Counts finished stops, so that destruction knows its own stop has run after anything queued before it.
    std::atomic<unsigned> stops_{0};
};
