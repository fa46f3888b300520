#include "ui/messagedialog.h"

#include <QDebug>
#include <QLabel>
#include <QPushButton>

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
    label_msg = c.addMessage(QStringLiteral("label_msg"), text);
    btn_ok = c.addButton(QStringLiteral("btn_ok"), QStringLiteral("确认"), true);
    btn_ok->setDefault(true);
    helper_.reset(DialogChrome::makeHelper(this, btn_close));
    QMetaObject::connectSlotsByName(this);
}

MessageDialog::~MessageDialog() = default;

int MessageDialog::execAlone() {
    static int running = 0;  // the GUI thread's own
    if (running > 0) {
        qDebug() << "message not shown while another is open:" << text();
        return Rejected;
    }
    ++running;
    const int result = exec();
    --running;
    return result;
}

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
