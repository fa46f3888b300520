#include "ui/requestsharescreendialog.h"

#include <QLabel>
#include <QShowEvent>

RequestShareScreenDialog::RequestShareScreenDialog(QWidget *parent)
    : ChoiceDialog(parent, QStringLiteral("btn_quit"), QStringLiteral("label_msg"), QString(), tr("确定")) {
    setObjectName(QStringLiteral("RequestShareScreenDialog"));
    setMinimumSize(290, 177);
    autoRefuse_.setSingleShot(true);
    autoRefuse_.setTimerType(Qt::CoarseTimer);
    autoRefuse_.setInterval(kAutoRefuseMs);
    connect(&autoRefuse_, &QTimer::timeout, this, &QDialog::reject);
}

void RequestShareScreenDialog::setName(const QString &name) {
    message_->setText(tr("%1 请求投屏，是否同意？").arg(name));
}

void RequestShareScreenDialog::showEvent(QShowEvent *event) {
    ChoiceDialog::showEvent(event);
    // Each showing has its own time; an early answer leaves no refusal pending for a later one.
    if (!event->spontaneous())
        autoRefuse_.start();
}

void RequestShareScreenDialog::hideEvent(QHideEvent *event) {
    if (!event->spontaneous())
        autoRefuse_.stop();
    ChoiceDialog::hideEvent(event);
}
