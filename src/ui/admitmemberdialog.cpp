#include "ui/admitmemberdialog.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogchrome.h"
#include "ui/framelesswidgethelper.h"
#include "ui/uistyle.h"

AdmitMemberDialog::AdmitMemberDialog(const AdmissionQueue::Member &member, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), member_(member) {
    setObjectName(QStringLiteral("AdmitMemberDialog"));
    setWindowTitle(uistyle::appTitle());
    setMinimumSize(340, 190);
    DialogChrome c = DialogChrome::build(this, QStringLiteral("btn_close"), QStringLiteral("label_title"),
                                         tr("有人想观看"));
    message_ = c.addMessage(QStringLiteral("label_msg"),
                            tr("%1\n%2 · %3\n想观看你的共享，是否允许？")
                                .arg(member.nickname, member.address, kindText(member.kind)));
    others_ = new QLabel(c.body);
    others_->setObjectName(QStringLiteral("label_others"));
    others_->setAlignment(Qt::AlignCenter);
    others_->setStyleSheet(uistyle::text(uistyle::kHint, 12));
    c.bodyLayout->insertWidget(c.bodyLayout->indexOf(message_) + 1, others_);
    QPushButton *refuse = c.addButton(QStringLiteral("btn_refuse"), tr("拒绝"), false);
    admitAll_ = c.addButton(QStringLiteral("btn_admit_all"), tr("全部允许"), false);
    QPushButton *admit = c.addButton(QStringLiteral("btn_admit"), tr("允许"), true);
    refuse->setDefault(true);
    connect(refuse, &QPushButton::clicked, this, [this] { done(Refuse); });
    connect(admit, &QPushButton::clicked, this, [this] { done(Admit); });
    connect(admitAll_, &QPushButton::clicked, this, [this] { done(AdmitAll); });
    connect(c.closeButton, &QPushButton::clicked, this, [this] { done(Refuse); });
    helper_.reset(DialogChrome::makeHelper(this, c.closeButton));
    setWaitingCount(1);
}

AdmitMemberDialog::~AdmitMemberDialog() = default;

void AdmitMemberDialog::setWaitingCount(int count) {
    const int others = count - 1;
    others_->setText(others > 0 ? tr("另有 %1 人在等待").arg(others) : QString());
    others_->setVisible(others > 0);
    admitAll_->setVisible(others > 0);
}

QString AdmitMemberDialog::kindText(AdmissionQueue::Kind kind) {
    switch (kind) {
        case AdmissionQueue::Kind::Mobile:
            return tr("手机");
        case AdmissionQueue::Kind::Browser:
            return tr("浏览器");
        case AdmissionQueue::Kind::Desktop:
            break;
    }
    return tr("电脑");
}

void AdmitMemberDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}
