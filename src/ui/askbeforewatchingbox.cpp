#include "ui/askbeforewatchingbox.h"

#include <QSettings>

namespace {

const char *const kKey = "share/askBeforeWatching";

QSettings settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zushare"),
                     QStringLiteral("zushare"));
}

}  // namespace

AskBeforeWatchingBox::AskBeforeWatchingBox(QWidget *parent)
    : QCheckBox(QStringLiteral("观看前先询问我"), parent) {
    setObjectName(QStringLiteral("check_admit"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setToolTip(
        QStringLiteral("开启后，每位观众要经你允许才能看到屏幕和收到文件；\n"
                       "关闭时，局域网内找到此共享的任何人都能观看。"));
    setChecked(stored());
    connect(this, &QCheckBox::clicked, this, &AskBeforeWatchingBox::store);
}

bool AskBeforeWatchingBox::stored() {
    return settings().value(kKey, false).toBool();
}

void AskBeforeWatchingBox::store(bool ask) {
    settings().setValue(kKey, ask);
}

void AskBeforeWatchingBox::showEvent(QShowEvent *event) {
    // Another page's box may have changed the choice while this one was hidden.
    setChecked(stored());
    QCheckBox::showEvent(event);
}
