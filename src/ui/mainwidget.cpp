#include "ui/mainwidget.h"

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
#include "ui/pagestyle.h"
#include "ui/selecthost_line.h"
#include "ui/settingcheckbox.h"
#include "ui/uilog.h"
#include "ui/uistyle.h"

MainWidget::MainWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MainWidget"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(uistyle::areaFill(objectName(), "white"));
    setContentsMargins(0, 0, 0, 0);
    auto *page = new QHBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    page->addWidget(buildSharesPanel());
    page->addWidget(buildCreateArea(), 1);

    connect(btn_inputip_1, &QPushButton::clicked, this, &MainWidget::askForAddress);
    connect(btn_inputip_2, &QPushButton::clicked, this, &MainWidget::askForAddress);
    connect(btn_refresh_host_list, &QPushButton::clicked, this, &MainWidget::refreshHosts);
    connect(createButton_, &QPushButton::clicked, this, &MainWidget::sigCreateShare);

    scanner_ = std::make_shared<ScanClient>();
    connect(scanner_.get(), &ScanClient::sigShareListRefreshed, this, &MainWidget::onHostListRefreshed);
    scanner_->postStartScan();
}

// Left: the nickname and the shares found, or a way to type an address when none is found.
QWidget *MainWidget::buildSharesPanel() {
    auto *panel = uistyle::styledArea(this, QStringLiteral("widget_left"),
                                      uistyle::areaFill(QStringLiteral("widget_left"), uistyle::kPanel));
    panel->setFixedWidth(340);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(24, 24, 16, 16);
    layout->setSpacing(12);
    layout->addLayout(buildNicknameRow(panel));
    layout->addLayout(buildListHeader(panel));

    listWidget = new QListWidget(panel);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setFrameShape(QFrame::NoFrame);
    listWidget->setSelectionMode(QAbstractItemView::NoSelection);
    listWidget->setFocusPolicy(Qt::NoFocus);
    listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listWidget->setSpacing(2);
    listWidget->setStyleSheet(uistyle::tileList());
    listWidget->hide();
    layout->addWidget(listWidget, 1);
    layout->addWidget(buildNoShares(panel), 1);
    return panel;
}

QLayout *MainWidget::buildNicknameRow(QWidget *panel) {
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    label_nickname = new QLabel(tr("昵称:"), panel);
    label_nickname->setObjectName(QStringLiteral("label_nickname"));
    label_nickname->setStyleSheet(uistyle::text(uistyle::kInk, 14));
    lineEdit_nickname = new QLineEdit(panel);
    lineEdit_nickname->setObjectName(QStringLiteral("lineEdit_nickname"));
    lineEdit_nickname->setFixedHeight(30);
    lineEdit_nickname->setMaxLength(32);
    lineEdit_nickname->setStyleSheet(uistyle::lineEdit(uistyle::kInk));
    lineEdit_nickname->setText(QDir(QDir::homePath()).dirName());
    row->addWidget(label_nickname);
    row->addWidget(lineEdit_nickname, 1);
    return row;
}

QLayout *MainWidget::buildListHeader(QWidget *panel) {
    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    label_ip = new QLabel(tr("设备列表"), panel);
    label_ip->setObjectName(QStringLiteral("label_ip"));
    label_ip->setStyleSheet(uistyle::text(uistyle::kInk, 14, uistyle::Bold));
    btn_inputip_1 = new QPushButton(panel);
    btn_inputip_1->setObjectName(QStringLiteral("btn_inputip_1"));
    btn_inputip_1->setToolTip(tr("手动输入"));
    btn_inputip_1->setStyleSheet(
        uistyle::imageButton(":/img/input_ip.png", ":/img/input_ip_hover.png", ":/img/input_ip_press.png"));
    btn_refresh_host_list = new QPushButton(panel);
    btn_refresh_host_list->setObjectName(QStringLiteral("btn_refresh_host_list"));
    btn_refresh_host_list->setToolTip(tr("刷新"));
    btn_refresh_host_list->setStyleSheet(
        uistyle::imageButton(":/img/refresh.png", ":/img/refresh_hover.png", ":/img/refresh_press.png"));
    for (QPushButton *b : {btn_inputip_1, btn_refresh_host_list}) {
        b->setFixedSize(20, 20);
        b->setCursor(Qt::PointingHandCursor);
        b->setFocusPolicy(Qt::NoFocus);
    }
    row->addWidget(label_ip);
    row->addStretch(1);
    row->addWidget(btn_inputip_1);
    row->addWidget(btn_refresh_host_list);
    return row;
}

QWidget *MainWidget::buildNoShares(QWidget *panel) {
    widget_none_host = new QWidget(panel);
    widget_none_host->setObjectName(QStringLiteral("widget_none_host"));
    auto *layout = new QVBoxLayout(widget_none_host);
    layout->setContentsMargins(0, 24, 0, 0);
    layout->setSpacing(12);
    label_3 = new QLabel(tr("当前局域网内没有找到共享"), widget_none_host);
    label_3->setObjectName(QStringLiteral("label_3"));
    label_3->setAlignment(Qt::AlignCenter);
    label_3->setStyleSheet(uistyle::text(uistyle::kHint, 13));
    btn_inputip_2 = new QPushButton(tr("手动输入"), widget_none_host);
    btn_inputip_2->setObjectName(QStringLiteral("btn_inputip_2"));
    btn_inputip_2->setMinimumWidth(96);  // wider where the text needs it
    btn_inputip_2->setFixedHeight(30);
    btn_inputip_2->setCursor(Qt::PointingHandCursor);
    btn_inputip_2->setStyleSheet(uistyle::secondaryButton());
    layout->addWidget(label_3);
    layout->addWidget(btn_inputip_2, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return widget_none_host;
}

// Right: the illustration, the create button under its right edge and the host's switches.
QWidget *MainWidget::buildCreateArea() {
    auto *area = new QWidget(this);
    area->setObjectName(QStringLiteral("widget_right"));
    auto *layout = new QVBoxLayout(area);
    layout->setContentsMargins(32, 24, 40, 24);
    layout->setSpacing(8);
    main_img = new QLabel(area);
    main_img->setObjectName(QStringLiteral("main_img"));
    main_img->setFixedSize(380, 260);
    main_img->setStyleSheet(uistyle::picture(":/img/chahua1.png"));
    widget_createshare = new QWidget(area);
    widget_createshare->setObjectName(QStringLiteral("widget_createshare"));
    createButton_ = new CreateShareButton(widget_createshare);
    // Room for the button's large look, which a longer text widens.
    widget_createshare->setFixedSize(qMax(160, createButton_->lookSize(true).width()), 56);
    auto *column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(main_img);
    column->addWidget(widget_createshare, 0, Qt::AlignRight);
    // Seen before the share starts; the host page has the same switches during the share.
    for (SettingCheckBox *box :
         {SettingCheckBox::askBeforeWatching(area), SettingCheckBox::shareSound(area)}) {
        box->setStyleSheet(pagestyle::checkBox());
        column->addWidget(box, 0, Qt::AlignRight);
    }
    auto *centring = new QHBoxLayout;
    centring->addStretch(1);
    centring->addLayout(column);
    centring->addStretch(1);
    layout->addStretch(1);
    layout->addLayout(centring);
    layout->addStretch(1);
    return area;
}

MainWidget::~MainWidget() {
    // The scanner's thread may still deliver a list; nothing of this page must receive it.
    if (scanner_)
        disconnect(scanner_.get(), nullptr, this, nullptr);
    scanner_.reset();
}

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
    qCDebug(lcUi) << "shares found:" << hosts;
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
    for (HostWidget *tile : qAsConst(tiles_))
        tile->setSelected(tile == sender);
}

void MainWidget::onHostWidgetDoubleClicked() {
    auto *sender = qobject_cast<HostWidget *>(QObject::sender());
    if (!sender || !tiles_.contains(sender))
        return;
    joinWithNickname(sender->ip());
}

void MainWidget::refreshHosts() {
    if (scanner_)
        scanner_->postRefresh();
}

void MainWidget::askForAddress() {
    auto *dialog = new InputIpDialog(window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    uistyle::centreOver(dialog, this);
    connect(dialog, &QDialog::accepted, this, [this, dialog] { joinWithNickname(dialog->ip()); });
    dialog->open();
}

void MainWidget::joinWithNickname(const QString &ip) {
    const QString nickName = lineEdit_nickname->text();
    if (nickName.isEmpty()) {
        MessageDialog::openOver(this, tr("昵称能为空!"));
        return;
    }
    emit sigJoinShare(ip, nickName);
}
