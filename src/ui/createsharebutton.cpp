#include "ui/createsharebutton.h"

#include <qdrawutil.h>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>

#include "ui/pagestyle.h"

CreateShareButton::CreateShareButton(QWidget *parent) : QPushButton(parent) {
    setObjectName(QStringLiteral("CreateShareButton"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setText(tr("创建分享"));
    setToolTip(tr("创建共享"));
    if (parent)
        parent->installEventFilter(this);
    setLook(false);
}

QSize CreateShareButton::lookSize(bool large) const {
    const pagestyle::CreateShareLook look = pagestyle::createShareLook(large);
    QFont font = this->font();
    font.setPixelSize(look.fontSize);
    // The text is centred between its left edge and the button's right edge less two pixels.
    const int needed =
        look.textLeft + QFontMetrics(font).horizontalAdvance(text()) + look.size.height() / 2 + 2;
    return {qMax(look.size.width(), needed), look.size.height()};
}

void CreateShareButton::setLook(bool large) {
    large_ = large;
    setFixedSize(lookSize(large));
    setStyleSheet(pagestyle::createShareButton(pagestyle::createShareLook(large)));
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

void CreateShareButton::paintEvent(QPaintEvent *event) {
    // A longer text stretches only the picture's plain middle; the sign and the round end keep
    // their shape.
    const pagestyle::CreateShareLook look = pagestyle::createShareLook(large_);
    const QPixmap picture(look.picture);
    const QMargins ends(look.textLeft, 0, look.size.height() / 2, 0);
    const int scale = picture.width() / look.size.width();
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    qDrawBorderPixmap(&painter, rect(), ends, picture, picture.rect(), ends * scale);
    painter.end();
    QPushButton::paintEvent(event);
}
