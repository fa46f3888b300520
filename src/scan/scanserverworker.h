#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <memory>

class QHostAddress;
class QUdpSocket;

// The responder's socket, on the responder's own thread; ScanServer forwards to it.
class ScanServerWorker : public QObject {
    Q_OBJECT
public:
    ScanServerWorker();
    ~ScanServerWorker() override;

    void startListening(quint16 port);
    void stopListening();

signals:
    void sigListeningSuccess();
    void sigListeningFail();
    void sigStop();
    void siglocalIp(QString ip);

private:
    void processPendingDatagrams();
    void send(const QByteArray &datagram, const QHostAddress &to, quint16 port);
    bool mayAnswer(const QHostAddress &source);

    std::unique_ptr<QUdpSocket> socket_;
    QString id_;
    struct Answered {
        qint64 second = 0;
        int count = 0;
    };
    QHash<quint32, Answered> answered_;
};
