#include "scan/scanclient.h"

#include <QDebug>
#include <QSet>
#include <QTimer>

#include "core/logger.h"
#include "core/refusallog.h"
#include "scan/scandatagram.h"
#include "scan/scannetwork.h"

ScanClient::ScanClient() : m_thread(std::make_shared<QThread>()) {
    m_thread->setObjectName(QStringLiteral("ScanClient"));
    moveToThread(m_thread.get());
    m_thread->start(QThread::InheritPriority);
}

ScanClient::~ScanClient() {
    const unsigned stopsBefore = m_stops.load();
    if (QMetaObject::invokeMethod(this, "stopScan", Qt::QueuedConnection)) {
        while (m_scanning.load() || m_stops.load() == stopsBefore) {
            QThread::msleep(1);
        }
    }
    m_thread->exit(0);
    m_thread->wait();
    m_hosts.clear();
    m_id.clear();
    m_socket.reset();
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
    m_socket = std::make_shared<QUdpSocket>();
    for (quint16 port = kFirstPort; port <= kLastPort; ++port) {
        if (m_socket->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress)) {
            connect(m_socket.get(), &QUdpSocket::readyRead, this, &ScanClient::processPengingDatagram);
            g_logger->info("scan client bound udp port {}", port);
            m_scanning = true;
            refresh();
            return;
        }
    }
    g_logger->warn("scan client found no free udp port from {} to {}", kFirstPort, kLastPort);
    m_socket.reset();
}

void ScanClient::stopScan() {
    m_scanning = false;
    if (m_socket) {
        m_socket->close();
        m_socket.reset();
    }
    ++m_stops;
}

void ScanClient::refresh() {
    if (!m_scanning) {
        return;
    }
    m_hosts.clear();
    if (m_socket) {
        m_id = ScanDatagram::newId();
        const QByteArray query = ScanDatagram::encode(QLatin1String(ScanDatagram::kClientType), m_id);
        for (const QHostAddress &to : ScanNetwork::withLimitedBroadcast(ScanNetwork::directedBroadcasts())) {
            if (m_socket->writeDatagram(query, to, kServerPort) < 0) {
                qDebug() << "scan client send to" << to.toString() << "failed:" << m_socket->errorString();
            }
        }
    }
    QTimer::singleShot(kEmptyListMs, this, [this] {
        if (m_hosts.isEmpty()) {
            emit sigShareListRefreshed(m_hosts);
        }
    });
}

void ScanClient::processPengingDatagram() {
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const qint64 pending = m_socket->pendingDatagramSize();
        QHostAddress source;
        quint16 sourcePort = 0;
        QByteArray bytes(static_cast<int>(qBound<qint64>(0, pending, ScanDatagram::kMaxSize + 1)), '\0');
        const qint64 got = m_socket->readDatagram(bytes.data(), bytes.size(), &source, &sourcePort);
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
        if (!datagram.isServer() || !datagram.hasMsgId || datagram.msgId == m_id) {
            continue;
        }
        const QString host = QHostAddress(source.toIPv4Address()).toString();
        if (!m_hosts.contains(host)) {
            if (m_hosts.size() >= kMaxHosts) {
                logRefusal("scan: too many hosts", "scan client: more than " + std::to_string(kMaxHosts) +
                                                       " hosts answered; the others are not listed");
                continue;
            }
            m_hosts.append(host);
        }
        emit sigShareListRefreshed(m_hosts);
    }
}
