#include "ui/zutitlewidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/uistyle.h"

ZuTitleWidget::ZuTitleWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ZuTitleWidget"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(uistyle::fill(uistyle::kBlue));
    setMinimumHeight(36);

    label_title = new QLabel(this);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->setFixedSize(32, 32);
    label_title->setStyleSheet(uistyle::picture(":/img/logo2.png"));

    label_name = new QLabel(uistyle::appTitle(), this);
    label_name->setObjectName(QStringLiteral("label_name"));
    label_name->setStyleSheet(uistyle::text("white", 15));

    minButton = new QPushButton(this);
    minButton->setObjectName(QStringLiteral("minButton"));
    maxButton = new QPushButton(this);
    maxButton->setObjectName(QStringLiteral("maxButton"));
    closeButton = new QPushButton(this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    for (QPushButton *b : {minButton, maxButton, closeButton}) {
        b->setFixedSize(36, 36);
        b->setFocusPolicy(Qt::NoFocus);
        b->setCursor(Qt::ArrowCursor);
    }
    minButton->setToolTip(tr("最小化"));
    closeButton->setToolTip(tr("关闭"));
    minButton->setStyleSheet(
        uistyle::imageButton(":/img/min.png", ":/img/min_hover.png", ":/img/min_press.png"));
    closeButton->setStyleSheet(
        uistyle::imageButton(":/img/close.png", ":/img/close_hover.png", ":/img/close_press.png"));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 0, 6, 0);
    layout->setSpacing(8);
    layout->addWidget(label_title);
    layout->addWidget(label_name);
    layout->addStretch(1);
    layout->addWidget(minButton);
    layout->addWidget(maxButton);
    layout->addWidget(closeButton);

    connect(minButton, &QPushButton::clicked, this, &ZuTitleWidget::sigMinClicked);
    connect(maxButton, &QPushButton::clicked, this, &ZuTitleWidget::sigMaxOrNornalClicked);
    connect(closeButton, &QPushButton::clicked, this, &ZuTitleWidget::sigCloseClicked);
    showMaximizeIcon();
}

QObjectList ZuTitleWidget::titleObjects() const {
    return QObjectList{closeButton, maxButton, minButton};
}

void ZuTitleWidget::showRestoreIcon() {
    maxButton->setToolTip(tr("还原"));
    maxButton->setStyleSheet(
        uistyle::imageButton(":/img/normal.png", ":/img/normal_hover.png", ":/img/normal_press.png"));
}

void ZuTitleWidget::showMaximizeIcon() {
    maxButton->setToolTip(tr("最大化"));
    maxButton->setStyleSheet(
        uistyle::imageButton(":/img/max.png", ":/img/max_hover.png", ":/img/max_press.png"));
}
