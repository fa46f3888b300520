#include "ui/requestmessagedialog.h"

#include <QPushButton>

RequestMessageDialog::RequestMessageDialog(const QString &text, QWidget *parent)
    : ChoiceDialog(parent, QStringLiteral("btn_close"), QStringLiteral("label_msg"), text, tr("确认")) {
    setObjectName(QStringLiteral("RequestMessageDialog"));
    setMinimumSize(290, 177);
}

void RequestMessageDialog::setOkText(const QString &text) {
    btn_ok->setText(text);
}

void RequestMessageDialog::setCancelText(const QString &text) {
    btn_cancel->setText(text);
}
