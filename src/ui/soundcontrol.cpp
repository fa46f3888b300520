#include "ui/soundcontrol.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QSlider>

#include "core/usersettings.h"
#include "ui/pagestyle.h"

const char *const SoundControl::kVolumeKey = "watch/soundVolume";
const char *const SoundControl::kMutedKey = "watch/soundMuted";

SoundControl::SoundControl(QWidget *parent) : QWidget(parent) {
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    btn_mute = new QPushButton(this);
    btn_mute->setObjectName(QStringLiteral("btn_mute"));
    btn_mute->setCheckable(true);
    btn_mute->setStyleSheet(pagestyle::blueButton());
    pagestyle::addToolButtons(row, {btn_mute});
    slider_volume = new QSlider(Qt::Horizontal, this);
    slider_volume->setObjectName(QStringLiteral("slider_volume"));
    slider_volume->setRange(0, 100);
    slider_volume->setFixedWidth(96);
    slider_volume->setCursor(Qt::PointingHandCursor);
    slider_volume->setToolTip(tr("音量"));
    slider_volume->setStyleSheet(pagestyle::volumeSlider());
    row->addWidget(slider_volume);

    QSettings settings = userSettings();
    slider_volume->setValue(qBound(0, settings.value(kVolumeKey, 100).toInt(), 100));
    btn_mute->setChecked(settings.value(kMutedKey, false).toBool());
    showMuted();
    connect(btn_mute, &QPushButton::toggled, this, &SoundControl::onChanged);
    connect(slider_volume, &QSlider::valueChanged, this, &SoundControl::onChanged);
    connect(slider_volume, &QSlider::sliderReleased, this, &SoundControl::store);
}

double SoundControl::volume() const {
    return slider_volume->value() / 100.0;
}

bool SoundControl::muted() const {
    return btn_mute->isChecked();
}

void SoundControl::onChanged() {
    showMuted();
    // A drag is stored once, when it is let go.
    if (!slider_volume->isSliderDown())
        store();
    emit sigChanged(volume(), muted());
}

void SoundControl::showMuted() {
    btn_mute->setText(muted() ? tr("取消静音") : tr("静音"));
    btn_mute->setToolTip(muted() ? tr("听主持人共享的声音") : tr("不听主持人共享的声音"));
}

void SoundControl::store() {
    QSettings settings = userSettings();
    settings.setValue(kVolumeKey, slider_volume->value());
    settings.setValue(kMutedKey, muted());
}
