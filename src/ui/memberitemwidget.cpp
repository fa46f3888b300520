#include "ui/memberitemwidget.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>

#include "ui/uistyle.h"

MemberItemWidget::MemberItemWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MemberItemWidget"));
    setAttribute(Qt::WA_StyledBackground, true);
    label_ico = new QLabel(this);
    label_ico->setObjectName(QStringLiteral("label_ico"));
    label_ico->setFixedSize(24, 24);
    label_nackname = new QLabel(this);
    label_nackname->setObjectName(QStringLiteral("label_nackname"));
    label_nackname->setStyleSheet(uistyle::text(uistyle::kInk, 13, uistyle::Clear));
    label_state = new QLabel(tr("等待中"), this);
    label_state->setObjectName(QStringLiteral("label_state"));
    label_state->setStyleSheet(uistyle::text(uistyle::kWaiting, 12, uistyle::Clear));
    label_state->hide();
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 0, 8, 0);
    layout->setSpacing(8);
    layout->addWidget(label_ico);
    layout->addWidget(label_nackname, 1);
    layout->addWidget(label_state);
    setDeviceType(0);
    setSelected(false);
}

void MemberItemWidget::setDeviceType(int type) {
    deviceType_ = type;
    label_ico->setStyleSheet(uistyle::picture(type == 1 ? ":/img/mobile@2x.png" : ":/img/pc@2x.png"));
}

void MemberItemWidget::setName(const QString &name) {
    name_ = name;
    label_nackname->setToolTip(name);
    elideName();
}

QString MemberItemWidget::name() const {
    return name_;
}

void MemberItemWidget::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    elideName();
}

void MemberItemWidget::elideName() {
    // Before the first layout the label has no width yet; show the whole name until it has one.
    const int width = label_nackname->width();
    label_nackname->setText(
        width > 20 ? label_nackname->fontMetrics().elidedText(name_, Qt::ElideRight, width) : name_);
}

void MemberItemWidget::setSelected(bool on) {
    selected_ = on;
    setStyleSheet(uistyle::fill(on ? uistyle::kSelectedRow : "transparent"));
}

void MemberItemWidget::setWaiting(bool on) {
    waiting_ = on;
    label_state->setVisible(on);
    elideName();
}
