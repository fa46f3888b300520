#pragma once

#include <QSettings>

// This user's choices that hold from one run to the next: ~/.config/zushare/zushare.ini.
inline QSettings userSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zushare"),
                     QStringLiteral("zushare"));
}
