#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QUdpSocket;

// The scanner's socket and sweeps, on the scanner's own thread; ScanClient forwards to it.
class ScanClientWorker : public QObject {
    Q_OBJECT
public:
    ScanClientWorker();
    ~ScanClientWorker() override;

    void startScan();
    void stopScan();
    void refresh();

signals:
    void sigShareListRefreshed(QStringList hosts);

private:
    void processPendingDatagrams();

    std::unique_ptr<QUdpSocket> socket_;
    bool scanning_ = false;
    QString id_;
    QStringList hosts_;
};
