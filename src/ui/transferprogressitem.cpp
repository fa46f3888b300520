#include "ui/transferprogressitem.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>

#include "ui/uistyle.h"

TransferProgressItem::TransferProgressItem(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TransferProgressItem"));
    label_nickname = new QLabel(this);
    label_nickname->setObjectName(QStringLiteral("label_nickname"));
    label_nickname->setMinimumWidth(1);
    label_nickname->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label_progress = new QLabel(this);
    label_progress->setObjectName(QStringLiteral("label_progress"));
    label_progress->setMinimumWidth(110);  // a failure's text may need more
    label_progress->setAlignment(Qt::AlignCenter);
    for (QLabel *l : {label_nickname, label_progress})
        l->setStyleSheet(uistyle::text(uistyle::kInk, 13));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 0, 8, 0);
    layout->setSpacing(8);
    layout->addWidget(label_nickname, 1);
    layout->addWidget(label_progress);
}

void TransferProgressItem::setTexts(const QString &nickName, const QString &progress) {
    fullName_ = nickName;
    label_nickname->setToolTip(nickName);
    elideName();
    label_progress->setText(progress);
}

void TransferProgressItem::setProgressText(const QString &text) {
    label_progress->setText(text);
}

QString TransferProgressItem::nickNameText() const {
    return label_nickname->text();
}

QString TransferProgressItem::progressText() const {
    return label_progress->text();
}

void TransferProgressItem::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    elideName();
}

void TransferProgressItem::elideName() {
    label_nickname->setText(
        label_nickname->fontMetrics().elidedText(fullName_, Qt::ElideMiddle, label_nickname->width()));
}
