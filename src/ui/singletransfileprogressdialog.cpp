#include "ui/singletransfileprogressdialog.h"

#include <QPushButton>

SingleTransFileProgressDialog::SingleTransFileProgressDialog(QWidget *parent)
    : FileProgressDialog(parent, QStringLiteral("btn_close"), QStringLiteral("发起文件传输")) {
    setObjectName(QStringLiteral("SingleTransFileProgressDialog"));
    QMetaObject::connectSlotsByName(this);
}

void SingleTransFileProgressDialog::on_btn_close_clicked() {
    closeRequested();
}

void SingleTransFileProgressDialog::on_btn_ok_clicked() {
    accept();
}
