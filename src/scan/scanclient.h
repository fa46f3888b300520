#pragma once

#include <QObject>
#include <QStringList>
#include <QThread>

class ScanClientWorker;

// The attendee's discovery scanner: broadcasts a query and lists the addresses of the hosts that answer.
// Its socket lives on a thread the object owns; the object and its signal stay in the creator's thread.
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

private:
    QThread thread_;
    ScanClientWorker *worker_;
};
