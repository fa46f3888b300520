#include "report/reportform.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSysInfo>

ReportForm ReportForm::collect() {
    ReportForm form;
    const QDateTime now = QDateTime::currentDateTime();
    form.mac = firstHardwareAddress();
    form.computerName = QHostInfo::localHostName();
    const QString home = QDir::homePath();
    form.userName = home.mid(home.lastIndexOf(QLatin1Char('/')) + 1);
    form.time = localSeconds(now);
    form.osVersion = platformVersion();
    return form;
}

qint64 ReportForm::dayNumber(const QDateTime &localNow) {
    return QDate(2020, 1, 1).daysTo(localNow.date());
}

qint32 ReportForm::localSeconds(const QDateTime &localNow) {
    const QDateTime asUtc(localNow.date(), localNow.time(), Qt::UTC);
    return static_cast<qint32>(asUtc.toSecsSinceEpoch());
}

QString ReportForm::firstHardwareAddress() {
    static const QRegularExpression pattern(QStringLiteral("^([0-9A-F]{2}:){5}[0-9A-F]{2}$"));
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        // Loopback lists 00:00:00:00:00:00 here, which names no machine.
        if (iface.flags().testFlag(QNetworkInterface::IsLoopBack)) {
            continue;
        }
        const QString address = iface.hardwareAddress();
        if (pattern.match(address).hasMatch() && address != QLatin1String("00:00:00:00:00:00")) {
            return address;
        }
    }
    return {};
}

QString ReportForm::platformVersion() {
    return QSysInfo::productType() + QSysInfo::productVersion();
}

QByteArray ReportForm::queryText() const {
    const QString text = QStringLiteral("mac=") + mac + QStringLiteral("&version=") + version +
                         QStringLiteral("&computerName=") + computerName + QStringLiteral("&userName=") +
                         userName + QStringLiteral("&useState=") + useState + QStringLiteral("&type=") +
                         type + QStringLiteral("&content=") + content + QStringLiteral("&time=") +
                         QString::number(time);
    return text.toUtf8();
}

QByteArray ReportForm::sign() const {
    return QCryptographicHash::hash(queryText() + QByteArray(kSalt), QCryptographicHash::Md5).toHex();
}

QByteArray ReportForm::body() const {
    return queryText() + "&sign=" + sign() + "&osVersion=" + osVersion.toUtf8();
}
