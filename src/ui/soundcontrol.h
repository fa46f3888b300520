#pragma once

#include <QWidget>

class QPushButton;
class QSlider;

// The watch page's sound: a mute button and the volume, both kept in the user's settings so the
// next share sounds as this one did.
class SoundControl : public QWidget {
    Q_OBJECT

public:
    static const char *const kVolumeKey;
    static const char *const kMutedKey;

    explicit SoundControl(QWidget *parent = nullptr);

    double volume() const;  // 0 to 1
    bool muted() const;

signals:
    void sigChanged(double volume, bool muted);

private:
    void onChanged();
    void showMuted();
    void store();

    QPushButton *btn_mute;
    QSlider *slider_volume;
};
