#include "scan/scanserverworker.h"

#include <QDateTime>
#include <QNetworkInterface>
#include <QUdpSocket>

#include "core/logger.h"
#include "core/refusallog.h"
#include "scan/scandatagram.h"
#include "scan/scanlog.h"
#include "scan/scannetwork.h"
#include "scan/scanserver.h"

ScanServerWorker::ScanServerWorker() = default;

ScanServerWorker::~ScanServerWorker() = default;

void ScanServerWorker::startListening(quint16 port) {
    socket_ = std::make_unique<QUdpSocket>();
    if (!socket_->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress)) {
        g_logger->warn("scan server cannot bind udp port {}: {}", port, socket_->errorString().toStdString());
        emit sigListeningFail();
        return;
    }
    id_ = ScanDatagram::newId();
    connect(socket_.get(), &QUdpSocket::readyRead, this, &ScanServerWorker::processPendingDatagrams);
    emit sigListeningSuccess();
    send(ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), id_),
         QHostAddress(QHostAddress::Broadcast), port);
}

void ScanServerWorker::stopListening() {
    socket_.reset();
    emit sigStop();
}

void ScanServerWorker::send(const QByteArray &datagram, const QHostAddress &to, quint16 port) {
    if (socket_->writeDatagram(datagram, to, port) < 0) {
        qCDebug(lcScan) << "scan server send to" << to.toString() << port
                        << "failed:" << socket_->errorString();
    }
}

void ScanServerWorker::processPendingDatagrams() {
    while (socket_ && socket_->hasPendingDatagrams()) {
        const qint64 pending = socket_->pendingDatagramSize();
        QHostAddress source;
        quint16 sourcePort = 0;
        if (pending > ScanDatagram::kMaxSize) {
            // Read only a little of it: the rest is discarded with the datagram.
            QByteArray head(64, '\0');
            socket_->readDatagram(head.data(), head.size(), &source, &sourcePort);
            qCDebug(lcScan) << "scan server refused" << head << "... (" << pending << "bytes) from"
                            << source.toString() << sourcePort;
            continue;
        }
        QByteArray bytes(static_cast<int>(qMax<qint64>(pending, 0)), '\0');
        const qint64 got = socket_->readDatagram(bytes.data(), bytes.size(), &source, &sourcePort);
        if (got < 0) {
            break;
        }
        bytes.resize(static_cast<int>(got));
        qCDebug(lcScan) << "scan server got" << bytes << "from" << source.toString() << sourcePort;

        ScanDatagram datagram;
        QString why;
        if (!ScanDatagram::parse(bytes, datagram, &why)) {
            qCDebug(lcScan) << "scan server ignores datagram:" << why;
            continue;
        }
        if (datagram.isQuery()) {
            if (!mayAnswer(source)) {
                logRefusal("scan: query rate", "scan server: more than " +
                                                   std::to_string(ScanServer::kAnswersPerSourcePerSecond) +
                                                   " queries a second from " +
                                                   source.toString().toStdString() +
                                                   ", the rest go unanswered");
                continue;
            }
            const QByteArray answer = ScanDatagram::encode(QLatin1String(ScanDatagram::kServerType), id_);
            const auto targets = ScanNetwork::withLimitedBroadcast({ScanNetwork::broadcastFor(source)});
            for (const QHostAddress &to : targets) {
                send(answer, to, sourcePort);
            }
        } else if (datagram.isServer() && datagram.hasMsgId && datagram.msgId == id_) {
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

bool ScanServerWorker::mayAnswer(const QHostAddress &source) {
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (answered_.size() > 4096) {
        // Forged sources are unbounded in number; the table is not.
        answered_.clear();
    }
    Answered &answered = answered_[source.toIPv4Address()];
    if (answered.second != second) {
        answered = Answered{second, 0};
    }
    return ++answered.count <= ScanServer::kAnswersPerSourcePerSecond;
}
