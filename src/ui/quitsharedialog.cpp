#include "ui/quitsharedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uistyle.h"

QuitShareDialog::QuitShareDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("QuitShareDialog"));
    setWindowTitle(QStringLiteral("Zu屏幕共享"));
    setFixedSize(280, 176);
    DialogChrome c = DialogChrome::build(this, QStringLiteral("closeButton"));
    closeButton = c.closeButton;

    label = new QLabel(QStringLiteral("确认退出？退出将结束此次共享"), c.body);
    label->setObjectName(QStringLiteral("label"));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #333840; font-size: 14px;"));
    c.bodyLayout->addWidget(label, 1);

    btn_cancel = new QPushButton(QStringLiteral("取消"), c.body);
    btn_cancel->setObjectName(QStringLiteral("btn_cancel"));
    btn_cancel->setStyleSheet(uistyle::secondaryButton());
    btn_ok = new QPushButton(QStringLiteral("退出"), c.body);
    btn_ok->setObjectName(QStringLiteral("btn_ok"));
    btn_ok->setStyleSheet(uistyle::primaryButton());
    auto *row = new QHBoxLayout;
    row->setSpacing(16);
    row->addStretch(1);
    for (QPushButton *b : {btn_cancel, btn_ok}) {
        b->setFixedSize(80, 30);
        row->addWidget(b);
    }
    row->addStretch(1);
    btn_cancel->setDefault(true);
    c.bodyLayout->addLayout(row);

    helper_.reset(DialogChrome::makeHelper(this, closeButton));
    QMetaObject::connectSlotsByName(this);
}

QuitShareDialog::~QuitShareDialog() = default;

void QuitShareDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}

void QuitShareDialog::on_btn_ok_clicked() {
    accept();
}

void QuitShareDialog::on_btn_cancel_clicked() {
    reject();
}

void QuitShareDialog::on_closeButton_clicked() {
    reject();
}
