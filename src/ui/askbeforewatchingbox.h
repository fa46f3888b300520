#pragma once

#include <QCheckBox>

// The host's "ask before someone watches" switch, kept in the program's settings: every such box
// shows the stored choice when it appears and stores what the user clicks, so the start page and
// the host page agree and the choice holds in the next run.
class AskBeforeWatchingBox : public QCheckBox {
    Q_OBJECT

public:
    explicit AskBeforeWatchingBox(QWidget *parent = nullptr);

    static bool stored();
    static void store(bool ask);

protected:
    void showEvent(QShowEvent *event) override;
};
