#pragma once

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

    std::atomic<quint16> m_port{0};
    std::shared_ptr<QThread> m_thread;
    std::shared_ptr<QUdpSocket> m_socket;
    QString m_id;
    std::atomic<bool> m_listening{false};
    // Counts finished stops, so that destruction knows its own stop has run after anything queued before it.
    std::atomic<unsigned> m_stops{0};
};
