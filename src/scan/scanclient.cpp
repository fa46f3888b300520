#include "scan/scanclient.h"

#include <QDebug>
#include <QSet>
#include <QTimer>

#include "core/logger.h"
#include "core/refusallog.h"
#include "scan/scandatagram.h"
#include "scan/scannetwork.h"

ScanClient::ScanClient() : thread_(std::make_shared<QThread>()) {
    thread_->setObjectName(QStringLiteral("ScanClient"));
    moveToThread(thread_.get());
    thread_->start(QThread::InheritPriority);
}

ScanClient::~ScanClient() {
    const unsigned stopsBefore = stops_.load();
    if (QMetaObject::invokeMethod(this, "stopScan", Qt::QueuedConnection)) {
        while (scanning_.load() || stops_.load() == stopsBefore) {
            QThread::msleep(1);
        }
    }
    thread_->exit(0);
    thread_->wait();
    hosts_.clear();
    id_.clear();
    socket_.reset();
}

bool ScanClient::postStartScan() {
    return QMetaObject::invokeMethod(this, "startScan", Qt::QueuedConnection);
}

bool ScanClient::postStopScan() {
    return QMetaObject::invokeMethod(this, "stopScan", Qt::QueuedConnection);
}

bool ScanClient::postRefresh() {
    return QMetaObject::invokeMethod(this, "refresh", Qt::QueuedConnection);
}

void ScanClient::startScan() {
    socket_ = std::make_shared<QUdpSocket>();
    for (quint16 port = kFirstPort; port <= kLastPort; ++port) {
        if (socket_->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress)) {
            connect(socket_.get(), &QUdpSocket::readyRead, this, &ScanClient::processPengingDatagram);
            g_logger->info("scan client bound udp port {}", port);
            scanning_ = true;
            refresh();
            return;
        }
    }
    g_logger->warn("scan client found no free udp port from {} to {}", kFirstPort, kLastPort);
    socket_.reset();
}

void ScanClient::stopScan() {
    scanning_ = false;
    if (socket_) {
        socket_->close();
        socket_.reset();
    }
    ++stops_;
}

void ScanClient::refresh() {
    if (!scanning_) {
        return;
    }
    hosts_.clear();
    if (socket_) {
        id_ = ScanDatagram::newId();
        const QByteArray query = ScanDatagram::encode(QLatin1String(ScanDatagram::kClientType), id_);
        for (const QHostAddress &to : ScanNetwork::withLimitedBroadcast(ScanNetwork::directedBroadcasts())) {
            if (socket_->writeDatagram(query, to, kServerPort) < 0) {
                qDebug() << "scan client send to" << to.toString() << "failed:" << socket_->errorString();
            }
        }
    }
    QTimer::singleShot(kEmptyListMs, this, [this] {
        if (hosts_.isEmpty()) {
            emit sigShareListRefreshed(hosts_);
        }
    });
}

void ScanClient::processPengingDatagram() {
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
        qDebug() << "from server datagram:" << bytes;
        qDebug() << "server_address:" << source.toString();
        qDebug() << "server  port:" << sourcePort;
        qDebug() << "server  datagram:" << bytes;

        ScanDatagram datagram;
        QString why;
        if (pending > ScanDatagram::kMaxSize) {
            qDebug() << "scan client ignores datagram: too large," << pending << "bytes";
            continue;
        }
        if (!ScanDatagram::parse(bytes, datagram, &why)) {
            qDebug() << "scan client ignores datagram:" << why;
            continue;
        }
        if (!datagram.isServer() || !datagram.hasMsgId || datagram.msgId == id_) {
            continue;
        }
        const QString host = QHostAddress(source.toIPv4Address()).toString();
        if (!hosts_.contains(host)) {
            if (hosts_.size() >= kMaxHosts) {
                logRefusal("scan: too many hosts", "scan client: more than " + std::to_string(kMaxHosts) +
                                                       " hosts answered; the others are not listed");
                continue;
            }
            hosts_.append(host);
        }
        emit sigShareListRefreshed(hosts_);
    }
}
