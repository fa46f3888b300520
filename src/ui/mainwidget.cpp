#include "ui/mainwidget.h"

#include <QDebug>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include "scan/scanclient.h"
#include "ui/createsharebutton.h"
#include "ui/hostwidget.h"
#include "ui/inputipdialog.h"
#include "ui/messagedialog.h"
#include "ui/selecthost_line.h"
#include "ui/settingcheckbox.h"
#include "ui/uistyle.h"

MainWidget::MainWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MainWidget"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("#MainWidget{background-color: white;}"));

    auto *page = new QHBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    // Left: nickname and the shares found.
    auto *left = new QWidget(this);
    left->setObjectName(QStringLiteral("widget_left"));
    left->setFixedWidth(340);
    left->setAttribute(Qt::WA_StyledBackground, true);
    left->setStyleSheet(QStringLiteral("#widget_left{background-color: #F2F4F8;}"));
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(24, 24, 16, 16);
    leftLayout->setSpacing(12);

    auto *nickRow = new QHBoxLayout;
    nickRow->setSpacing(8);
    label_nickname = new QLabel(QStringLiteral("昵称:"), left);
    label_nickname->setObjectName(QStringLiteral("label_nickname"));
    label_nickname->setStyleSheet(QStringLiteral("color: #333840; font-size: 14px;"));
    lineEdit_nickname = new QLineEdit(left);
    lineEdit_nickname->setObjectName(QStringLiteral("lineEdit_nickname"));
    lineEdit_nickname->setFixedHeight(30);
    lineEdit_nickname->setMaxLength(32);
    lineEdit_nickname->setStyleSheet(QStringLiteral(
        "QLineEdit{background: white; border: 1px solid #C9D1DB; border-radius: 4px; padding: 0 6px;"
        "color: #333840; font-size: 14px;} QLineEdit:focus{border-color: #5983A5;}"));
    nickRow->addWidget(label_nickname);
    nickRow->addWidget(lineEdit_nickname, 1);
    leftLayout->addLayout(nickRow);

    auto *headRow = new QHBoxLayout;
    headRow->setSpacing(6);
    label_ip = new QLabel(QStringLiteral("设备列表"), left);
    label_ip->setObjectName(QStringLiteral("label_ip"));
    label_ip->setStyleSheet(QStringLiteral("color: #333840; font-size: 14px; font-weight: bold;"));
    btn_inputip_1 = new QPushButton(left);
    btn_inputip_1->setObjectName(QStringLiteral("btn_inputip_1"));
    btn_inputip_1->setToolTip(QStringLiteral("手动输入"));
    btn_inputip_1->setStyleSheet(
        uistyle::imageButton(":/img/input_ip.png", ":/img/input_ip_hover.png", ":/img/input_ip_press.png"));
    btn_refresh_host_list = new QPushButton(left);
    btn_refresh_host_list->setObjectName(QStringLiteral("btn_refresh_host_list"));
    btn_refresh_host_list->setToolTip(QStringLiteral("刷新"));
    btn_refresh_host_list->setStyleSheet(
        uistyle::imageButton(":/img/refresh.png", ":/img/refresh_hover.png", ":/img/refresh_press.png"));
    for (QPushButton *b : {btn_inputip_1, btn_refresh_host_list}) {
        b->setFixedSize(20, 20);
        b->setCursor(Qt::PointingHandCursor);
        b->setFocusPolicy(Qt::NoFocus);
    }
    headRow->addWidget(label_ip);
    headRow->addStretch(1);
    headRow->addWidget(btn_inputip_1);
    headRow->addWidget(btn_refresh_host_list);
    leftLayout->addLayout(headRow);

    listWidget = new QListWidget(left);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setFrameShape(QFrame::NoFrame);
    listWidget->setSelectionMode(QAbstractItemView::NoSelection);
    listWidget->setFocusPolicy(Qt::NoFocus);
    listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listWidget->setSpacing(2);
    listWidget->setStyleSheet(
        QStringLiteral("QListWidget{background: transparent; outline: none;} QListWidget::item{border: none;}"
                       "QListWidget::item:hover{background: transparent;}"));
    leftLayout->addWidget(listWidget, 1);

    widget_none_host = new QWidget(left);
    widget_none_host->setObjectName(QStringLiteral("widget_none_host"));
    auto *noneLayout = new QVBoxLayout(widget_none_host);
    noneLayout->setContentsMargins(0, 24, 0, 0);
    noneLayout->setSpacing(12);
    label_3 = new QLabel(QStringLiteral("当前局域网内没有找到共享"), widget_none_host);
    label_3->setObjectName(QStringLiteral("label_3"));
    label_3->setAlignment(Qt::AlignCenter);
    label_3->setStyleSheet(QStringLiteral("color: #8A929C; font-size: 13px;"));
    btn_inputip_2 = new QPushButton(QStringLiteral("手动输入"), widget_none_host);
    btn_inputip_2->setObjectName(QStringLiteral("btn_inputip_2"));
    btn_inputip_2->setFixedSize(96, 30);
    btn_inputip_2->setCursor(Qt::PointingHandCursor);
    btn_inputip_2->setStyleSheet(uistyle::secondaryButton());
    noneLayout->addWidget(label_3);
    noneLayout->addWidget(btn_inputip_2, 0, Qt::AlignHCenter);
    noneLayout->addStretch(1);
    leftLayout->addWidget(widget_none_host, 1);
    page->addWidget(left);

    // Right: the illustration and the create button under its right edge.
    auto *right = new QWidget(this);
    right->setObjectName(QStringLiteral("widget_right"));
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(32, 24, 40, 24);
    rightLayout->setSpacing(8);
    main_img = new QLabel(right);
    main_img->setObjectName(QStringLiteral("main_img"));
    main_img->setFixedSize(380, 260);
    main_img->setStyleSheet(QStringLiteral("border-image: url(:/img/chahua1.png);"));
    widget_createshare = new QWidget(right);
    widget_createshare->setObjectName(QStringLiteral("widget_createshare"));
    widget_createshare->setFixedSize(160, 56);
    auto *column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(main_img);
    column->addWidget(widget_createshare, 0, Qt::AlignRight);
    // Seen before the share starts; the host page has the same switches during the share.
    for (SettingCheckBox *box :
         {SettingCheckBox::askBeforeWatching(right), SettingCheckBox::shareSound(right)}) {
        box->setStyleSheet(QStringLiteral("QCheckBox{color: #4A4F57; font-size: 13px; spacing: 6px;}"));
        column->addWidget(box, 0, Qt::AlignRight);
    }
    auto *centring = new QHBoxLayout;
    centring->addStretch(1);
    centring->addLayout(column);
    centring->addStretch(1);
    rightLayout->addStretch(1);
    rightLayout->addLayout(centring);
    rightLayout->addStretch(1);
    page->addWidget(right, 1);

    const QString home = QDir(QDir::homePath()).dirName();
    lineEdit_nickname->setText(home);

    listWidget->hide();
    widget_none_host->show();

    createButton_ = new CreateShareButton(widget_createshare);
    connect(createButton_, &QPushButton::clicked, this, &MainWidget::onBtnCreateShareClicked);

    setContentsMargins(0, 0, 0, 0);
    QMetaObject::connectSlotsByName(this);

    scanner_ = std::make_shared<ScanClient>();
    connect(scanner_.get(), &ScanClient::sigShareListRefreshed, this, &MainWidget::onHostListRefreshed);
    scanner_->postStartScan();
}

MainWidget::~MainWidget() {
    // The scanner's thread may still deliver a list; nothing of this page must receive it.
    if (scanner_)
        disconnect(scanner_.get(), nullptr, this, nullptr);
    scanner_.reset();
}

void MainWidget::onJoinShareClicked() {}

void MainWidget::onHostListRefreshed(QStringList hosts) {
    // Every answer of a sweep repeats the list: the same hosts keep their tiles, so the user's
    // selection and the pointer's tool tip are not lost to a rebuild.
    QSet<QString> shown;
    for (HostWidget *tile : qAsConst(tiles_))
        shown.insert(tile->ip());
    if (!hosts.isEmpty() && shown == QSet<QString>(hosts.begin(), hosts.end()) &&
        shown.size() == tiles_.size())
        return;
    listWidget->clear();
    rows_.clear();
    tiles_.clear();
    qDebug() << "onHostListRefreshed" << hosts;
    if (hosts.isEmpty()) {
        listWidget->hide();
        widget_none_host->show();
        return;
    }
    listWidget->show();
    widget_none_host->hide();
    for (const QString &address : hosts) {
        if (rows_.isEmpty() || rows_.last()->hostCount() >= SelectHost_Line::kMaxHosts) {
            auto *row = new SelectHost_Line;
            rows_.append(row);
            auto *item = new QListWidgetItem(listWidget);
            item->setSizeHint(QSize(0, 53));
            item->setFlags(Qt::ItemIsEnabled);
            listWidget->setItemWidget(item, row);
        }
        SelectHost_Line *row = rows_.last();
        row->addHostWidget(QStringLiteral("123"));
        HostWidget *tile = row->hostAt(row->hostCount() - 1);
        tile->setIp(address);
        tiles_.append(tile);
        connect(tile, &HostWidget::sigClicked, this, &MainWidget::onHostWidgetClicked);
        connect(tile, &HostWidget::sigDoubleClicked, this, &MainWidget::onHostWidgetDoubleClicked);
    }
    update();
}

void MainWidget::onHostWidgetClicked() {
    auto *sender = qobject_cast<HostWidget *>(QObject::sender());
    for (HostWidget *tile : tiles_)
        tile->setSelected(tile == sender);
}

void MainWidget::onHostWidgetDoubleClicked() {
    auto *sender = qobject_cast<HostWidget *>(QObject::sender());
    if (!sender || !tiles_.contains(sender))
        return;
    joinWithNickname(sender->ip());
}

void MainWidget::on_btn_refresh_host_list_clicked() {
    if (scanner_)
        scanner_->postRefresh();
}

void MainWidget::onBtnCreateShareClicked() {
    emit sigCreateShare();
}

void MainWidget::on_btn_inputip_1_clicked() {
    askForAddress();
}

void MainWidget::on_btn_inputip_2_clicked() {
    askForAddress();
}

void MainWidget::askForAddress() {
    InputIpDialog dialog;
    centre(&dialog);
    if (dialog.exec() == QDialog::Accepted)
        joinWithNickname(dialog.ip());
}

void MainWidget::joinWithNickname(const QString &ip) {
    const QString nickName = lineEdit_nickname->text();
    if (nickName.isEmpty()) {
        MessageDialog message(QStringLiteral("昵称能为空!"));
        message.adjustSize();
        centre(&message);
        message.exec();
        return;
    }
    emit sigJoinShare(ip, nickName);
}

void MainWidget::centre(QWidget *dialog) const {
    const QPoint middle = mapToGlobal(QPoint(width() / 2, height() / 2));
    dialog->move(middle - QPoint(dialog->width() / 2, dialog->height() / 2));
}
