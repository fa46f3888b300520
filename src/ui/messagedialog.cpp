#include "ui/messagedialog.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uilog.h"
#include "ui/uistyle.h"

MessageDialog::MessageDialog(const QString &text, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("MessageDialog"));
    setWindowTitle(uistyle::appTitle());
    setMinimumSize(320, 180);
    DialogChrome c =
        DialogChrome::build(this, QStringLiteral("btn_close"), QStringLiteral("label"), tr("警告"));
    label = c.titleLabel;
    btn_close = c.closeButton;
    label_msg = c.addMessage(QStringLiteral("label_msg"), text);
    btn_ok = c.addButton(QStringLiteral("btn_ok"), tr("确认"), true);
    btn_ok->setDefault(true);
    helper_.reset(DialogChrome::makeHelper(this, btn_close));
    connect(btn_ok, &QPushButton::clicked, this, &QDialog::accept);
    // A close button that leaves the dialog open would trap the user under a modal dialog.
    connect(btn_close, &QPushButton::clicked, this, &QDialog::reject);
}

MessageDialog::~MessageDialog() = default;

MessageDialog *MessageDialog::openOver(QWidget *area, const QString &text) {
    auto *message = new MessageDialog(text, area->window());
    message->setAttribute(Qt::WA_DeleteOnClose);
    message->adjustSize();
    uistyle::centreOver(message, area);
    message->open();
    return message;
}

MessageDialog *MessageDialog::openAloneOver(QWidget *area, const QString &text) {
    static QPointer<MessageDialog> open;  // the GUI thread's own
    if (open && open->isVisible()) {
        qCDebug(lcUi) << "message not shown while another is open:" << text;
        return nullptr;
    }
    open = openOver(area, text);
    return open;
}

QString MessageDialog::text() const {
    return label_msg->text();
}

void MessageDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}
