#include "ui/watchwidget.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "core/logger.h"
#include "rtc/attendeertcmanager.h"
#include "rtc/rtcmanager.h"
#include "signaling/signalingclient.h"
#include "ui/memberlistwidget.h"
#include "ui/messagedialog.h"
#include "ui/pagestyle.h"
#include "ui/receivefiledialog.h"
#include "ui/soundcontrol.h"
#include "ui/uilog.h"
#include "ui/uistyle.h"
#include "ui/watchtoolwidget.h"
#include "video/openglhelper.h"
#include "video/openglwidget.h"
#include "video/videowidget.h"

WatchWidget::WatchWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("WatchWidget"));
    setWindowIcon(QIcon(QStringLiteral(":/img/128px_logo.png")));
    auto *page = new QHBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(buildView(), 1);
    column->addWidget(buildToolRow());
    page->addLayout(column, 1);
    memberList_ = new MemberListWidget;
    memwidget = pagestyle::memberPanel(this, memberList_);
    page->addWidget(memwidget);

    connect(tool_, &WatchToolWidget::sigFullScrrenButtonClicked, this, &WatchWidget::onFullScreenBtnClicked);
    connect(tool_, &WatchToolWidget::sigCtrlMemListBtnClicked, this, &WatchWidget::onCtrlMemlistBtnClicked);
    connect(memberList_, &MemberListWidget::refreshUsersBtnClicked, this,
            &WatchWidget::onRefreshUsersBtnClicked);
    connect(sound_, &SoundControl::sigChanged, this, [this](double volume, bool muted) {
        if (auto *attendee = qobject_cast<AttendeeRtcManager *>(manager_.get()))
            attendee->setSoundVolume(volume, muted);
    });
    connect(pushButton, &QPushButton::clicked, this, &WatchWidget::openDownloadFolder);
    connect(btn_quit, &QPushButton::clicked, this, &WatchWidget::onQuitClicked);
    admissionTimer_.setSingleShot(true);
    admissionTimer_.setInterval(kAdmissionWaitMs);
    connect(&admissionTimer_, &QTimer::timeout, this, &WatchWidget::onAdmissionTimeout);
}

// The host's picture with the tool overlay over it.
QWidget *WatchWidget::buildView() {
    viewWidget = uistyle::styledArea(this, QStringLiteral("viewWidget"),
                                     uistyle::areaFill(QStringLiteral("viewWidget"), uistyle::kDark));
    // The view is shared with the session manager, which draws into it from the engine's threads;
    // the page lets it go before Qt's child clean-up would reach it.
    if (OpenGLHelper::isSupported()) {
        auto view = std::make_shared<OpenGLWidget>();
        viewAsWidget_ = view.get();
        view_ = view;
    } else {
        auto view = std::make_shared<VideoWidget>();
        view->setBackgroundColor(59, 59, 64);
        viewAsWidget_ = view.get();
        view_ = view;
    }
    viewAsWidget_->setObjectName(QStringLiteral("video_view"));
    auto *layout = new QVBoxLayout(viewWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(viewAsWidget_);

    tool_ = new WatchToolWidget(viewAsWidget_);
    auto *overLayout = new QVBoxLayout(viewAsWidget_);
    overLayout->setContentsMargins(0, 0, 0, 0);
    overLayout->addWidget(tool_);
    tool_->setMemListButtonState(1);
    return viewWidget;
}

QWidget *WatchWidget::buildToolRow() {
    toolsWidget = uistyle::styledArea(this, QStringLiteral("toolsWidget"),
                                      uistyle::areaFill(QStringLiteral("toolsWidget"), uistyle::kBlue), 49);
    auto *tools = new QHBoxLayout(toolsWidget);
    tools->setContentsMargins(16, 0, 16, 0);
    tools->setSpacing(12);
    label_admission = new QLabel(tr("正在等待主持人允许你观看…"), toolsWidget);
    label_admission->setObjectName(QStringLiteral("label_admission"));
    label_admission->setStyleSheet(uistyle::text("white", 14));
    label_admission->hide();
    tools->addWidget(label_admission);
    tools->addStretch(1);
    sound_ = new SoundControl(toolsWidget);
    sound_->setObjectName(QStringLiteral("sound_control"));
    tools->addWidget(sound_);
    pushButton = new QPushButton(tr("文件路径"), toolsWidget);
    pushButton->setObjectName(QStringLiteral("pushButton"));
    pushButton->setStyleSheet(pagestyle::blueButton());
    pushButton->setToolTip(tr("打开下载文件夹"));
    btn_quit = new QPushButton(tr("退出共享"), toolsWidget);
    btn_quit->setObjectName(QStringLiteral("btn_quit"));
    btn_quit->setStyleSheet(pagestyle::redButton());
    pagestyle::addToolButtons(tools, {pushButton, btn_quit});
    return toolsWidget;
}

WatchWidget::~WatchWidget() {
    receiveDialog_.reset();
    client_.reset();
    memberList_->setSignalingClient(nullptr);
    if (manager_)
        disconnect(manager_.get(), nullptr, this, nullptr);
    manager_.reset();
    delete tool_;
    tool_ = nullptr;
    view_.reset();
}

void WatchWidget::releaseManager() {
    admissionTimer_.stop();
    label_admission->hide();
    if (client_)
        disconnect(client_.get(), nullptr, this, nullptr);
    client_.reset();
    memberList_->setSignalingClient(nullptr);
    if (!manager_)
        return;
    RtcManager *manager = manager_.release();
    disconnect(manager, nullptr, this, nullptr);
    // The manager keeps the view strongly; it must not outlive the page with it.
    manager->setVideoWidget(std::weak_ptr<VideoWidgetInterface>());
    view_->renderFrame(std::weak_ptr<VideoFrameInterface>());
    manager->deleteLater();
}

void WatchWidget::joinShare(const QString &ip, const QString &nickName) {
    g_logger->info("WatchWidget, join share, current manager'value: {}",
                   reinterpret_cast<quintptr>(manager_.get()));
    if (manager_)
        return;
    manager_ = RtcManager::create(0);
    if (!manager_)
        return;
    if (auto *attendee = qobject_cast<AttendeeRtcManager *>(manager_.get())) {
        attendee->setPlaysSound(true);
        attendee->setSoundVolume(sound_->volume(), sound_->muted());
        connect(attendee, &AttendeeRtcManager::sigDownloadFolderReady, this,
                [](const QString &folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); });
    }
    client_ = manager_->signalingClient();
    if (client_) {
        client_->setNickName(nickName);
        memberList_->setSignalingClient(client_);
        // The client tells only what its host says; it emits on its own thread.
        connect(client_.get(), &SignalingClient::sigAdmissionWaiting, this, &WatchWidget::onAdmissionWaiting);
        connect(client_.get(), &SignalingClient::sigAdmitted, this, &WatchWidget::onAdmitted);
    }
    memberList_->onAlluserRefreshed({});
    manager_->setServerIp(ip);
    manager_->setServerPort(kServerPort);
    manager_->setVideoWidget(view_);
    RtcManager *m = manager_.get();
    connect(m, &RtcManager::sigRtcStarted, this, &WatchWidget::onRtcStarted);
    connect(m, &RtcManager::sigRtcStoped, this, &WatchWidget::onRtcStoped);
    connect(m, &RtcManager::sigRtcStartFailed, this, &WatchWidget::onRtcStartFail);
    connect(m, &RtcManager::sigFileTransferBegin, this, &WatchWidget::onReceiveFileBegin);
    connect(m, &RtcManager::sigFileTransferProgressChanged, this, &WatchWidget::onReceiveFileProgressChanged);
    connect(m, &RtcManager::sigFileTransferFail, this, &WatchWidget::onReceiveFileFail);
    m->start();
    // The time-out belongs to this attempt only: a later attempt has a manager of its own.
    QTimer::singleShot(kJoinTimeoutMs, Qt::CoarseTimer, this, [this, m]() { onJoinTimeout(m); });
}

void WatchWidget::onJoinTimeout(const RtcManager *manager) {
    if (isVisible() || !manager_ || manager_.get() != manager)
        return;
    g_logger->info("WatchWidget, join share time out");
    releaseManager();
    emit sigJoinShareFail();
}

void WatchWidget::onRtcStarted() {
    g_logger->info("WatchWidget, rtc started");
    emit sigShareJoined();
}

void WatchWidget::onRtcStartFail() {
    g_logger->info("WatchWidget, rtc start fail");
    releaseManager();
    emit sigJoinShareFail();
}

void WatchWidget::onRtcStoped() {
    g_logger->info("WatchWidget, rtc stoped");
    // An open receive dialog ends with the share.
    if (receiveDialog_ && receiveDialog_->isVisible())
        receiveDialog_->accept();
    emit sigQuitShare();
    QMetaObject::invokeMethod(this, &WatchWidget::clear, Qt::QueuedConnection);
}

void WatchWidget::clear() {
    releaseManager();
    memberList_->onAlluserRefreshed({});
}

void WatchWidget::onAdmissionWaiting() {
    if (!manager_ || admissionTimer_.isActive())
        return;
    g_logger->info("WatchWidget, waiting for the host to let us in");
    label_admission->show();
    admissionTimer_.start();
}

void WatchWidget::onAdmitted() {
    if (admissionTimer_.isActive())
        g_logger->info("WatchWidget, the host let us in");
    admissionTimer_.stop();
    label_admission->hide();
}

void WatchWidget::onAdmissionTimeout() {
    g_logger->info("WatchWidget, the host did not let us in");
    label_admission->hide();
    if (manager_)
        manager_->stop();
    emit sigNotAdmitted();
}

void WatchWidget::onQuitClicked() {
    g_logger->info("WatchWidget, cancel rtc clicked");
    if (manager_)
        manager_->stop();
}

void WatchWidget::openDownloadFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        g_logger->warn("WatchWidget, cannot open the download folder {}", folder.toStdString());
}

void WatchWidget::onFullScreenBtnClicked() {
    if (fullScreen_)
        emit sigNormalBtnClicked();
    else
        emit sigFullScreenBtnClicked();
}

void WatchWidget::setFullScreenMode() {
    fullScreen_ = true;
    memwidget->hide();
    tool_->showNarrowIcon();
    toolsWidget->hide();
}

void WatchWidget::setNormalMode() {
    fullScreen_ = false;
    memwidget->show();
    tool_->showFullScreenIcon();
    toolsWidget->show();
    // Normal mode always shows the list, so the toggle starts from "shown" again.
    memListShown_ = 1;
    tool_->setMemListButtonState(1);
}

void WatchWidget::onCtrlMemlistBtnClicked() {
    memListShown_ = memListShown_ ? 0 : 1;
    memwidget->setVisible(memListShown_ == 1);
    tool_->setMemListButtonState(memListShown_);
}

void WatchWidget::onRefreshUsersBtnClicked() {
    if (client_)
        client_->requestAllUser();
}

void WatchWidget::onReceiveFileBegin() {
    g_logger->error("WatchWidget, receive file begin");
    g_logger->flush();
    if (!receiveDialog_) {
        receiveDialog_ = std::make_unique<ReceiveFileDialog>(window());
        connect(receiveDialog_.get(), &QDialog::finished, this, &WatchWidget::onReceiveDialogClosed);
    }
    receiveDialog_->setProgress(0);
    if (receiveDialog_->isVisible())
        return;
    uistyle::centreOver(receiveDialog_.get(), viewWidget);
    receiveDialog_->open();
}

void WatchWidget::onReceiveDialogClosed() {
    // Closing the dialog ends the transfer, done or not.
    if (manager_)
        manager_->stopFileTransfer();
    if (ReceiveFileDialog *dialog = receiveDialog_.release()) {
        disconnect(dialog, nullptr, this, nullptr);
        // Deleted once its finished signal has returned.
        dialog->deleteLater();
    }
}

void WatchWidget::onReceiveFileProgressChanged(QString, int value) {
    if (receiveDialog_)
        receiveDialog_->setProgress(value);
}

void WatchWidget::onReceiveFileFail(QString, QString error) {
    qCDebug(lcUi) << "receive file fail:" << error;
    g_logger->error("WatchWidget, receive file fail; info({})", error.toStdString());
    g_logger->flush();
    if (receiveDialog_)
        receiveDialog_->accept();
    MessageDialog::openAloneOver(viewWidget, error);
}
