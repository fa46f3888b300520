#include "ui/choicedialog.h"

#include <QLabel>
#include <QPushButton>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uistyle.h"

ChoiceDialog::ChoiceDialog(QWidget *parent, const QString &closeName, const QString &messageName,
                           const QString &text, const QString &okText)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(uistyle::appTitle());
    DialogChrome c = DialogChrome::build(this, closeName);
    closeButton_ = c.closeButton;
    message_ = c.addMessage(messageName, text);
    btn_cancel = c.addButton(QStringLiteral("btn_cancel"), tr("取消"), false);
    btn_ok = c.addButton(QStringLiteral("btn_ok"), okText, true);
    // Enter answers no: a stray key press must not end a share or let a screen in.
    btn_cancel->setDefault(true);
    helper_.reset(DialogChrome::makeHelper(this, closeButton_));
    connect(btn_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(btn_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
}

ChoiceDialog::~ChoiceDialog() = default;

void ChoiceDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}
