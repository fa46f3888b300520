#include "scan/scanserver.h"

#include <QDateTime>
#include <QDebug>
#include <QNetworkInterface>

#include "core/logger.h"
#include "core/refusallog.h"
#include "scan/scandatagram.h"
#include "scan/scannetwork.h"

ScanServer::ScanServer() : m_thread(std::make_shared<QThread>()) {
    m_thread->setObjectName(QStringLiteral("ScanServer"));
    moveToThread(m_thread.get());
    m_thread->start(QThread::InheritPriority);
}

ScanServer::~ScanServer() {
    const unsigned stopsBefore = m_stops.load();
    if (QMetaObject::invokeMethod(this, "stopListening", Qt::QueuedConnection)) {
        while (m_listening.load() || m_stops.load() == stopsBefore) {
            QThread::msleep(1);
        }
    }
    m_thread->exit(0);
    m_thread->wait();
    m_id.clear();
    m_socket.reset();
}

bool ScanServer::postStartListening(quint16 port) {
    m_port = port;
    return QMetaObject::invokeMethod(this, "startListening", Qt::QueuedConnection);
}

bool ScanServer::postStopListening() {
    return QMetaObject::invokeMethod(this, "stopListening", Qt::QueuedConnection);
}

void ScanServer::startListening() {
    m_socket = std::make_shared<QUdpSocket>();
    const quint16 port = m_port.load();
    if (!m_socket->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress)) {
        g_logger->warn("scan server cannot bind udp port {}: {}", port,
                       m_socket->errorString().toStdString());
        m_listening = false;
        emit sigListeningFail();
        return;
    }
    m_id = ScanDatagram::newId();
    connect(m_socket.get(), &QUdpSocket::readyRead, this, &ScanServer::processPengingDatagram);
    m_listening = true;
    emit sigListeningSuccess();
    send(ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), m_id),
         QHostAddress(QHostAddress::Broadcast), port);
}

void ScanServer::stopListening() {
    if (m_socket) {
        m_socket->close();
    }
    m_socket.reset();
    m_listening = false;
    ++m_stops;
    emit sigStop();
}

void ScanServer::send(const QByteArray &datagram, const QHostAddress &to, quint16 port) {
    if (m_socket->writeDatagram(datagram, to, port) < 0) {
        qDebug() << "scan server send to" << to.toString() << port << "failed:" << m_socket->errorString();
    }
}

void ScanServer::processPengingDatagram() {
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const qint64 pending = m_socket->pendingDatagramSize();
        QHostAddress source;
        quint16 sourcePort = 0;
        if (pending > ScanDatagram::kMaxSize) {
            // Read only a little of it: the rest is discarded with the datagram.
            QByteArray head(64, '\0');
            m_socket->readDatagram(head.data(), head.size(), &source, &sourcePort);
            qDebug() << "datagram:" << head << "... (" << pending << "bytes, refused)";
            qDebug() << "client_address:" << source.toString();
            qDebug() << "recPort:" << sourcePort;
            continue;
        }
        QByteArray bytes(static_cast<int>(qMax<qint64>(pending, 0)), '\0');
        const qint64 got = m_socket->readDatagram(bytes.data(), bytes.size(), &source, &sourcePort);
        if (got < 0) {
            break;
        }
        bytes.resize(static_cast<int>(got));
        qDebug() << "datagram:" << bytes;
        qDebug() << "client_address:" << source.toString();
        qDebug() << "recPort:" << sourcePort;

        ScanDatagram datagram;
        QString why;
        if (!ScanDatagram::parse(bytes, datagram, &why)) {
            qDebug() << "scan server ignores datagram:" << why;
            continue;
        }
        if (datagram.isQuery()) {
            if (!mayAnswer(source)) {
                logRefusal("scan: query rate",
                           "scan server: more than " + std::to_string(kAnswersPerSourcePerSecond) +
                               " queries a second from " + source.toString().toStdString() +
                               ", the rest go unanswered");
                continue;
            }
            const QByteArray answer = ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), m_id);
            const auto targets = ScanNetwork::withLimitedBroadcast({ScanNetwork::broadcastFor(source)});
            for (const QHostAddress &to : targets) {
                send(answer, to, sourcePort);
            }
        } else if (datagram.isServer() && datagram.hasMsgId && datagram.msgId == m_id) {
            // Our own announcement coming back names our address; from any other machine it is a
            // forgery that would send phones and attendees elsewhere.
            const QHostAddress from(source.toIPv4Address());
            if (QNetworkInterface::allAddresses().contains(from)) {
                emit siglocalIp(from.toString());
            } else {
                logRefusal(
                    "scan: forged announcement",
                    "scan server: ignored an announcement of our id from " + from.toString().toStdString());
            }
        }
    }
}

bool ScanServer::mayAnswer(const QHostAddress &source) {
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (m_answered.size() > 4096) {
        // Forged sources are unbounded in number; the table is not.
        m_answered.clear();
    }
    Answered &answered = m_answered[source.toIPv4Address()];
    if (answered.second != second) {
        answered = Answered{second, 0};
    }
    return ++answered.count <= kAnswersPerSourcePerSecond;
}
