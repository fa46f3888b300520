#include "ui/sharewidget.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/logger.h"
#include "rtc/originatorrtcmanager.h"
#include "rtc/rtcmanager.h"
#include "scan/scanserver.h"
#include "signaling/signalingclient.h"
#include "ui/admitmemberdialog.h"
#include "ui/memberlistwidget.h"
#include "ui/messagedialog.h"
#include "ui/mobilephonescreenwidget.h"
#include "ui/multitransfileprogressdialog.h"
#include "ui/pagestyle.h"
#include "ui/quitsharedialog.h"
#include "ui/requestsharescreendialog.h"
#include "ui/settingcheckbox.h"
#include "ui/singletransfileprogressdialog.h"
#include "ui/uistyle.h"
#include "web/attendeepageqr.h"
#include "web/attendeepageserver.h"

namespace {
// Shared by every share of the process, as the start poll only decides about one log line.
int g_startPolls = 0;
}  // namespace

ShareWidget::ShareWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ShareWidget"));
    auto *page = new QHBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(buildMainArea(), 1);
    column->addWidget(buildToolRow());
    page->addLayout(column, 1);
    memberList_ = new MemberListWidget;
    memberList_->setHostMode(true);
    memwidget = pagestyle::memberPanel(this, memberList_);
    page->addWidget(memwidget);
    setMemListButtonLook(true);

    connect(btn_ctrl_memlist, &QPushButton::clicked, this, &ShareWidget::toggleMemberList);
    connect(btn_transfer, &QPushButton::clicked, this, &ShareWidget::sendToEveryone);
    connect(btn_switch, &QPushButton::clicked, this, &ShareWidget::sigSwitchSourceClicked);
    connect(btn_quit, &QPushButton::clicked, this, &ShareWidget::askToQuit);
    connect(check_admit, &QCheckBox::clicked, this, &ShareWidget::onAskBeforeWatchingClicked);
    connect(check_sound, &QCheckBox::clicked, this, &ShareWidget::onShareSoundClicked);
    connect(memberList_, &MemberListWidget::refreshUsersBtnClicked, this,
            &ShareWidget::onRefreshUsersBtnClicked);
    connect(memberList_, &MemberListWidget::sigCancelShareClicked, this, &ShareWidget::onCencelShareClicked);
    connect(memberList_, &MemberListWidget::sigTransferFileClicked, this,
            &ShareWidget::onTransferFileClicked);
    connect(memberList_, &MemberListWidget::sigAdmitClicked, this, &ShareWidget::onAdmitClicked);
}

// The dark area where a watcher's page would show the picture: what the page is doing, the browser
// attendee's way in and the member-list toggle at its side.
QWidget *ShareWidget::buildMainArea() {
    widget_main = uistyle::styledArea(this, QStringLiteral("widget_main"),
                                      uistyle::areaFill(QStringLiteral("widget_main"), uistyle::kDark));
    auto *layout = new QHBoxLayout(widget_main);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    label_msg = new QLabel(tr("屏幕共享中"), widget_main);
    label_msg->setObjectName(QStringLiteral("label_msg"));
    label_msg->setAlignment(Qt::AlignCenter);
    label_msg->setStyleSheet(uistyle::text(uistyle::kOnDark, 26, uistyle::Spaced));
    btn_ctrl_memlist = new QPushButton(widget_main);
    btn_ctrl_memlist->setObjectName(QStringLiteral("btn_ctrl_memlist"));
    btn_ctrl_memlist->setFixedSize(pagestyle::kMemListButtonSize);
    btn_ctrl_memlist->setFocusPolicy(Qt::NoFocus);
    btn_ctrl_memlist->setCursor(Qt::PointingHandCursor);
    auto *centreColumn = new QVBoxLayout;
    centreColumn->setContentsMargins(20, 0, 0, 0);
    centreColumn->setSpacing(24);
    centreColumn->addStretch(1);
    centreColumn->addWidget(label_msg);
    centreColumn->addWidget(buildWebPanel(), 0, Qt::AlignHCenter);
    centreColumn->addStretch(1);
    layout->addLayout(centreColumn, 1);
    layout->addWidget(btn_ctrl_memlist, 0, Qt::AlignRight | Qt::AlignVCenter);
    return widget_main;
}

// The browser attendee's way in: the page's address and its QR code, once both are known.
QWidget *ShareWidget::buildWebPanel() {
    widget_web = uistyle::styledArea(widget_main, QStringLiteral("widget_web"),
                                     pagestyle::webPanel(QStringLiteral("widget_web")));
    auto *layout = new QHBoxLayout(widget_web);
    layout->setContentsMargins(10, 10, 18, 10);
    layout->setSpacing(14);
    label_web_qr = new QLabel(widget_web);
    label_web_qr->setObjectName(QStringLiteral("label_web_qr"));
    label_web_qr->setFixedSize(kPageQrSize, kPageQrSize);
    layout->addWidget(label_web_qr);
    auto *text = new QVBoxLayout;
    text->setSpacing(8);
    text->addStretch(1);
    auto *webTitle = new QLabel(tr("手机或浏览器观看"), widget_web);
    webTitle->setObjectName(QStringLiteral("label_web_title"));
    webTitle->setStyleSheet(uistyle::text(uistyle::kHeading, 16, uistyle::Bold));
    label_web_url = new QLabel(widget_web);
    label_web_url->setObjectName(QStringLiteral("label_web_url"));
    label_web_url->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label_web_url->setStyleSheet(uistyle::text(uistyle::kLink, 15));
    auto *webHint = new QLabel(tr("扫描二维码，或在浏览器中打开此地址"), widget_web);
    webHint->setObjectName(QStringLiteral("label_web_hint"));
    webHint->setStyleSheet(uistyle::text(uistyle::kQuiet, 13));
    text->addWidget(webTitle);
    text->addWidget(label_web_url);
    text->addWidget(webHint);
    text->addStretch(1);
    layout->addLayout(text);
    widget_web->setVisible(false);
    return widget_web;
}

// The blue row under the main area: the host's address, the switches and the share's buttons.
QWidget *ShareWidget::buildToolRow() {
    widget_tools = uistyle::styledArea(this, QStringLiteral("widget_tools"),
                                       uistyle::areaFill(QStringLiteral("widget_tools"), uistyle::kBlue), 49);
    auto *tools = new QHBoxLayout(widget_tools);
    tools->setContentsMargins(20, 0, 16, 0);
    tools->setSpacing(12);
    label_ip = new QLabel(QStringLiteral("IP: XXX.XXX.XXX.XXX"), widget_tools);
    label_ip->setObjectName(QStringLiteral("label_ip"));
    label_ip->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label_ip->setStyleSheet(uistyle::text("white", 15));
    btn_transfer = new QPushButton(tr("批量传输"), widget_tools);
    btn_transfer->setObjectName(QStringLiteral("btn_transfer"));
    btn_switch = new QPushButton(tr("切换共享"), widget_tools);
    btn_switch->setObjectName(QStringLiteral("btn_switch"));
    btn_quit = new QPushButton(tr("退出共享"), widget_tools);
    btn_quit->setObjectName(QStringLiteral("btn_quit"));
    btn_transfer->setStyleSheet(pagestyle::lightButton());
    btn_switch->setStyleSheet(pagestyle::lightButton());
    btn_quit->setStyleSheet(pagestyle::redButton());
    check_admit = SettingCheckBox::askBeforeWatching(widget_tools);
    check_sound = SettingCheckBox::shareSound(widget_tools);
    for (SettingCheckBox *box : {check_admit, check_sound})
        box->setStyleSheet(pagestyle::lightCheckBox());
    tools->addWidget(label_ip);
    tools->addSpacing(12);
    tools->addWidget(check_admit);
    tools->addWidget(check_sound);
    label_sound = new QLabel(tr("没有可共享的声音"), widget_tools);
    label_sound->setObjectName(QStringLiteral("label_sound"));
    label_sound->setToolTip(tr("这台电脑上没有声音服务在运行，观众只能看到画面。"));
    label_sound->setStyleSheet(uistyle::text(uistyle::kWarning, 13));
    label_sound->hide();
    tools->addWidget(label_sound);
    tools->addStretch(1);
    pagestyle::addToolButtons(tools, {btn_transfer, btn_switch, btn_quit});
    return widget_tools;
}

ShareWidget::~ShareWidget() {
    closeAdmitDialog();
    stopPageServer();
    shareScreens_.clear();
    multiDialog_.reset();
    singleDialog_.reset();
    if (responder_)
        disconnect(responder_.get(), nullptr, this, nullptr);
    responder_.reset();
    client_.reset();
    memberList_->setSignalingClient(nullptr);
    if (manager_)
        disconnect(manager_.get(), nullptr, this, nullptr);
    manager_.reset();
}

void ShareWidget::setMemListButtonLook(bool shown) {
    btn_ctrl_memlist->setStyleSheet(shown ? pagestyle::foldButton() : pagestyle::openButton());
    btn_ctrl_memlist->setToolTip(shown ? tr("收起成员列表") : tr("展开成员列表"));
}

void ShareWidget::openOverMainArea(QDialog *dialog) {
    dialog->adjustSize();
    uistyle::centreOver(dialog, widget_main);
    dialog->open();
}

void ShareWidget::releaseManager() {
    closeAdmitDialog();
    memberList_->setWaiting({});
    client_.reset();
    memberList_->setSignalingClient(nullptr);
    if (!manager_)
        return;
    RtcManager *manager = manager_.release();
    disconnect(manager, nullptr, this, nullptr);
    // Called from the manager's own signals: it is deleted once their emission has returned.
    manager->deleteLater();
}

void ShareWidget::createShare() {
    if (manager_)
        return;
    manager_ = RtcManager::create(1);
    if (!manager_)
        return;
    started_ = false;
    g_startPolls = 0;
    manager_->setServerPort(kServerPort);
    RtcManager *m = manager_.get();
    connect(m, &RtcManager::sigRtcStarted, this, &ShareWidget::onRtcStarted);
    connect(m, &RtcManager::sigRtcStoped, this, &ShareWidget::onRtcStoped);
    connect(m, &RtcManager::sigRtcStartFailed, this, &ShareWidget::onRtcStartFail);
    connect(m, &RtcManager::sigFileTransferBegin, this, &ShareWidget::onSingleTransferFileBegin);
    connect(m, &RtcManager::sigFileTransferProgressChanged, this,
            &ShareWidget::onSingleTransferFileProgressChanged);
    connect(m, &RtcManager::sigFileTransferFail, this, &ShareWidget::onSingleTransferFileFail);
    connect(m, &RtcManager::sigRequestShareScreen, this, &ShareWidget::onRequestShareScreen);
    connect(m, &RtcManager::sigShareScreenClosed, this, &ShareWidget::onShareScreenClosed);
    if (OriginatorRtcManager *h = host()) {
        h->setAskBeforeWatching(SettingCheckBox::stored(SettingCheckBox::kAskBeforeWatching));
        // Off, nothing is captured at all; turned on, every member that asked for sound hears it.
        onShareSoundClicked(SettingCheckBox::stored(SettingCheckBox::kShareSound));
        connect(h, &OriginatorRtcManager::sigAdmissionQueueChanged, this,
                &ShareWidget::onAdmissionQueueChanged);
    }
    m->start();
    QTimer::singleShot(kStartPollMs, Qt::PreciseTimer, this, &ShareWidget::checkStarted);
}

void ShareWidget::checkStarted() {
    ++g_startPolls;
    if (started_) {
        g_startPolls = 0;
        return;
    }
    if (g_startPolls <= kStartPollLimit - 1) {
        QTimer::singleShot(kStartPollMs, Qt::PreciseTimer, this, &ShareWidget::checkStarted);
        return;
    }
    g_logger->info("ShareWidget,create share rtc, start time out");
}

void ShareWidget::onRtcStarted() {
    g_logger->info("ShareWidget,create share rtc started");
    started_ = true;
    if (!manager_)
        return;
    client_ = manager_->signalingClient();
    memberList_->setSignalingClient(client_);
    if (client_)
        client_->requestAllUser();
    memberList_->onAlluserRefreshed({});
    emit sigShareCreated();

    startPageServer();
    responder_ = std::make_shared<ScanServer>();
    connect(responder_.get(), &ScanServer::sigListeningSuccess, this, &ShareWidget::onUdpScanServerStarted);
    connect(responder_.get(), &ScanServer::sigListeningFail, this, &ShareWidget::onUdpScanServerStartFail);
    connect(responder_.get(), &ScanServer::sigStop, this, &ShareWidget::onUdpScanServerStoped);
    connect(responder_.get(), &ScanServer::siglocalIp, this, &ShareWidget::onLocalIp);
    responder_->postStartListening(kScanPort);
}

void ShareWidget::startPageServer() {
    if (pageServer_)
        return;
    localIp_.clear();
    pageServer_ = std::make_unique<AttendeePageServer>();
    // Without the page the share still serves desktop and mobile attendees.
    if (!pageServer_->start()) {
        g_logger->warn("ShareWidget,attendee page server could not start on port {}",
                       AttendeePageServer::kPort);
        pageServer_.reset();
        return;
    }
    g_logger->info("ShareWidget,attendee page served on port {}", pageServer_->port());
}

void ShareWidget::stopPageServer() {
    localIp_.clear();
    widget_web->setVisible(false);
    label_web_url->clear();
    label_web_qr->clear();
    if (!pageServer_)
        return;
    pageServer_->stop();
    pageServer_.reset();
}

void ShareWidget::showPageAddress(const QString &ip) {
    const QString url = pageServer_->url(ip);
    const QImage qr = AttendeePageQr::render(url, kPageQrSize);
    label_web_url->setText(url);
    label_web_qr->setPixmap(QPixmap::fromImage(qr));
    widget_web->setVisible(!qr.isNull());
}

void ShareWidget::onRtcStartFail() {
    g_logger->error("ShareWidget,create share rtc start fail");
    g_logger->flush();
    releaseManager();
    emit sigCreateShareFail();
}

void ShareWidget::onRtcStoped() {
    g_logger->warn("create share rtc stop");
    releaseManager();
    // A share that ends on its own (or by the quit button while a file goes out) leaves no transfer
    // dialog behind on the start page.
    if (singleDialog_ && singleDialog_->isVisible())
        singleDialog_->accept();
    if (multiDialog_ && multiDialog_->isVisible())
        multiDialog_->accept();
    // The responder ends with the share, also when the share ended without the quit button.
    if (responder_)
        responder_->postStopListening();
    label_ip->setText(QStringLiteral("IP: XXX.XXX.XXX.XXX"));
    stopPageServer();
    memberList_->onAlluserRefreshed({});
    emit sigQuitShare();
    for (const auto &window : qAsConst(shareScreens_))
        window->close();
    shareScreens_.clear();
}

void ShareWidget::chooseFileToSend(const std::function<void(const QString &path)> &send) {
    if (!manager_)
        return;
    if (manager_->transferFileRunning()) {
        MessageDialog::openOver(widget_main, tr("请等待上一文件传输完成"));
        return;
    }
    auto *dialog = new QFileDialog(window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // A cancelled dialog sends nothing; the share may have ended while it was up.
    connect(dialog, &QFileDialog::fileSelected, this, [this, send](const QString &path) {
        if (manager_ && !path.isEmpty())
            send(path);
    });
    dialog->open();
}

void ShareWidget::sendToEveryone() {
    chooseFileToSend([this](const QString &path) {
        const QSet<QString> waiting = memberList_->waiting();
        const QStringList ids = memberList_->memberIds();
        for (const QString &id : ids) {
            if (!waiting.contains(id))
                manager_->transferFile(id, path);
        }
        multiDialog_ = std::make_unique<MultiTransFileProgressDialog>(window());
        watchTransferDialog(multiDialog_.get());
    });
}

void ShareWidget::onRefreshUsersBtnClicked() {
    if (client_)
        client_->requestAllUser();
}

void ShareWidget::askToQuit() {
    auto *dialog = new QuitShareDialog(window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, &ShareWidget::stopShare);
    openOverMainArea(dialog);
}

void ShareWidget::stopShare() {
    if (manager_)
        manager_->stop();
    if (responder_)
        responder_->postStopListening();
}

bool ShareWidget::endShare() {
    if (!manager_)
        return false;
    g_logger->warn("ShareWidget, the shared screen is gone; the share ends");
    stopShare();
    return true;
}

void ShareWidget::onUdpScanServerStarted() {
    g_logger->info("ShareWidget,udp scan server started");
}

void ShareWidget::onUdpScanServerStartFail() {
    g_logger->error("ShareWidget,udp scan server start fail");
    g_logger->flush();
    auto *box = new QMessageBox(QMessageBox::Warning, tr("错误"),
                                tr("启动扫描服务时出错！\n请检查网络环境;\n"
                                   "否则您的共享将不能被局域网内其他设备所发现!"),
                                QMessageBox::Ok, window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void ShareWidget::onUdpScanServerStoped() {
    g_logger->warn("ShareWidget,udp scan server stop");
    auto *stopped = qobject_cast<ScanServer *>(sender());
    if (!responder_ || (stopped && stopped != responder_.get()))
        return;
    disconnect(responder_.get(), nullptr, this, nullptr);
    // Destroying the responder joins its thread; do it once this slot has returned.
    std::shared_ptr<ScanServer> gone = std::move(responder_);
    QTimer::singleShot(0, this, [gone]() {});
}

void ShareWidget::onLocalIp(QString ip) {
    label_ip->setText(QStringLiteral("IP: ") + ip);
    // The address may come before or after the page server is up.
    localIp_ = ip;
    if (pageServer_)
        showPageAddress(ip);
}

void ShareWidget::onCencelShareClicked(QString id) {
    g_logger->warn("ShareWidget,cut off share(id:{})", id.toStdString());
    if (manager_)
        manager_->cutOffShare(id);
}

void ShareWidget::onTransferFileClicked(QString id) {
    g_logger->info("ShareWidget,transfer file to one member clicked");
    chooseFileToSend([this, id](const QString &path) {
        manager_->transferFile(id, path);
        singleDialog_ = std::make_unique<SingleTransFileProgressDialog>(window());
        watchTransferDialog(singleDialog_.get());
    });
}

void ShareWidget::watchTransferDialog(QDialog *dialog) {
    connect(dialog, &QDialog::finished, this, [this, dialog] {
        // Closing the dialog ends the transfer, done or not.
        if (manager_)
            manager_->stopFileTransfer();
        if (dialog == singleDialog_.get())
            singleDialog_.release();
        else if (dialog == multiDialog_.get())
            multiDialog_.release();
        disconnect(dialog, nullptr, this, nullptr);
        // Deleted once its finished signal has returned.
        dialog->deleteLater();
    });
}

void ShareWidget::onSingleTransferFileBegin(QString id) {
    g_logger->info("ShareWidget,transfer file begin");
    if (singleDialog_) {
        singleDialog_->setProgress(0);
        if (singleDialog_->isVisible())
            return;
        singleDialog_->setTransferRunning(manager_ && manager_->transferFileRunning());
        uistyle::centreOver(singleDialog_.get(), widget_main);
        singleDialog_->open();
    } else if (multiDialog_) {
        multiDialog_->setTransferRunning(manager_ && manager_->transferFileRunning());
        multiDialog_->addMember(id, memberList_->nickName(id));
        if (multiDialog_->isVisible())
            return;
        uistyle::centreOver(multiDialog_.get(), widget_main);
        multiDialog_->open();
    }
}

void ShareWidget::onSingleTransferFileProgressChanged(QString id, int value) {
    if (singleDialog_) {
        singleDialog_->setTransferRunning(manager_ && manager_->transferFileRunning());
        singleDialog_->setProgress(value);
    } else if (multiDialog_) {
        multiDialog_->setTransferRunning(manager_ && manager_->transferFileRunning());
        multiDialog_->setMemberProgress(id, value);
    }
}

void ShareWidget::onSingleTransferFileFail(QString id, QString error) {
    g_logger->info("ShareWidget,transfer file error:{}", error.toStdString());
    if (singleDialog_) {
        singleDialog_->setTransferRunning(manager_ && manager_->transferFileRunning());
        singleDialog_->accept();
        MessageDialog::openAloneOver(widget_main, error);
    } else if (multiDialog_) {
        multiDialog_->setTransferRunning(manager_ && manager_->transferFileRunning());
        multiDialog_->setMemberState(id, tr("文件传输中断"));
    }
}

void ShareWidget::onRequestShareScreen(QString id) {
    if (!manager_)
        return;
    const QString name = memberList_->nickName(id);
    if (name.isEmpty())
        return;
    // One question at a time: each request would open a dialog inside the one still asking. A
    // repeat from the member being asked is ignored; another member is refused and may ask again.
    if (!askingShareOf_.isEmpty()) {
        if (askingShareOf_ != id) {
            g_logger->info("ShareWidget, share screen request of {} refused: another request is open",
                           id.toStdString());
            manager_->refuseShare(id);
        }
        return;
    }
    askingShareOf_ = id;
    auto *dialog = new RequestShareScreenDialog(window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setName(name);
    connect(dialog, &QDialog::finished, this,
            [this, id, name](int answer) { onShareScreenAnswered(id, name, answer); });
    openOverMainArea(dialog);
}

void ShareWidget::onShareScreenAnswered(const QString &id, const QString &name, int answer) {
    askingShareOf_.clear();
    // The share may have ended while the question was up.
    if (!manager_)
        return;
    if (answer == QDialog::Accepted) {
        g_logger->info("ShareWidget,share screen agree!!!");
        std::shared_ptr<MobilePhoneScreenWidget> window = shareScreens_.value(id);
        if (!window) {
            window = std::make_shared<MobilePhoneScreenWidget>();
            shareScreens_.insert(id, window);
            // One connection per window: a reused window sends one stop when it closes.
            connect(window.get(), &MobilePhoneScreenWidget::sigClosed, this,
                    &ShareWidget::onShareWidgetClosed);
        }
        manager_->setShareScreenWidget(id, window->videoWidget());
        manager_->agreeShare(id);
        window->setName(name);
        window->show();
    } else {
        g_logger->error("ShareWidget,share screen refuse!!!");
        g_logger->flush();
        manager_->refuseShare(id);
    }
}

void ShareWidget::onShareWidgetClosed() {
    g_logger->warn("ShareWidget,share screen widget closed!");
    for (auto it = shareScreens_.cbegin(); it != shareScreens_.cend(); ++it) {
        if (it.value().get() == sender() && manager_)
            manager_->stopShare(it.key());
    }
}

void ShareWidget::onShareScreenClosed(QString id) {
    g_logger->warn("ShareWidget,share screen closed!");
    if (auto window = shareScreens_.value(id))
        window->close();
}

void ShareWidget::toggleMemberList() {
    memListShown_ = !memListShown_;
    setMemListButtonLook(memListShown_);
    memwidget->setVisible(memListShown_);
}

OriginatorRtcManager *ShareWidget::host() const {
    return qobject_cast<OriginatorRtcManager *>(manager_.get());
}

void ShareWidget::onAskBeforeWatchingClicked(bool ask) {
    g_logger->info("ShareWidget, ask before someone watches: {}", ask ? "on" : "off");
    // Turned off during a share, it lets in everyone who waits.
    if (OriginatorRtcManager *h = host())
        h->setAskBeforeWatching(ask);
}

void ShareWidget::onShareSoundClicked(bool on) {
    g_logger->info("ShareWidget, share sound: {}", on ? "on" : "off");
    OriginatorRtcManager *h = host();
    if (!h)
        return;
    const bool heard =
        h->setShareSound(on ? OriginatorRtcManager::kSoundSpeakers : OriginatorRtcManager::kSoundNone, false);
    if (!heard)
        g_logger->warn("ShareWidget, no sound to share: no sound server answers; the picture goes on alone");
    label_sound->setVisible(!heard);
}

void ShareWidget::onAdmissionQueueChanged() {
    OriginatorRtcManager *h = host();
    QSet<QString> waiting;
    if (h) {
        const auto members = h->waitingMembers();
        for (const AdmissionQueue::Member &m : members)
            waiting.insert(m.id);
    }
    memberList_->setWaiting(waiting);
    askNextWaiting();
}

void ShareWidget::askNextWaiting() {
    OriginatorRtcManager *h = host();
    const QList<AdmissionQueue::Member> waiting = h ? h->waitingMembers() : QList<AdmissionQueue::Member>();
    if (admitDialog_) {
        if (!waiting.isEmpty() && waiting.first().id == admitDialog_->memberId()) {
            admitDialog_->setWaitingCount(waiting.size());
            return;
        }
        // The member asked about left (or was answered from the member list).
        closeAdmitDialog();
    }
    if (waiting.isEmpty())
        return;
    admitDialog_ = std::make_unique<AdmitMemberDialog>(waiting.first());
    admitDialog_->setWaitingCount(waiting.size());
    connect(admitDialog_.get(), &QDialog::finished, this, &ShareWidget::onAdmitAnswered);
    admitDialog_->adjustSize();
    uistyle::centreOver(admitDialog_.get(), widget_main);
    admitDialog_->open();
}

AdmitMemberDialog *ShareWidget::releaseAdmitDialog() {
    AdmitMemberDialog *dialog = admitDialog_.release();
    if (dialog) {
        disconnect(dialog, nullptr, this, nullptr);
        // Deleted once the slot that answers its finished signal has returned.
        dialog->deleteLater();
    }
    return dialog;
}

void ShareWidget::closeAdmitDialog() {
    if (AdmitMemberDialog *dialog = releaseAdmitDialog())
        dialog->withdraw();
}

void ShareWidget::onAdmitAnswered(int answer) {
    AdmitMemberDialog *dialog = releaseAdmitDialog();
    if (!dialog)
        return;
    const QString id = dialog->memberId();
    OriginatorRtcManager *h = host();
    if (!h)
        return;
    switch (answer) {
        case AdmitMemberDialog::Admit:
            g_logger->info("ShareWidget, admit member(id:{})", id.toStdString());
            h->admit(id);
            break;
        case AdmitMemberDialog::AdmitAll:
            g_logger->info("ShareWidget, admit all waiting members");
            h->admitAllWaiting();
            break;
        case AdmitMemberDialog::Refuse:
            g_logger->info("ShareWidget, refuse member(id:{})", id.toStdString());
            h->refuse(id);
            break;
        default:
            break;
    }
    askNextWaiting();
}

void ShareWidget::onAdmitClicked(QString id) {
    if (OriginatorRtcManager *h = host()) {
        g_logger->info("ShareWidget, admit member(id:{})", id.toStdString());
        h->admit(id);
    }
}
