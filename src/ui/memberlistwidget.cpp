#include "ui/memberlistwidget.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "signaling/signalingclient.h"
#include "ui/memberitemwidget.h"
#include "ui/pagestyle.h"
#include "ui/uilog.h"
#include "ui/uistyle.h"

MemberListWidget::MemberListWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MemberListWidget"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 8);
    layout->setSpacing(4);
    layout->addLayout(buildHeader());
    userlistWidget = new QListWidget(this);
    userlistWidget->setObjectName(QStringLiteral("userlistWidget"));
    userlistWidget->setFrameShape(QFrame::NoFrame);
    userlistWidget->setContextMenuPolicy(Qt::NoContextMenu);
    userlistWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    userlistWidget->setStyleSheet(pagestyle::memberRows());
    layout->addWidget(userlistWidget, 1);
    layout->addWidget(buildEmptyState(), 2);

    connect(refreshButton, &QPushButton::clicked, this, &MemberListWidget::refreshUsersBtnClicked);
    connect(userlistWidget, &QListWidget::customContextMenuRequested, this,
            &MemberListWidget::showMemberMenu);
    connect(userlistWidget, &QListWidget::currentItemChanged, this, &MemberListWidget::onCurrentRowChanged);
    onAlluserRefreshed({});
}

QLayout *MemberListWidget::buildHeader() {
    auto *header = new QHBoxLayout;
    header->setContentsMargins(12, 0, 8, 0);
    label_mem_num = new QLabel(tr("当前成员(1)"), this);
    label_mem_num->setObjectName(QStringLiteral("label_mem_num"));
    label_mem_num->setStyleSheet(uistyle::text(uistyle::kGreyInk, 13));
    refreshButton = new QPushButton(this);
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    refreshButton->setFixedSize(20, 20);
    refreshButton->setCursor(Qt::PointingHandCursor);
    refreshButton->setToolTip(tr("刷新"));
    refreshButton->setStyleSheet(
        uistyle::imageButton(":/img/refresh.png", ":/img/refresh_hover.png", ":/img/refresh_press.png"));
    header->addWidget(label_mem_num, 1);
    header->addWidget(refreshButton);
    return header;
}

QWidget *MemberListWidget::buildEmptyState() {
    widget_empty = new QWidget(this);
    widget_empty->setObjectName(QStringLiteral("widget_empty"));
    auto *layout = new QVBoxLayout(widget_empty);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    widget_img = new QWidget(widget_empty);
    widget_img->setObjectName(QStringLiteral("widget_img"));
    auto *imgLayout = new QHBoxLayout(widget_img);
    imgLayout->setContentsMargins(0, 0, 0, 0);
    label_2 = new QLabel(widget_img);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setFixedSize(120, 100);
    label_2->setStyleSheet(uistyle::picture(":/img/chahua2.png"));
    imgLayout->addStretch(1);
    imgLayout->addWidget(label_2);
    imgLayout->addStretch(1);
    label_msg = new QLabel(tr("快去分享给其他人吧~"), widget_empty);
    label_msg->setObjectName(QStringLiteral("label_msg"));
    label_msg->setAlignment(Qt::AlignCenter);
    label_msg->setStyleSheet(uistyle::text(uistyle::kHint, 12));
    layout->addWidget(widget_img);
    layout->addWidget(label_msg);
    layout->addStretch(1);
    return widget_empty;
}

MemberListWidget::~MemberListWidget() = default;

void MemberListWidget::setHostMode(bool on) {
    hostMode_ = on;
    userlistWidget->setContextMenuPolicy(on ? Qt::CustomContextMenu : Qt::NoContextMenu);
}

void MemberListWidget::setSignalingClient(std::shared_ptr<SignalingClient> client) {
    if (client_)
        disconnect(client_.get(), nullptr, this, nullptr);
    client_ = std::move(client);
    // The client emits on its own worker thread; the rows must be built on the GUI thread, so the
    // connection is left to Qt to queue.
    if (client_)
        connect(client_.get(), &SignalingClient::sigAlluserRefreshed, this,
                &MemberListWidget::onAlluserRefreshed);
}

QStringList MemberListWidget::memberIds() const {
    QStringList ids;
    for (const SignalingUser &u : users_)
        ids.append(u.id);
    return ids;
}

QString MemberListWidget::nickName(const QString &id) const {
    for (const SignalingUser &u : users_) {
        if (u.id == id)
            return u.nickname;
    }
    return QString();
}

void MemberListWidget::onAlluserRefreshed(QList<SignalingUser> lst) {
    users_ = lst;
    SignalingUser host;
    host.nickname = hostMode_ ? tr("主持人 (我)") : tr("主持人");
    host.devicetype = 0;
    lst.prepend(host);

    // Until the server has told the client its id, no row is this user's own.
    const QString selfId = client_ ? client_->myId() : QString();
    menuItem_ = nullptr;
    {
        // The rows are about to be deleted; no selection signal may reach them.
        const QSignalBlocker blocker(userlistWidget);
        userlistWidget->clear();
    }
    for (const SignalingUser &u : qAsConst(lst)) {
        auto *item = new QListWidgetItem(userlistWidget);
        item->setSizeHint(QSize(0, 36));
        auto *row = new MemberItemWidget;
        row->setDeviceType(u.devicetype);
        row->setName(!selfId.isEmpty() && u.id == selfId ? tr("%1 (我)").arg(u.nickname) : u.nickname);
        row->setWaiting(!u.id.isEmpty() && waiting_.contains(u.id));
        userlistWidget->setItemWidget(item, row);
    }
    label_mem_num->setText(tr("当前成员 (%1)").arg(lst.size()));
    const bool empty = lst.size() < 2;
    widget_img->setVisible(empty);
    widget_empty->setVisible(empty);
    label_msg->setVisible(empty);
}

void MemberListWidget::setWaiting(const QSet<QString> &ids) {
    waiting_ = ids;
    for (int i = 1; i < userlistWidget->count() && i - 1 < users_.size(); ++i) {
        if (auto *row = qobject_cast<MemberItemWidget *>(userlistWidget->itemWidget(userlistWidget->item(i))))
            row->setWaiting(waiting_.contains(users_.at(i - 1).id));
    }
}

void MemberListWidget::showMemberMenu(QPoint pos) {
    qCDebug(lcUi) << "member menu at" << pos;
    QListWidgetItem *item = userlistWidget->itemAt(pos);
    if (!item || userlistWidget->row(item) == 0)
        return;
    menuItem_ = item;
    QMenu menu(this);
    menu.setWindowFlags(menu.windowFlags() | Qt::Popup);
    menu.setAttribute(Qt::WA_TranslucentBackground, true);
    menu.setObjectName(QStringLiteral("CustomMenu"));
    menu.setStyleSheet(pagestyle::memberMenu());
    // A waiting member gets no file; it can be let in instead.
    if (waiting_.contains(menuMember())) {
        QAction *admit = menu.addAction(tr("允许观看"));
        connect(admit, &QAction::triggered, this, &MemberListWidget::onAdmitClicked);
    } else {
        QAction *transfer = menu.addAction(tr("传输文件"));
        connect(transfer, &QAction::triggered, this, &MemberListWidget::onTransferFileClicked);
    }
    QAction *cancel = menu.addAction(tr("取消共享"));
    connect(cancel, &QAction::triggered, this, &MemberListWidget::onCancelShareClicked);
    menu.exec(QCursor::pos());
}

QString MemberListWidget::menuMember() const {
    // The list may have been rebuilt while the menu was open; then the remembered row is gone.
    const int index = menuItem_ ? userlistWidget->row(menuItem_) - 1 : -1;
    return index >= 0 && index < users_.size() ? users_.at(index).id : QString();
}

void MemberListWidget::onTransferFileClicked() {
    const QString id = menuMember();
    if (!id.isEmpty())
        emit sigTransferFileClicked(id);
}

void MemberListWidget::onCancelShareClicked() {
    const QString id = menuMember();
    if (!id.isEmpty())
        emit sigCancelShareClicked(id);
}

void MemberListWidget::onAdmitClicked() {
    const QString id = menuMember();
    if (!id.isEmpty())
        emit sigAdmitClicked(id);
}

void MemberListWidget::onCurrentRowChanged(QListWidgetItem *current, QListWidgetItem *previous) {
    if (auto *row = current ? qobject_cast<MemberItemWidget *>(userlistWidget->itemWidget(current)) : nullptr)
        row->setSelected(true);
    if (auto *row =
            previous ? qobject_cast<MemberItemWidget *>(userlistWidget->itemWidget(previous)) : nullptr)
        row->setSelected(false);
}
