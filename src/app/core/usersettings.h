#pragma once

#include <QSettings>

// This user's choices that hold from one run to the next (the pages' switches, the sound, the
// desktop portal's remembered screen): ~/.config/zushare/zushare.ini.
inline QSettings userSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zushare"),
                     QStringLiteral("zushare"));
}
