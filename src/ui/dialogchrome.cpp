#include "ui/dialogchrome.h"

#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/platformflags.h"
#include "ui/framelesswidgethelper.h"
#include "ui/requestmessagedialog.h"
#include "ui/uistyle.h"

DialogChrome DialogChrome::build(QDialog *dialog, const QString &closeName, const QString &titleName,
                                 const QString &titleText) {
    DialogChrome c;
    // Room for the border the dialog draws round itself when the system draws none.
    if (!isWin10)
        dialog->setContentsMargins(1, 1, 1, 1);
    QVBoxLayout *outer = uistyle::edgeToEdgeColumn(dialog);
    c.titleBar = uistyle::styledArea(dialog, QStringLiteral("widget"), uistyle::fill(uistyle::kBlue), 36);
    auto *titleLayout = new QHBoxLayout(c.titleBar);
    titleLayout->setContentsMargins(14, 0, 0, 0);
    titleLayout->setSpacing(0);
    if (!titleName.isEmpty()) {
        c.titleLabel = new QLabel(titleText, c.titleBar);
        c.titleLabel->setObjectName(titleName);
        c.titleLabel->setStyleSheet(uistyle::text("white", 14));
        titleLayout->addWidget(c.titleLabel);
    }
    titleLayout->addStretch(1);
    c.closeButton = uistyle::titleCloseButton(c.titleBar, closeName);
    titleLayout->addWidget(c.closeButton);
    outer->addWidget(c.titleBar);

    c.body = uistyle::styledArea(dialog, QStringLiteral("widget_2"), uistyle::fill(uistyle::kPanel));
    c.bodyLayout = new QVBoxLayout(c.body);
    c.bodyLayout->setContentsMargins(20, 16, 20, 16);
    c.bodyLayout->setSpacing(12);
    outer->addWidget(c.body, 1);
    return c;
}

QLabel *DialogChrome::addMessage(const QString &name, const QString &text) {
    auto *label = new QLabel(text, body);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setMaximumWidth(420);
    label->setStyleSheet(uistyle::text(uistyle::kInk, 14));
    bodyLayout->addWidget(label, 1);
    return label;
}

QPushButton *DialogChrome::addButton(const QString &name, const QString &text, bool primary) {
    if (!buttonRow) {
        buttonRow = new QHBoxLayout;
        buttonRow->setSpacing(16);
        buttonRow->addStretch(1);
        buttonRow->addStretch(1);
        bodyLayout->addLayout(buttonRow);
    }
    auto *button = new QPushButton(text, body);
    button->setObjectName(name);
    button->setStyleSheet(primary ? uistyle::primaryButton() : uistyle::secondaryButton());
    button->setMinimumSize(80, 30);
    button->setMaximumHeight(30);
    buttonRow->insertWidget(buttonRow->count() - 1, button);
    return button;
}

FramelessWidgetHelper *DialogChrome::makeHelper(QDialog *dialog, QPushButton *closeButton, bool resizable) {
    auto *helper = new FramelessWidgetHelper(dialog);
    helper->setMaximizable(false);
    helper->setMinimable(false);
    if (!resizable)
        helper->setResizeMargins(0);
    helper->setTitleHeight(36);
    helper->addTitleObject(closeButton);
    return helper;
}

void DialogChrome::closeTransferDialog(QDialog *dialog, bool running) {
    if (!running) {
        dialog->accept();
        return;
    }
    const auto questions =
        dialog->findChildren<RequestMessageDialog *>(QString(), Qt::FindDirectChildrenOnly);
    for (const RequestMessageDialog *asking : questions) {
        if (asking->isVisible())
            return;
    }
    auto *ask = new RequestMessageDialog(
        QCoreApplication::translate("DialogChrome", "退出将中断文件传输，是否退出？"), dialog);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    ask->setOkText(QCoreApplication::translate("DialogChrome", "退出"));
    ask->adjustSize();
    uistyle::centreOver(ask, dialog);
    QObject::connect(ask, &QDialog::accepted, dialog, &QDialog::accept);
    QObject::connect(dialog, &QDialog::finished, ask, [ask] {
        if (ask->isVisible())
            ask->reject();
    });
    ask->open();
}
