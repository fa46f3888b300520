#pragma once

#include <QHostAddress>
#include <QList>

// Broadcast addresses besides 255.255.255.255, which Linux sends out by the default route only.
class ScanNetwork {
public:
    // The directed broadcast address of every IPv4 address on an interface that is up, can
    // broadcast and is not loopback, each once.
    static QList<QHostAddress> directedBroadcasts();
    // The directed broadcast of the local subnet that contains source, or a null address.
    static QHostAddress broadcastFor(const QHostAddress &source);
    // 255.255.255.255 first, then the given addresses that differ from it.
    static QList<QHostAddress> withLimitedBroadcast(const QList<QHostAddress> &others);
};
