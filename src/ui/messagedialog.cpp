#include "ui/messagedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uistyle.h"

MessageDialog::MessageDialog(const QString &text)
    : QDialog(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("MessageDialog"));
    setWindowTitle(QStringLiteral("Zu屏幕共享"));
    setMinimumSize(320, 180);
    DialogChrome c = DialogChrome::build(this, QStringLiteral("btn_close"), QStringLiteral("label"),
                                         QStringLiteral("警告"));
    label = c.titleLabel;
    btn_close = c.closeButton;

    label_msg = new QLabel(text, c.body);
    label_msg->setObjectName(QStringLiteral("label_msg"));
    label_msg->setAlignment(Qt::AlignCenter);
    label_msg->setWordWrap(true);
    label_msg->setStyleSheet(QStringLiteral("color: #333840; font-size: 14px;"));
    label_msg->setMaximumWidth(420);
    c.bodyLayout->addWidget(label_msg, 1);

    btn_ok = new QPushButton(QStringLiteral("确认"), c.body);
    btn_ok->setObjectName(QStringLiteral("btn_ok"));
    btn_ok->setFixedSize(80, 30);
    btn_ok->setStyleSheet(uistyle::primaryButton());
    btn_ok->setDefault(true);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(btn_ok);
    row->addStretch(1);
    c.bodyLayout->addLayout(row);

    helper_.reset(DialogChrome::makeHelper(this, btn_close));
    QMetaObject::connectSlotsByName(this);
}

MessageDialog::~MessageDialog() = default;

QString MessageDialog::text() const {
    return label_msg->text();
}

void MessageDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}

void MessageDialog::on_btn_ok_clicked() {
    accept();
}

void MessageDialog::on_btn_close_clicked() {
    // A close button that leaves the dialog open would trap the user in a modal loop.
    reject();
}
