#include "ui/singletransfileprogressdialog.h"

SingleTransFileProgressDialog::SingleTransFileProgressDialog(QWidget *parent)
    : FileProgressDialog(parent, QStringLiteral("btn_close"), tr("发起文件传输")) {
    setObjectName(QStringLiteral("SingleTransFileProgressDialog"));
}
