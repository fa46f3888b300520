#include "ui/mobilephonetoolwidget.h"

#include <QHBoxLayout>
#include <QPushButton>

MobilePhoneToolWidget::MobilePhoneToolWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MobilePhoneToolWidget"));
    setFixedHeight(80);
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    widget = new QWidget(this);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setStyleSheet(QStringLiteral("#widget{background: transparent;}"));
    outer->addWidget(widget);

    btn_zoom = new QPushButton(widget);
    btn_zoom->setObjectName(QStringLiteral("btn_zoom"));
    btn_zoom->setToolTip(QStringLiteral("全屏"));
    btn_enlarge = new QPushButton(widget);
    btn_enlarge->setObjectName(QStringLiteral("btn_enlarge"));
    btn_enlarge->setIcon(QIcon(QStringLiteral(":/img/mobile_enlarge.png")));
    btn_enlarge->setToolTip(QStringLiteral("放大"));
    btn_narrow = new QPushButton(widget);
    btn_narrow->setObjectName(QStringLiteral("btn_narrow"));
    btn_narrow->setIcon(QIcon(QStringLiteral(":/img/mobile_narrow.png")));
    btn_narrow->setToolTip(QStringLiteral("缩小"));

    auto *layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);
    layout->addStretch(1);
    for (QPushButton *b : {btn_zoom, btn_enlarge, btn_narrow}) {
        b->setFixedSize(38, 38);
        b->setIconSize(QSize(20, 20));
        b->setCursor(Qt::PointingHandCursor);
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(
            // The thin ring keeps a button visible over a light picture.
            QStringLiteral("QPushButton{border-radius: 19px; border: 1px solid rgb(201, 209, 219);"
                           "background-color: rgb(242, 244, 248);}"
                           "QPushButton:hover{background-color: rgb(255, 255, 255);}"
                           "QPushButton:pressed{background-color: rgb(214, 224, 234);}"));
        layout->addWidget(b);
    }
    layout->addStretch(1);
    showFullIcon();
    QMetaObject::connectSlotsByName(this);
}

void MobilePhoneToolWidget::showNarrowIcon() {
    narrowIcon_ = true;
    btn_zoom->setIcon(QIcon(QStringLiteral(":/img/mobile_narrow_screen.png")));
    btn_zoom->setToolTip(QStringLiteral("退出全屏"));
}

void MobilePhoneToolWidget::showFullIcon() {
    narrowIcon_ = false;
    btn_zoom->setIcon(QIcon(QStringLiteral(":/img/mobile_full_screen.png")));
    btn_zoom->setToolTip(QStringLiteral("全屏"));
}

void MobilePhoneToolWidget::on_btn_zoom_clicked() {
    emit sigZoomClicked();
}

void MobilePhoneToolWidget::on_btn_enlarge_clicked() {
    emit sigEnlargeClicked();
}

void MobilePhoneToolWidget::on_btn_narrow_clicked() {
    emit sigNarrowClicked();
}
