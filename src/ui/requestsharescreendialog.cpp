#include "ui/requestsharescreendialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uistyle.h"

RequestShareScreenDialog::RequestShareScreenDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("RequestShareScreenDialog"));
    setWindowTitle(QStringLiteral("Zu屏幕共享"));
    setMinimumSize(290, 177);
    DialogChrome c = DialogChrome::build(this, QStringLiteral("btn_quit"));
    btn_quit = c.closeButton;

    label_msg = new QLabel(c.body);
    label_msg->setObjectName(QStringLiteral("label_msg"));
    label_msg->setAlignment(Qt::AlignCenter);
    label_msg->setWordWrap(true);
    label_msg->setMaximumWidth(420);
    label_msg->setStyleSheet(QStringLiteral("color: #333840; font-size: 14px;"));
    c.bodyLayout->addWidget(label_msg, 1);

    btn_cancel = new QPushButton(QStringLiteral("取消"), c.body);
    btn_cancel->setObjectName(QStringLiteral("btn_cancel"));
    btn_cancel->setStyleSheet(uistyle::secondaryButton());
    btn_ok = new QPushButton(QStringLiteral("确定"), c.body);
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
    c.bodyLayout->addLayout(row);

    helper_.reset(DialogChrome::makeHelper(this, btn_quit));
    QMetaObject::connectSlotsByName(this);
}

RequestShareScreenDialog::~RequestShareScreenDialog() = default;

void RequestShareScreenDialog::setName(const QString &name) {
    label_msg->setText(name + QStringLiteral(" 请求投屏，是否同意？"));
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

void RequestShareScreenDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}

void RequestShareScreenDialog::on_btn_ok_clicked() {
    accept();
}

void RequestShareScreenDialog::on_btn_cancel_clicked() {
    reject();
}

void RequestShareScreenDialog::on_btn_quit_clicked() {
    reject();
}
