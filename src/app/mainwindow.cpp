#include "mainwindow.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "applog.h"
#include "core/logger.h"
#include "core/platformflags.h"
#include "ui/framelesswidgethelper.h"
#include "ui/loadingdialog.h"
#include "ui/mainwidget.h"
#include "ui/messagedialog.h"
#include "ui/selectsourcedialog.h"
#include "ui/sharewidget.h"
#include "ui/uistyle.h"
#include "ui/watchwidget.h"
#include "ui/zutitlewidget.h"
#include "video/openglhelper.h"

Q_LOGGING_CATEGORY(lcApp, "zushare.app")

namespace {
// What the window shows wherever no page paints: the same grey as the pages' side panels, opaque,
// so the window looks the same with a compositing manager and without one.
const QColor kWindowBackground(0xF2, 0xF4, 0xF8);
}  // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent, Qt::Window | Qt::FramelessWindowHint) {
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    resize(943, 524);
    setMinimumSize(900, 480);
    setCentralWidget(buildForm());
    if (!OpenGLHelper::init(this))
        g_logger->warn("OpenGLHelper::init fail, don't support opengl es 3.3");
    buildTitleBar();
    buildPages();

    // The dialogs are modal to this window while they are open.
    selectSourceDialog_ = std::make_unique<SelectSourceDialog>(this);
    switchSourceDialog_ = std::make_unique<SelectSourceDialog>(this);
    loadingDialog_ = std::make_unique<LoadingDialog>(this);

    connect(titleWidget_.get(), &ZuTitleWidget::sigCloseClicked, this, &QWidget::close);
    connect(titleWidget_.get(), &ZuTitleWidget::sigMaxOrNornalClicked, this,
            &MainWindow::onMaxOrNormalBtnClicked);
    connect(titleWidget_.get(), &ZuTitleWidget::sigMinClicked, this, &QWidget::showMinimized);
    connect(mainWidget_.get(), &MainWidget::sigCreateShare, this, &MainWindow::onCreateShareClicked);
    connect(mainWidget_.get(), &MainWidget::sigJoinShare, this, &MainWindow::onJoinShareClicked);
    connect(shareWidget_.get(), &ShareWidget::sigShareCreated, this, &MainWindow::onShareCreated);
    connect(shareWidget_.get(), &ShareWidget::sigQuitShare, this, &MainWindow::onShareExited);
    connect(shareWidget_.get(), &ShareWidget::sigSwitchSourceClicked, this,
            &MainWindow::onSwitchSourceClicked);
    connect(shareWidget_.get(), &ShareWidget::sigCreateShareFail, this, &MainWindow::onCreateShareFail);
    connect(selectSourceDialog_.get(), &QDialog::accepted, shareWidget_.get(), &ShareWidget::createShare);
    connect(selectSourceDialog_.get(), &SelectSourceDialog::sigSourceLost, this,
            &MainWindow::onScreenSourceLost);
    connect(switchSourceDialog_.get(), &SelectSourceDialog::sigSourceLost, this,
            &MainWindow::onScreenSourceLost);
    connect(watchWidget_.get(), &WatchWidget::sigShareJoined, this, &MainWindow::onShareJoined);
    connect(watchWidget_.get(), &WatchWidget::sigQuitShare, this, &MainWindow::onShareExited);
    connect(watchWidget_.get(), &WatchWidget::sigJoinShareFail, this, &MainWindow::onJoinShareFail);
    connect(watchWidget_.get(), &WatchWidget::sigNotAdmitted, this, &MainWindow::onNotAdmitted);
    connect(watchWidget_.get(), &WatchWidget::sigFullScreenBtnClicked, this, &QWidget::showFullScreen);
    connect(watchWidget_.get(), &WatchWidget::sigNormalBtnClicked, this, &QWidget::showNormal);

    helper_ = std::make_unique<FramelessWidgetHelper>(this);
    helper_->addTitleObjects(titleWidget_->titleObjects());

    setWindowIcon(QIcon(QStringLiteral(":/img/128px_logo.png")));
    setWindowTitle(uistyle::appTitle());
    setAttribute(Qt::WA_TranslucentBackground, true);
}

// The title area above the page area.
QWidget *MainWindow::buildForm() {
    centralwidget = new QWidget(this);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));
    gridLayout = new QGridLayout(centralwidget);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(0);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    verticalLayout = new QVBoxLayout;
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(0);
    title_area = new QWidget(centralwidget);
    title_area->setObjectName(QStringLiteral("title_area"));
    title_area->setMinimumSize(0, 56);
    title_area->setMaximumSize(16777215, 56);
    verticalLayout->addWidget(title_area);
    main_area = new QWidget(centralwidget);
    main_area->setObjectName(QStringLiteral("main_area"));
    main_area->setMinimumHeight(424);
    verticalLayout->addWidget(main_area, 1);
    gridLayout->addLayout(verticalLayout, 0, 0);
    return centralwidget;
}

void MainWindow::buildTitleBar() {
    titleWidget_ = std::make_shared<ZuTitleWidget>(title_area);
    auto *layout = new QGridLayout(title_area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(titleWidget_.get());
}

// The three pages; the start page shows first.
void MainWindow::buildPages() {
    pageLayout_ = new QGridLayout(main_area);
    pageLayout_->setContentsMargins(0, 0, 0, 0);
    mainWidget_ = std::make_shared<MainWidget>(main_area);
    shareWidget_ = std::make_shared<ShareWidget>(main_area);
    watchWidget_ = std::make_shared<WatchWidget>(main_area);
    mainWidget_->setVisible(true);
    shareWidget_->setVisible(false);
    watchWidget_->setVisible(false);
    currentPage_ = mainWidget_;
    pageLayout_->addWidget(mainWidget_.get());
}

MainWindow::~MainWindow() {
    // The pages go before the dialogs and the title bar that they may still reach.
    helper_.reset();
    currentPage_.reset();
    watchWidget_.reset();
    shareWidget_.reset();
    switchSourceDialog_.reset();
    selectSourceDialog_.reset();
    loadingDialog_.reset();
    mainWidget_.reset();
    titleWidget_.reset();
}

void MainWindow::onMaxOrNormalBtnClicked() {
    const bool maximized = windowState() == Qt::WindowMaximized;
    if (maximized)
        showNormal();
    else
        showMaximized();
    qCDebug(lcApp) << "maximize or restore; was maximized:" << maximized << "state:" << windowState();
}

void MainWindow::switchTo(const std::shared_ptr<QWidget> &page) {
    if (currentPage_)
        pageLayout_->removeWidget(currentPage_.get());
    currentPage_ = page;
    pageLayout_->addWidget(currentPage_.get());
    mainWidget_->setVisible(page == mainWidget_);
    shareWidget_->setVisible(page == shareWidget_);
    watchWidget_->setVisible(page == watchWidget_);
}

void MainWindow::onShareCreated() {
    switchTo(shareWidget_);
}

void MainWindow::onCreateShareFail() {
    g_logger->error("create share fail!!");
    g_logger->flush();
    MessageDialog::openOver(this, tr("创建共享失败，请检查5678端口！"));
}

void MainWindow::runLoading(void (MainWindow::*next)()) {
    QTimer::singleShot(kLoadingDelayMs, this, next);
    loadingDialog_->adjustSize();
    uistyle::centreOver(loadingDialog_.get(), this);
    loadingDialog_->open();
}

void MainWindow::onJoinShareClicked(QString ip, QString nickName) {
    joinIp_ = ip;
    joinNickName_ = nickName;
    runLoading(&MainWindow::joinShare);
}

void MainWindow::joinShare() {
    watchWidget_->joinShare(joinIp_, joinNickName_);
}

void MainWindow::onShareJoined() {
    loadingDialog_->accept();
    switchTo(watchWidget_);
}

void MainWindow::onJoinShareFail() {
    g_logger->error("join share fail!!");
    g_logger->flush();
    loadingDialog_->accept();
    MessageDialog::openAloneOver(this, tr("加入共享失败，请 输入/选择 正确的ip地址，或检查您的网络环境！"));
}

void MainWindow::onNotAdmitted() {
    MessageDialog::openAloneOver(this, tr("主持人没有允许你观看这个共享。"));
}

void MainWindow::onShareExited() {
    loadingDialog_->accept();
    switchTo(mainWidget_);
    if (windowState() & Qt::WindowFullScreen) {
        title_area->show();
        watchWidget_->setNormalMode();
        showNormal();
    }
}

void MainWindow::onCreateShareClicked() {
    runLoading(&MainWindow::showSelectSourceDialog);
}

void MainWindow::onSwitchSourceClicked() {
    runLoading(&MainWindow::showSwitchSourceDialog);
}

void MainWindow::showSelectSourceDialog() {
    loadingDialog_->accept();
    selectSourceDialog_->setExcludedWindows(
        {uint64_t(winId()), uint64_t(loadingDialog_->winId()), uint64_t(selectSourceDialog_->winId())});
    uistyle::centreOver(selectSourceDialog_.get(), this);
    selectSourceDialog_->open();
}

void MainWindow::showSwitchSourceDialog() {
    loadingDialog_->accept();
    // Switching on Wayland is choosing again in the desktop's picker.
    switchSourceDialog_->chooseAgain();
    switchSourceDialog_->setExcludedWindows({uint64_t(winId()), uint64_t(loadingDialog_->winId()),
                                             uint64_t(selectSourceDialog_->winId()),
                                             uint64_t(switchSourceDialog_->winId())});
    uistyle::centreOver(switchSourceDialog_.get(), this);
    switchSourceDialog_->open();
}

void MainWindow::onScreenSourceLost() {
    // Attendees would otherwise watch the last picture without knowing that nothing more comes.
    if (!shareWidget_->endShare())
        return;
    MessageDialog::openOver(this, tr("共享已结束：系统停止了屏幕共享"));
}

void MainWindow::keyPressEvent(QKeyEvent *event) {
    if (windowState() == Qt::WindowFullScreen && event->key() == Qt::Key_Escape) {
        showNormal();
        return;
    }
    event->ignore();
}

void MainWindow::paintEvent(QPaintEvent *event) {
    const bool full = windowState() == Qt::WindowFullScreen;
    auto set = [](int current, int wanted, auto setter) {
        if (current != wanted)
            setter(wanted);
    };
    FramelessWidgetHelper *h = helper_.get();
    set(h->titleHeight(), full ? 0 : title_area->height(), [h](int v) { h->setTitleHeight(v); });
    set(h->topResizeMargin(), full ? 0 : 6, [h](int v) { h->setTopResizeMargin(v); });
    set(h->bottomResizeMargin(), full ? 0 : 6, [h](int v) { h->setBottomResizeMargin(v); });
    set(h->leftResizeMargin(), full ? 0 : 6, [h](int v) { h->setLeftResizeMargin(v); });
    set(h->rightResizeMargin(), full ? 0 : 3, [h](int v) { h->setRightResizeMargin(v); });

    {
        QPainter painter(this);
        painter.fillRect(rect(), kWindowBackground);
    }
    QMainWindow::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}

void MainWindow::changeEvent(QEvent *event) {
    QMainWindow::changeEvent(event);
    // Only a state change: an activation or style change in the normal state must not undo the
    // user's member-list choice by putting the watch page back into normal mode.
    if (event->type() != QEvent::WindowStateChange || !titleWidget_ || !watchWidget_)
        return;
    const Qt::WindowStates state = windowState();
    if (state == Qt::WindowMaximized) {
        if (QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().topLeft());
        g_logger->info("main window show Maximized");
        titleWidget_->showRestoreIcon();
    } else if (state == Qt::WindowNoState) {
        g_logger->info("main window show Normal");
        title_area->show();
        watchWidget_->setNormalMode();
        titleWidget_->showMaximizeIcon();
    } else if (state == Qt::WindowFullScreen) {
        g_logger->info("main window show FullScreen");
        title_area->hide();
        watchWidget_->setFullScreenMode();
    }
}
