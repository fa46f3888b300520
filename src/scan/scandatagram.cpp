#include "scan/scandatagram.h"

#include <QTextCodec>
#include <QUuid>

#include "core/jsontext.h"

const char *const ScanDatagram::kClientType = "zu_screen_share_client_broadcast";
const char *const ScanDatagram::kServerType = "zu_screen_share_server_broadcast";

QByteArray ScanDatagram::encode(const QString &type, const QString &id) {
    Json::Value root(Json::objectValue);
    root["msg_id"] = id.toStdString();
    root["msg_type"] = type.toStdString();
    return QByteArray::fromStdString(jsontext::write(root));
}

static bool refuse(QString *why, const char *reason) {
    if (why) {
        *why = QString::fromLatin1(reason);
    }
    return false;
}

bool ScanDatagram::parse(const QByteArray &bytes, ScanDatagram &out, QString *why) {
    out = ScanDatagram();
    if (bytes.size() > kMaxSize) {
        return refuse(why, "too large");
    }
    QTextCodec *utf8 = QTextCodec::codecForMib(106);
    QTextCodec::ConverterState state;
    utf8->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0) {
        return refuse(why, "not UTF-8");
    }
    Json::Value root;
    if (!jsontext::parse(bytes.constData(), bytes.constData() + bytes.size(), root)) {
        return refuse(why, "not JSON");
    }
    if (!root.isObject()) {
        return refuse(why, "not an object");
    }
    const Json::Value &type = root["msg_type"];
    if (!type.isString()) {
        return refuse(why, "no msg_type");
    }
    out.hasMsgType = true;
    out.msgType = QString::fromStdString(type.asString());
    const Json::Value &id = root["msg_id"];
    if (id.isString()) {
        out.hasMsgId = true;
        out.msgId = QString::fromStdString(id.asString());
    }
    return true;
}

QString ScanDatagram::newId() {
    return QUuid::createUuid().toString(QUuid::WithBraces);
}
