#include "scan/scannetwork.h"

#include <QNetworkInterface>

// The IPv4 entries with a broadcast address on every interface that is up, can broadcast and is not
// loopback.
static QList<QNetworkAddressEntry> broadcastEntries() {
    QList<QNetworkAddressEntry> result;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::CanBroadcast) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !entry.broadcast().isNull())
                result.append(entry);
        }
    }
    return result;
}

QList<QHostAddress> ScanNetwork::directedBroadcasts() {
    QList<QHostAddress> result;
    const QList<QNetworkAddressEntry> entries = broadcastEntries();
    for (const QNetworkAddressEntry &entry : entries) {
        if (!result.contains(entry.broadcast()))
            result.append(entry.broadcast());
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
    const QList<QNetworkAddressEntry> entries = broadcastEntries();
    for (const QNetworkAddressEntry &entry : entries) {
        if (from.isInSubnet(entry.ip(), entry.prefixLength()))
            return entry.broadcast();
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
