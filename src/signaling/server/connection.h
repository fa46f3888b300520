#pragma once

#include <QString>

class QWebSocket;

namespace signaling {

// One accepted participant in the server's connection table.
struct Connection {
    QString id;
    QString ownerId;  // equals id for the owner itself
    QWebSocket *socket = nullptr;
    QString shareId;
    QString nickname;
    int devicetype = 0;  // 1 mobile, 0 other
};

}  // namespace signaling
