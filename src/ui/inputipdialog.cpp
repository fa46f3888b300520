#include "ui/inputipdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uistyle.h"

InputIpDialog::InputIpDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("InputIpDialog"));
    setWindowTitle(uistyle::appTitle());
    setFixedSize(300, 200);
    DialogChrome c =
        DialogChrome::build(this, QStringLiteral("btn_close"), QStringLiteral("label_title"), tr("手动输入"));
    btn_close = c.closeButton;

    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    label = new QLabel(tr("连接IP:"), c.body);
    label->setObjectName(QStringLiteral("label"));
    label->setStyleSheet(uistyle::text(uistyle::kInk, 14));
    edit_ip = new QLineEdit(c.body);
    edit_ip->setObjectName(QStringLiteral("edit_ip"));
    edit_ip->setFixedHeight(30);
    edit_ip->setPlaceholderText(QStringLiteral("192.168.1.20"));
    edit_ip->setStyleSheet(uistyle::lineEdit());
    // Colours by palette: a text colour in the sheet would darken the example address too, which then
    // reads as typed in.
    QPalette hint = edit_ip->palette();
    hint.setColor(QPalette::Text, QColor(0x33, 0x38, 0x40));
    hint.setColor(QPalette::PlaceholderText, QColor(0xA3, 0xAA, 0xB3));
    edit_ip->setPalette(hint);
    const QRegularExpression address(
        QStringLiteral("^((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?)$"));
    edit_ip->setValidator(new QRegularExpressionValidator(address, edit_ip));
    row->addWidget(label);
    row->addWidget(edit_ip, 1);
    c.bodyLayout->addStretch(1);
    c.bodyLayout->addLayout(row);
    c.bodyLayout->addStretch(1);

    btn_join = c.addButton(QStringLiteral("btn_join"), tr("加入分享"), true);
    btn_join->setFixedWidth(96);
    btn_join->setEnabled(false);
    btn_join->setDefault(true);

    // Neither movable nor resizable: no title band, no resize bands.
    helper_ = std::make_unique<FramelessWidgetHelper>(this);
    helper_->setMaximizable(false);
    helper_->setMinimable(false);
    helper_->setResizeMargins(0);

    connect(btn_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(btn_join, &QPushButton::clicked, this, &InputIpDialog::join);
    connect(edit_ip, &QLineEdit::textChanged, this, &InputIpDialog::onAddressEdited);
    edit_ip->setFocus();
}

InputIpDialog::~InputIpDialog() = default;

void InputIpDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}

void InputIpDialog::join() {
    ip_ = edit_ip->text();
    accept();
}

void InputIpDialog::onAddressEdited(const QString &text) {
    // The validator lets intermediate text ("1.1.1") into the field; only a whole address joins.
    QString copy = text;
    int pos = 0;
    btn_join->setEnabled(edit_ip->validator()->validate(copy, pos) == QValidator::Acceptable);
}
