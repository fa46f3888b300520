#pragma once

#include <QPushButton>

// The start page's large create button: grows while the mouse is over it, always flush with the
// right edge of its parent and centred vertically; wide enough for its text in either look.
class CreateShareButton : public QPushButton {
    Q_OBJECT

public:
    explicit CreateShareButton(QWidget *parent = nullptr);

    void place();
    // The size of the small look, or of the large one shown under the pointer.
    QSize lookSize(bool large) const;

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setLook(bool large);

    bool large_ = false;
};
