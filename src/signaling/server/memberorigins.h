#pragma once

#include <QHash>
#include <QString>
#include <mutex>

namespace signaling {

// Where each member's connection comes from, as the server saw it (never as the member says):
// written on the server's thread, read by the host's session manager on its own.
class MemberOrigins {
public:
    struct Origin {
        QString address;       // IPv4 dotted, or the address as the socket gives it
        bool browser = false;  // the WebSocket handshake came with an Origin header, as browsers send
    };

    void set(const QString &id, const Origin &origin);
    void remove(const QString &id);
    // The member's origin, or an empty one for an unknown member.
    Origin find(const QString &id) const;

private:
    mutable std::mutex mutex_;
    QHash<QString, Origin> origins_;
};

}  // namespace signaling
