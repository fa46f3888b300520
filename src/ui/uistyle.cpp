#include "ui/uistyle.h"

#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "core/platformflags.h"

namespace uistyle {

QString imageButton(const QString &normal, const QString &hover, const QString &pressed) {
    return QStringLiteral(
               "QPushButton{border:none;border-image:url(\"%1\");}"
               "QPushButton:hover{border-image:url(\"%2\");}"
               "QPushButton:pressed{border-image:url(\"%3\");}")
        .arg(normal, hover, pressed);
}

QString primaryButton() {
    return QStringLiteral(
        "QPushButton{background-color:#5983A5;color:white;border:none;border-radius:4px;padding:0 14px;}"
        "QPushButton:hover{background-color:#6B95B8;}"
        "QPushButton:pressed{background-color:#466B8A;}"
        "QPushButton:disabled{background-color:#B8C8D6;color:#EEF2F6;}");
}

QString secondaryButton() {
    return QStringLiteral(
        "QPushButton{background-color:white;color:#4A4F57;border:1px solid #C9D1DB;border-radius:4px;"
        "padding:0 14px;}"
        "QPushButton:hover{color:#5983A5;border-color:#5983A5;}"
        "QPushButton:pressed{background-color:#E6EDF4;}");
}

QVBoxLayout *edgeToEdgeColumn(QWidget *widget) {
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

QWidget *styledArea(QWidget *parent, const QString &name, const QString &sheet, int fixedHeight) {
    auto *area = new QWidget(parent);
    area->setObjectName(name);
    area->setAttribute(Qt::WA_StyledBackground, true);
    area->setStyleSheet(sheet);
    if (fixedHeight >= 0)
        area->setFixedHeight(fixedHeight);
    return area;
}

QPushButton *titleCloseButton(QWidget *parent, const QString &name) {
    auto *button = new QPushButton(parent);
    button->setObjectName(name);
    button->setFixedSize(36, 36);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(QStringLiteral("关闭"));
    button->setStyleSheet(imageButton(":/img/close.png", ":/img/close_hover.png", ":/img/close_press.png"));
    return button;
}

void paintFramelessBorder(QWidget *widget) {
    if (isWin10)
        return;
    widget->setContentsMargins(1, 1, 1, 1);
    QPainter painter(widget);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(widget->rect());
}

}  // namespace uistyle
