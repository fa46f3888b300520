#pragma once

#include <QCheckBox>

// A host's switch kept in the program's settings: every box of one key shows the stored choice
// when it appears and stores what the user clicks, so the start page and the host page agree and
// the choice holds in the next run.
class SettingCheckBox : public QCheckBox {
    Q_OBJECT

public:
    // "Ask before someone watches" (off unless turned on).
    static const char *const kAskBeforeWatching;
    // Share the computer's sound with attendees that ask for it (off unless turned on).
    static const char *const kShareSound;

    SettingCheckBox(const char *key, const QString &text, QWidget *parent = nullptr);
    // The box of a known key, with its text, tool tip and object name.
    static SettingCheckBox *askBeforeWatching(QWidget *parent);
    static SettingCheckBox *shareSound(QWidget *parent);

    static bool stored(const char *key);
    static void store(const char *key, bool on);

protected:
    void showEvent(QShowEvent *event) override;

private:
    const char *key_;
};
