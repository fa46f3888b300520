#include "scan/scannetwork.h"

#include <QNetworkInterface>

static bool usable(const QNetworkInterface &iface) {
    const auto flags = iface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::CanBroadcast) &&
           !flags.testFlag(QNetworkInterface::IsLoopBack);
}

QList<QHostAddress> ScanNetwork::directedBroadcasts() {
    QList<QHostAddress> result;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        if (!usable(iface)) {
            continue;
        }
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const QHostAddress broadcast = entry.broadcast();
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !broadcast.isNull() &&
                !result.contains(broadcast)) {
                result.append(broadcast);
            }
        }
    }
    return result;
}

QHostAddress ScanNetwork::broadcastFor(const QHostAddress &source) {
    bool isV4 = false;
    const quint32 v4 = source.toIPv4Address(&isV4);
    if (!isV4) {
        return {};
    }
    const QHostAddress from(v4);
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        if (!usable(iface)) {
            continue;
        }
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !entry.broadcast().isNull() &&
                from.isInSubnet(entry.ip(), entry.prefixLength())) {
                return entry.broadcast();
            }
        }
    }
    return {};
}

QList<QHostAddress> ScanNetwork::withLimitedBroadcast(const QList<QHostAddress> &others) {
    QList<QHostAddress> result{QHostAddress(QHostAddress::Broadcast)};
    for (const QHostAddress &address : others) {
        if (!address.isNull() && !result.contains(address)) {
            result.append(address);
        }
    }
    return result;
}
