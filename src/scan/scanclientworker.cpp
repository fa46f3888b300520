#include "scan/scanclientworker.h"

#include <QTimer>
#include <QUdpSocket>

#include "core/logger.h"
#include "core/refusallog.h"
#include "scan/scanclient.h"
#include "scan/scandatagram.h"
#include "scan/scanlog.h"
#include "scan/scannetwork.h"

ScanClientWorker::ScanClientWorker() = default;

ScanClientWorker::~ScanClientWorker() = default;

void ScanClientWorker::startScan() {
    socket_ = std::make_unique<QUdpSocket>();
    for (quint16 port = ScanClient::kFirstPort; port <= ScanClient::kLastPort; ++port) {
        if (socket_->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress)) {
            connect(socket_.get(), &QUdpSocket::readyRead, this, &ScanClientWorker::processPendingDatagrams);
            g_logger->info("scan client bound udp port {}", port);
            scanning_ = true;
            refresh();
            return;
        }
    }
    g_logger->warn("scan client found no free udp port from {} to {}", ScanClient::kFirstPort,
                   ScanClient::kLastPort);
    socket_.reset();
}

void ScanClientWorker::stopScan() {
    scanning_ = false;
    socket_.reset();
}

void ScanClientWorker::refresh() {
    if (!scanning_) {
        return;
    }
    hosts_.clear();
    // A restart that found no free port leaves the sweep on but without a socket.
    if (socket_) {
        id_ = ScanDatagram::newId();
        const QByteArray query = ScanDatagram::encode(QLatin1String(ScanDatagram::kClientType), id_);
        const QList<QHostAddress> targets =
            ScanNetwork::withLimitedBroadcast(ScanNetwork::directedBroadcasts());
        for (const QHostAddress &to : targets) {
            if (socket_->writeDatagram(query, to, ScanClient::kServerPort) < 0) {
                qCDebug(lcScan) << "scan client send to" << to.toString()
                                << "failed:" << socket_->errorString();
            }
        }
    }
    QTimer::singleShot(ScanClient::kEmptyListMs, this, [this] {
        if (hosts_.isEmpty()) {
            emit sigShareListRefreshed(hosts_);
        }
    });
}

void ScanClientWorker::processPendingDatagrams() {
    while (socket_ && socket_->hasPendingDatagrams()) {
        const qint64 pending = socket_->pendingDatagramSize();
        QHostAddress source;
        quint16 sourcePort = 0;
        QByteArray bytes(static_cast<int>(qBound<qint64>(0, pending, ScanDatagram::kMaxSize + 1)), '\0');
        const qint64 got = socket_->readDatagram(bytes.data(), bytes.size(), &source, &sourcePort);
        if (got < 0) {
            break;
        }
        bytes.resize(static_cast<int>(got));
        qCDebug(lcScan) << "scan client got" << bytes << "from" << source.toString() << sourcePort;

        ScanDatagram datagram;
        QString why;
        if (pending > ScanDatagram::kMaxSize) {
            qCDebug(lcScan) << "scan client ignores datagram: too large," << pending << "bytes";
            continue;
        }
        if (!ScanDatagram::parse(bytes, datagram, &why)) {
            qCDebug(lcScan) << "scan client ignores datagram:" << why;
            continue;
        }
        if (!datagram.isServer() || !datagram.hasMsgId || datagram.msgId == id_) {
            continue;
        }
        const QString host = QHostAddress(source.toIPv4Address()).toString();
        if (!hosts_.contains(host)) {
            if (hosts_.size() >= ScanClient::kMaxHosts) {
                logRefusal("scan: too many hosts", "scan client: more than " +
                                                       std::to_string(ScanClient::kMaxHosts) +
                                                       " hosts answered; the others are not listed");
                continue;
            }
            hosts_.append(host);
        }
        emit sigShareListRefreshed(hosts_);
    }
}
