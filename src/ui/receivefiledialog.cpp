#include "ui/receivefiledialog.h"

#include <QPushButton>

ReceiveFileDialog::ReceiveFileDialog(QWidget *parent)
    : FileProgressDialog(parent, QStringLiteral("pushButton"), tr("主持人向你传输文件")) {
    setObjectName(QStringLiteral("ReceiveFileDialog"));
    btn_ok->setEnabled(false);
}
