#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The values of one usage report and the signed form body made from them.
class ReportForm {
public:
    static constexpr const char *kSalt = "lapto.rn$#@_()";

    QString mac;
    QString version = QStringLiteral("1.0.0");
    QString computerName;
    QString userName;
    QString useState = QStringLiteral("1");
    QString type = QStringLiteral("0");
    QString content = QStringLiteral("zuScreenShare");
    qint32 time = 0;
    QString osVersion;

    // Reads the machine: network interfaces, host name, home folder, clock and platform.
    static ReportForm collect();

    // Whole days from 2020-01-01 to the local date of the given moment.
    static qint64 dayNumber(const QDateTime &localNow);
    // Whole seconds from 1970-01-01 00:00 local time to the given moment.
    static qint32 localSeconds(const QDateTime &localNow);
    // The first interface address of the form "XX:XX:XX:XX:XX:XX" that names real hardware.
    static QString firstHardwareAddress();
    // The platform actually running, such as "debian12".
    static QString platformVersion();

    // "mac=...&version=...&computerName=...&userName=...&useState=1&type=0&content=...&time=...",
    // values inserted as UTF-8 without percent-encoding.
    QByteArray queryText() const;
    // Lower-case hexadecimal MD5 of the query text followed by the salt.
    QByteArray sign() const;
    // The query text, then "&sign=" and "&osVersion=".
    QByteArray body() const;
};
