#include "ui/hostwidget.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QToolTip>
#include <QVBoxLayout>

#include "ui/pagestyle.h"
#include "ui/uistyle.h"

HostWidget::HostWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("HostWidget"));
    setFixedSize(65, 53);
    setAttribute(Qt::WA_StyledBackground, true);
    setCursor(Qt::PointingHandCursor);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 2);
    layout->setSpacing(2);
    label_ico = new QLabel(this);
    label_ico->setObjectName(QStringLiteral("label_ico"));
    label_ico->setFixedSize(24, 24);
    label_ico->setStyleSheet(uistyle::picture(":/img/computer@2x.png"));
    label_ip = new QLabel(this);
    label_ip->setObjectName(QStringLiteral("label_ip"));
    label_ip->setAlignment(Qt::AlignCenter);
    label_ip->setStyleSheet(uistyle::text(uistyle::kGreyInk, 12, uistyle::Clear));
    layout->addWidget(label_ico, 0, Qt::AlignHCenter);
    layout->addWidget(label_ip);

    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, &HostWidget::onTimeOut);
    setSelected(false);
}

void HostWidget::setIp(const QString &ip) {
    ip_ = ip;
    const int dot = ip.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        label_ip->setText(ip.mid(dot + 1));
}

QString HostWidget::labelText() const {
    return label_ip->text();
}

void HostWidget::setSelected(bool on) {
    selected_ = on;
    update();
}

void HostWidget::onTimeOut() {
    timer_.stop();
    const QPoint at = mapToGlobal(mapFromParent(QPoint(x(), y() + height() / 2)));
    QToolTip::showText(at, ip_, this);
}

void HostWidget::mouseReleaseEvent(QMouseEvent *event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit sigClicked();
}

void HostWidget::mouseDoubleClickEvent(QMouseEvent *event) {
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit sigDoubleClicked();
}

void HostWidget::enterEvent(QEvent *event) {
    QWidget::enterEvent(event);
    timer_.start(kToolTipDelayMs);
}

void HostWidget::leaveEvent(QEvent *event) {
    QWidget::leaveEvent(event);
    QToolTip::hideText();
    timer_.stop();
}

void HostWidget::paintEvent(QPaintEvent *) {
    const QString sheet = pagestyle::hostTile(objectName(), selected_);
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
