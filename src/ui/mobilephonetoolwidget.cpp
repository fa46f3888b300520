#include "ui/mobilephonetoolwidget.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "ui/uistyle.h"

MobilePhoneToolWidget::MobilePhoneToolWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MobilePhoneToolWidget"));
    setFixedHeight(80);
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    widget = new QWidget(this);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setStyleSheet(uistyle::areaFill(widget->objectName(), "transparent"));
    outer->addWidget(widget);

    btn_zoom = new QPushButton(widget);
    btn_zoom->setObjectName(QStringLiteral("btn_zoom"));
    btn_zoom->setToolTip(tr("全屏"));
    btn_enlarge = new QPushButton(widget);
    btn_enlarge->setObjectName(QStringLiteral("btn_enlarge"));
    btn_enlarge->setIcon(QIcon(QStringLiteral(":/img/mobile_enlarge.png")));
    btn_enlarge->setToolTip(tr("放大"));
    btn_narrow = new QPushButton(widget);
    btn_narrow->setObjectName(QStringLiteral("btn_narrow"));
    btn_narrow->setIcon(QIcon(QStringLiteral(":/img/mobile_narrow.png")));
    btn_narrow->setToolTip(tr("缩小"));

    auto *layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);
    layout->addStretch(1);
    for (QPushButton *b : {btn_zoom, btn_enlarge, btn_narrow}) {
        b->setFixedSize(38, 38);
        b->setIconSize(QSize(20, 20));
        b->setCursor(Qt::PointingHandCursor);
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(uistyle::roundButton());
        layout->addWidget(b);
    }
    layout->addStretch(1);
    showFullIcon();
    connect(btn_zoom, &QPushButton::clicked, this, &MobilePhoneToolWidget::sigZoomClicked);
    connect(btn_enlarge, &QPushButton::clicked, this, &MobilePhoneToolWidget::sigEnlargeClicked);
    connect(btn_narrow, &QPushButton::clicked, this, &MobilePhoneToolWidget::sigNarrowClicked);
}

void MobilePhoneToolWidget::showNarrowIcon() {
    narrowIcon_ = true;
    btn_zoom->setIcon(QIcon(QStringLiteral(":/img/mobile_narrow_screen.png")));
    btn_zoom->setToolTip(tr("退出全屏"));
}

void MobilePhoneToolWidget::showFullIcon() {
    narrowIcon_ = false;
    btn_zoom->setIcon(QIcon(QStringLiteral(":/img/mobile_full_screen.png")));
    btn_zoom->setToolTip(tr("全屏"));
}
