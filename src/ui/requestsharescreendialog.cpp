#include "ui/requestsharescreendialog.h"

#include <QLabel>
#include <QTimer>

RequestShareScreenDialog::RequestShareScreenDialog(QWidget *parent)
    : ChoiceDialog(parent, QStringLiteral("btn_quit"), QStringLiteral("label_msg"), QString(),
                   QStringLiteral("确定")) {
    setObjectName(QStringLiteral("RequestShareScreenDialog"));
    setMinimumSize(290, 177);
    QMetaObject::connectSlotsByName(this);
}

void RequestShareScreenDialog::setName(const QString &name) {
    message_->setText(name + QStringLiteral(" 请求投屏，是否同意？"));
}

int RequestShareScreenDialog::exec() {
    // Each run arms its own timer and drops it afterwards, so an early answer leaves no refusal pending
    // that could end a later request of the same dialog.
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::CoarseTimer);
    connect(timer, &QTimer::timeout, this, &QDialog::reject);
    timer->start(kAutoRefuseMs);
    const int result = QDialog::exec();
    delete timer;
    return result;
}

void RequestShareScreenDialog::on_btn_quit_clicked() {
    reject();
}
