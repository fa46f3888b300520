#include "ui/fileprogressdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uistyle.h"

FileProgressDialog::FileProgressDialog(QWidget *parent, const QString &closeName, const QString &text)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint) {
    setWindowTitle(uistyle::appTitle());
    setFixedSize(360, 196);
    DialogChrome c = DialogChrome::build(this, closeName);
    closeButton_ = c.closeButton;

    label = new QLabel(text, c.body);
    label->setObjectName(QStringLiteral("label"));
    label->setStyleSheet(uistyle::text(uistyle::kInk, 14));
    c.bodyLayout->addWidget(label);

    progressBar = new QProgressBar(c.body);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 100);
    progressBar->setFormat(QStringLiteral("%p%"));
    progressBar->setTextVisible(false);
    progressBar->setFixedHeight(8);
    progressBar->setStyleSheet(uistyle::progressBar());
    label_progress = new QLabel(QStringLiteral("0%"), c.body);
    label_progress->setObjectName(QStringLiteral("label_progress"));
    label_progress->setFixedWidth(44);
    label_progress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_progress->setStyleSheet(uistyle::text(uistyle::kBlue, 13));
    auto *barRow = new QHBoxLayout;
    barRow->setSpacing(10);
    barRow->addWidget(progressBar, 1);
    barRow->addWidget(label_progress);
    c.bodyLayout->addLayout(barRow);

    label_done = new QLabel(tr("已完成"), c.body);
    label_done->setObjectName(QStringLiteral("label_done"));
    label_done->setStyleSheet(uistyle::text(uistyle::kDone, 13));
    btn_ok = new QPushButton(tr("确定"), c.body);
    btn_ok->setObjectName(QStringLiteral("btn_ok"));
    btn_ok->setFixedSize(80, 30);
    btn_ok->setStyleSheet(uistyle::primaryButton());
    auto *okRow = new QHBoxLayout;
    okRow->addWidget(label_done);
    okRow->addStretch(1);
    okRow->addWidget(btn_ok);
    c.bodyLayout->addStretch(1);
    c.bodyLayout->addLayout(okRow);

    helper_.reset(DialogChrome::makeHelper(this, closeButton_));
    progressBar->setValue(0);
    label_done->hide();
    // Keeps its place in the layout while hidden, so the button does not jump at 100%.
    QSizePolicy keep = label_done->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    label_done->setSizePolicy(keep);
    // The title close button asks first while the file still goes; OK only comes at 100%.
    connect(closeButton_, &QPushButton::clicked, this,
            [this] { DialogChrome::closeTransferDialog(this, running_); });
    connect(btn_ok, &QPushButton::clicked, this, &QDialog::accept);
}

FileProgressDialog::~FileProgressDialog() = default;

void FileProgressDialog::setProgress(int value) {
    progress_ = value;
    label_progress->setText(QString::number(value) + QStringLiteral("%"));
    progressBar->setValue(value);
    const bool done = value == 100;
    btn_ok->setEnabled(done);
    label_done->setVisible(done);
}

void FileProgressDialog::setTransferRunning(bool running) {
    running_ = running;
}

void FileProgressDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}
