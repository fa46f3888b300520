#include "ui/settingcheckbox.h"

#include "core/usersettings.h"

const char *const SettingCheckBox::kAskBeforeWatching = "share/askBeforeWatching";
const char *const SettingCheckBox::kShareSound = "share/shareSound";

SettingCheckBox::SettingCheckBox(const char *key, const QString &text, QWidget *parent)
    : QCheckBox(text, parent), key_(key) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    // A crowded tool row shrinks its stretch, never the switch's text.
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    setChecked(stored(key));
    connect(this, &QCheckBox::clicked, this, [this](bool on) { store(key_, on); });
}

SettingCheckBox *SettingCheckBox::askBeforeWatching(QWidget *parent) {
    auto *box = new SettingCheckBox(kAskBeforeWatching, tr("观看前先询问我"), parent);
    box->setObjectName(QStringLiteral("check_admit"));
    box->setToolTip(
        tr("开启后，每位观众要经你允许才能看到屏幕和收到文件；\n"
           "关闭时，局域网内找到此共享的任何人都能观看。"));
    return box;
}

SettingCheckBox *SettingCheckBox::shareSound(QWidget *parent) {
    auto *box = new SettingCheckBox(kShareSound, tr("共享声音"), parent);
    box->setObjectName(QStringLiteral("check_sound"));
    box->setToolTip(tr("把电脑正在播放的声音一起共享给观众；共享中可随时开关。"));
    return box;
}

bool SettingCheckBox::stored(const char *key) {
    return userSettings().value(key, false).toBool();
}

void SettingCheckBox::store(const char *key, bool on) {
    auto settings = userSettings();
    settings.setValue(key, on);
}

void SettingCheckBox::showEvent(QShowEvent *event) {
    // Another page's box may have changed the choice while this one was hidden.
    setChecked(stored(key_));
    QCheckBox::showEvent(event);
}
