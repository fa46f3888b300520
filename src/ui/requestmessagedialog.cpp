#include "ui/requestmessagedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uistyle.h"

RequestMessageDialog::RequestMessageDialog(const QString &text)
    : QDialog(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("RequestMessageDialog"));
    setWindowTitle(QStringLiteral("Zu屏幕共享"));
    setMinimumSize(290, 177);
    DialogChrome c = DialogChrome::build(this, QStringLiteral("btn_close"));
    btn_close = c.closeButton;

    label_msg = new QLabel(text, c.body);
    label_msg->setObjectName(QStringLiteral("label_msg"));
    label_msg->setAlignment(Qt::AlignCenter);
    label_msg->setWordWrap(true);
    label_msg->setMaximumWidth(420);
    label_msg->setStyleSheet(QStringLiteral("color: #333840; font-size: 14px;"));
    c.bodyLayout->addWidget(label_msg, 1);

    btn_cancel = new QPushButton(QStringLiteral("取消"), c.body);
    btn_cancel->setObjectName(QStringLiteral("btn_cancel"));
    btn_cancel->setStyleSheet(uistyle::secondaryButton());
    btn_ok = new QPushButton(QStringLiteral("确认"), c.body);
    btn_ok->setObjectName(QStringLiteral("btn_ok"));
    btn_ok->setStyleSheet(uistyle::primaryButton());
    auto *row = new QHBoxLayout;
    row->setSpacing(16);
    row->addStretch(1);
    for (QPushButton *b : {btn_cancel, btn_ok}) {
        b->setMinimumSize(80, 30);
        b->setMaximumHeight(30);
        row->addWidget(b);
    }
    row->addStretch(1);
    btn_cancel->setDefault(true);
    c.bodyLayout->addLayout(row);

    helper_.reset(DialogChrome::makeHelper(this, btn_close));
    QMetaObject::connectSlotsByName(this);
}

RequestMessageDialog::~RequestMessageDialog() = default;

void RequestMessageDialog::setOkText(const QString &text) {
    btn_ok->setText(text);
}

void RequestMessageDialog::setCancelText(const QString &text) {
    btn_cancel->setText(text);
}

void RequestMessageDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}

void RequestMessageDialog::on_btn_ok_clicked() {
    accept();
}

void RequestMessageDialog::on_btn_cancel_clicked() {
    reject();
}

void RequestMessageDialog::on_btn_close_clicked() {
    reject();
}
