#include "ui/requestmessagedialog.h"

#include <QPushButton>

RequestMessageDialog::RequestMessageDialog(const QString &text)
    : ChoiceDialog(nullptr, QStringLiteral("btn_close"), QStringLiteral("label_msg"), text,
                   QStringLiteral("确认")) {
    setObjectName(QStringLiteral("RequestMessageDialog"));
    setMinimumSize(290, 177);
    QMetaObject::connectSlotsByName(this);
}

void RequestMessageDialog::setOkText(const QString &text) {
    btn_ok->setText(text);
}

void RequestMessageDialog::setCancelText(const QString &text) {
    btn_cancel->setText(text);
}

void RequestMessageDialog::on_btn_close_clicked() {
    reject();
}
