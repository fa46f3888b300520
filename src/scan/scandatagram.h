#pragma once

#include <QByteArray>
#include <QString>

// One discovery datagram: a scanner's query or a responder's announcement and answer.
class ScanDatagram {
public:
    static const char *const kClientType;  // "zu_screen_share_client_broadcast"
    static const char *const kServerType;  // "zu_screen_share_server_broadcast"
    // A valid datagram is about a hundred bytes; anything far larger is refused unread.
    static constexpr int kMaxSize = 1024;

    QString msgType;
    QString msgId;
    bool hasMsgType = false;
    bool hasMsgId = false;

    bool isQuery() const { return hasMsgType && msgType == QLatin1String(kClientType); }
    bool isServer() const { return hasMsgType && msgType == QLatin1String(kServerType); }

    // Compact JSON with sorted keys and a line feed.
    static QByteArray encode(const QString &type, const QString &id);
    // False, with the reason in *why, for anything that is not a UTF-8 JSON object with a string
    // "msg_type"; a missing or non-string "msg_id" only leaves hasMsgId false.
    static bool parse(const QByteArray &bytes, ScanDatagram &out, QString *why = nullptr);
    // A fresh random id in braced form, 38 characters.
    static QString newId();
};
