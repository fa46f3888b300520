#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUdpSocket>
#include <atomic>
#include <memory>

// The attendee's discovery scanner: broadcasts a query and lists the addresses of the hosts that answer.
class ScanClient : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kFirstPort = 5680;
    static constexpr quint16 kLastPort = 5688;
    static constexpr quint16 kServerPort = 5679;
    static constexpr int kEmptyListMs = 1000;
    // A sweep lists at most this many hosts; each sweep starts afresh, so a host that no longer
    // answers is forgotten.
    static constexpr int kMaxHosts = 64;

    ScanClient();
    ~ScanClient() override;
    ScanClient(const ScanClient &) = delete;
    ScanClient &operator=(const ScanClient &) = delete;

    bool postStartScan();
    bool postStopScan();
    bool postRefresh();

signals:
    void sigShareListRefreshed(QStringList hosts);

private slots:
    void processPengingDatagram();

private:
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void startScan();
    Q_INVOKABLE void stopScan();

    std::shared_ptr<QThread> thread_;
    std::atomic<bool> scanning_{false};
    std::shared_ptr<QUdpSocket> socket_;
    QString id_;
    QStringList hosts_;
    std::atomic<unsigned> stops_{0};
};
