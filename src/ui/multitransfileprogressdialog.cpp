#include "ui/multitransfileprogressdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/transferprogressitem.h"
#include "ui/uistyle.h"

MultiTransFileProgressDialog::MultiTransFileProgressDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("MultiTransFileProgressDialog"));
    setWindowTitle(uistyle::appTitle());
    setMinimumSize(320, 220);
    resize(380, 300);
    DialogChrome c =
        DialogChrome::build(this, QStringLiteral("btn_close"), QStringLiteral("label_title"), tr("批量传输"));
    btn_close = c.closeButton;
    c.bodyLayout->setContentsMargins(0, 0, 0, 8);
    c.bodyLayout->setSpacing(0);

    widget_3 = new QWidget(c.body);
    widget_3->setObjectName(QStringLiteral("widget_3"));
    widget_3->setAttribute(Qt::WA_StyledBackground, true);
    widget_3->setStyleSheet(uistyle::areaFill(widget_3->objectName(), uistyle::kBand));
    widget_3->setFixedHeight(32);
    label_nickname = new QLabel(tr("昵称"), widget_3);
    label_nickname->setObjectName(QStringLiteral("label_nickname"));
    label_progress = new QLabel(tr("传输进度"), widget_3);
    label_progress->setObjectName(QStringLiteral("label_progress"));
    label_progress->setFixedWidth(110);
    label_progress->setAlignment(Qt::AlignCenter);
    // The body's sheet would paint its grey behind each label, striping the header.
    for (QLabel *l : {label_nickname, label_progress})
        l->setStyleSheet(uistyle::text(uistyle::kBandInk, 13, uistyle::Clear));
    auto *header = new QHBoxLayout(widget_3);
    header->setContentsMargins(16, 0, 8, 0);
    header->setSpacing(8);
    header->addWidget(label_nickname, 1);
    header->addWidget(label_progress);
    c.bodyLayout->addWidget(widget_3);

    listWidget = new QListWidget(c.body);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setFrameShape(QFrame::NoFrame);
    listWidget->setSelectionMode(QAbstractItemView::NoSelection);
    listWidget->setFocusPolicy(Qt::NoFocus);
    listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listWidget->setStyleSheet(uistyle::tableRows());
    c.bodyLayout->addWidget(listWidget, 1);

    helper_.reset(DialogChrome::makeHelper(this, btn_close, true));
    connect(btn_close, &QPushButton::clicked, this,
            [this] { DialogChrome::closeTransferDialog(this, running_); });
}

MultiTransFileProgressDialog::~MultiTransFileProgressDialog() = default;

void MultiTransFileProgressDialog::addMember(const QString &id, const QString &nickName) {
    if (rows_.contains(id))
        return;
    auto *item = new QListWidgetItem(listWidget);
    item->setSizeHint(QSize(0, 30));
    auto *row = new TransferProgressItem;
    listWidget->setItemWidget(item, row);
    rows_.insert(id, item);
    row->setTexts(nickName, QStringLiteral("0%"));
}

TransferProgressItem *MultiTransFileProgressDialog::memberRow(const QString &id) const {
    QListWidgetItem *item = rows_.value(id);
    return item ? qobject_cast<TransferProgressItem *>(listWidget->itemWidget(item)) : nullptr;
}

void MultiTransFileProgressDialog::setMemberProgress(const QString &id, int value) {
    if (TransferProgressItem *row = memberRow(id))
        row->setProgressText(QString::number(value) + QStringLiteral("%"));
}

void MultiTransFileProgressDialog::setMemberState(const QString &id, const QString &text) {
    if (TransferProgressItem *row = memberRow(id))
        row->setProgressText(text);
}

void MultiTransFileProgressDialog::setTransferRunning(bool running) {
    running_ = running;
}

void MultiTransFileProgressDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}
