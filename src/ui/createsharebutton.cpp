#include "ui/createsharebutton.h"

#include <QEvent>

#include "ui/pagestyle.h"

CreateShareButton::CreateShareButton(QWidget *parent) : QPushButton(parent) {
    setObjectName(QStringLiteral("CreateShareButton"));
    setMinimumSize(105, 36);
    setMaximumSize(144, 48);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setText(tr("创建分享"));
    setToolTip(tr("创建共享"));
    if (parent)
        parent->installEventFilter(this);
    setLook(false);
}

void CreateShareButton::setLook(bool large) {
    resize(large ? QSize(144, 48) : QSize(105, 36));
    setStyleSheet(pagestyle::createShareButton(large));
    place();
}

void CreateShareButton::place() {
    QWidget *p = parentWidget();
    if (!p)
        return;
    move(p->width() - width(), (p->height() - height()) / 2);
}

void CreateShareButton::enterEvent(QEvent *event) {
    QPushButton::enterEvent(event);
    setLook(true);
}

void CreateShareButton::leaveEvent(QEvent *event) {
    QPushButton::leaveEvent(event);
    setLook(false);
}

bool CreateShareButton::eventFilter(QObject *watched, QEvent *event) {
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        place();
    return QPushButton::eventFilter(watched, event);
}
