#pragma once

#include <QPushButton>

// The start page's large create button: grows while the mouse is over it, always flush with the
// right edge of its parent and centred vertically.
class CreateShareButton : public QPushButton {
    Q_OBJECT

public:
    explicit CreateShareButton(QWidget *parent = nullptr);

    void place();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setLook(bool large);
};
