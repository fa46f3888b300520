#include "ui/selectsourcedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>

#include <mutex>

#include "core/logger.h"
#include "core/platformflags.h"
#include "rtc/screencastchoice.h"
#include "rtc/zuwebrtc.h"
#include "ui/appwindowwidget.h"
#include "ui/framelesswidgethelper.h"
#include "ui/selectappwidget_line.h"
#include "ui/uistyle.h"
#include "video/i420planes.h"
#include "video/videoframefactory.h"
#include "video/videoframeinterface.h"

namespace {

// The dialogs alive now: a snapshot that arrives on the engine's thread after its dialog was
// destroyed finds it missing here and is dropped.
std::mutex g_liveLock;
QSet<const SelectSourceDialog *> &liveDialogs() {
    static QSet<const SelectSourceDialog *> dialogs;
    return dialogs;
}

}  // namespace

SelectSourceDialog::SelectSourceDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("SelectSourceDialog"));
    setWindowTitle(QStringLiteral("Zu屏幕共享"));
    resize(920, 560);
    setMinimumSize(920, 400);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    title_area = new QWidget(this);
    title_area->setObjectName(QStringLiteral("title_area"));
    title_area->setAttribute(Qt::WA_StyledBackground, true);
    title_area->setStyleSheet(QStringLiteral("#title_area{background: #5983A5;}"));
    title_area->setFixedHeight(44);
    auto *titleLayout = new QHBoxLayout(title_area);
    titleLayout->setContentsMargins(18, 0, 18, 0);
    label = new QLabel(QStringLiteral("创建一个分享"), title_area);
    label->setObjectName(QStringLiteral("label"));
    label->setStyleSheet(QStringLiteral("color: white; font-size: 15px;"));
    titleLayout->addWidget(label);
    titleLayout->addStretch(1);
    outer->addWidget(title_area);

    auto *body = new QWidget(this);
    body->setObjectName(QStringLiteral("widget_body"));
    body->setAttribute(Qt::WA_StyledBackground, true);
    body->setStyleSheet(QStringLiteral("#widget_body{background: #F2F4F8;}"));
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(10, 10, 10, 10);
    listWidget = new QListWidget(body);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setFrameShape(QFrame::NoFrame);
    listWidget->setSelectionMode(QAbstractItemView::NoSelection);
    listWidget->setFocusPolicy(Qt::NoFocus);
    listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listWidget->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    listWidget->setStyleSheet(
        QStringLiteral("QListWidget{background: transparent; outline: none;} QListWidget::item{border: none;}"
                       "QListWidget::item:hover{background: transparent;}"));
    label_none = new QLabel(body);
    label_none->setObjectName(QStringLiteral("label_none"));
    label_none->setAlignment(Qt::AlignCenter);
    label_none->setWordWrap(true);
    label_none->setStyleSheet(QStringLiteral("color: #8A929C; font-size: 14px;"));
    label_none->hide();
    bodyLayout->addWidget(listWidget, 1);
    bodyLayout->addWidget(label_none, 1);
    outer->addWidget(body, 1);

    btnarea = new QWidget(this);
    btnarea->setObjectName(QStringLiteral("btnarea"));
    btnarea->setAttribute(Qt::WA_StyledBackground, true);
    btnarea->setStyleSheet(QStringLiteral("#btnarea{background: #5983A5;}"));
    btnarea->setFixedHeight(50);
    auto *buttons = new QHBoxLayout(btnarea);
    buttons->setContentsMargins(18, 0, 18, 0);
    buttons->setSpacing(14);
    buttons->addStretch(1);
    btn_cancel = new QPushButton(QStringLiteral("取消"), btnarea);
    btn_cancel->setObjectName(QStringLiteral("btn_cancel"));
    btn_cancel->setStyleSheet(QStringLiteral(
        "QPushButton{background: transparent; color: white; border: 1px solid white; border-radius: 4px;"
        "font-size: 13px;} QPushButton:hover{background: rgba(255,255,255,0.16);}"));
    btn_create = new QPushButton(QStringLiteral("共享"), btnarea);
    btn_create->setObjectName(QStringLiteral("btn_create"));
    btn_create->setStyleSheet(QStringLiteral(
        "QPushButton{background: white; color: #5983A5; border: none; border-radius: 4px; font-size: 13px;"
        "font-weight: bold;} QPushButton:hover{background: #E6EDF4;}"
        "QPushButton:disabled{background: rgba(255,255,255,0.45); color: rgba(89,131,165,0.6);}"));
    for (QPushButton *b : {btn_cancel, btn_create}) {
        b->setFixedSize(80, 30);
        b->setCursor(Qt::PointingHandCursor);
        buttons->addWidget(b);
    }
    btn_create->setEnabled(false);
    outer->addWidget(btnarea);

    helper_ = std::make_unique<FramelessWidgetHelper>(this);
    helper_->setMaximizable(false);
    helper_->setMinimable(false);
    helper_->setLeftResizeMargin(0);
    helper_->setTopResizeMargin(0);
    helper_->setRightResizeMargin(0);
    helper_->setBottomResizeMargin(0);
    helper_->setTitleHeight(title_area->height());

    refreshButton_ = new QPushButton(this);
    refreshButton_->setObjectName(QStringLiteral("refreshButton"));
    refreshButton_->setToolTip(QStringLiteral("刷新"));
    refreshButton_->setCursor(Qt::PointingHandCursor);
    refreshButton_->setFocusPolicy(Qt::NoFocus);
    refreshButton_->setStyleSheet(uistyle::imageButton(
        ":/img/refresh_source.png", ":/img/refresh_source_hover.png", ":/img/refresh_source_press.png"));
    refreshButton_->setGeometry(width() - 67, height() - 107, 57, 57);
    connect(refreshButton_, &QPushButton::clicked, this, &SelectSourceDialog::onRefreshBtnClicked);
    VideoFrameInterface::registerMetaType();

    {
        std::lock_guard<std::mutex> lock(g_liveLock);
        liveDialogs().insert(this);
    }
    QMetaObject::connectSlotsByName(this);
}

SelectSourceDialog::~SelectSourceDialog() {
    {
        std::lock_guard<std::mutex> lock(g_liveLock);
        liveDialogs().remove(this);
    }
    if (capturer_ > 0)
        deleteScreenSourceCpaturer(capturer_);
}

void SelectSourceDialog::setExcludedWindows(const QList<uint64_t> &ids) {
    // One capturer for the dialog's life, unless what it captured ended (a screen cast that the
    // desktop stopped: the next one asks the user again); an empty source list (no display) does not
    // make another.
    if (capturer_ > 0 && capturerLost_) {
        deleteScreenSourceCpaturer(capturer_);
        capturer_ = 0;
    }
    if (capturer_ <= 0) {
        capturerLost_ = false;
        capturer_ = ScreenCastChoice::createCapturer();
        if (capturer_ <= 0)
            g_logger->error("SelectSourceDialog, cannot create the screen source capturer ({})", capturer_);
        else
            RegisterOnScreenSourceLost(capturer_, &SelectSourceDialog::onSourceLost, this);
    }
    for (uint64_t id : ids) {
        setExcludedWindow(capturer_, id);
        sourceCount_ = getSourceNum(capturer_);
    }
    sourceCount_ = qMax(0, getSourceNum(capturer_));
    listWidget->clear();
    rows_.clear();
    thumbnails_.clear();
    selectedIndex_ = -1;
    btn_create->setEnabled(false);
    updateHint();
}

int SelectSourceDialog::exec() {
    QTimer::singleShot(kCaptureDelayMs, Qt::PreciseTimer, this, &SelectSourceDialog::captureAllWindow);
    return QDialog::exec();
}

void SelectSourceDialog::captureAllWindow() {
    if (capturer_ <= 0 ||
        asynCaptureAllScreenOnece(capturer_, &SelectSourceDialog::onSourceCaptured, this, 0) != 0) {
        sourceCount_ = 0;
        updateHint();
    }
}

void SelectSourceDialog::onSourceLost(void *userData) {
    auto *dialog = static_cast<SelectSourceDialog *>(userData);
    std::lock_guard<std::mutex> lock(g_liveLock);
    if (liveDialogs().contains(dialog))
        QMetaObject::invokeMethod(dialog, "onCapturerLost", Qt::QueuedConnection);
}

void SelectSourceDialog::onCapturerLost() {
    capturerLost_ = true;
    emit sigSourceLost();
}

void SelectSourceDialog::chooseAgain() {
    if (UsesDesktopPortalCapture() != 1)
        return;
    ScreenCastChoice::askAgain();
    capturerLost_ = true;
}

void SelectSourceDialog::onRefreshBtnClicked() {
    // On Wayland the one source listed is the desktop picker's choice: refresh asks it again.
    chooseAgain();
    setExcludedWindows({});
    captureAllWindow();
}

void SelectSourceDialog::updateHint() {
    // Without any source the user is told why "共享" cannot be pressed.
    const bool none = sourceCount_ <= 0 && thumbnails_.isEmpty();
    if (none) {
        if (UsesDesktopPortalCapture() == 1)
            label_none->setText(QStringLiteral(
                "没有可共享的屏幕或窗口：桌面的屏幕共享未开始（已取消，或系统未提供屏幕共享门户），"
                "请点击右下角按钮重新选择"));
        else
            label_none->setText(qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? QStringLiteral("没有可共享的屏幕或窗口：未连接到图形显示（X11）")
                                    : QStringLiteral("没有找到可共享的屏幕或窗口，请点击右下角按钮刷新"));
    }
    label_none->setVisible(none);
    listWidget->setVisible(!none);
}

void SelectSourceDialog::onSourceCaptured(const uint8_t *y, const uint8_t *u, const uint8_t *v, int,
                                          int strideY, int strideU, int strideV, int, int width, int height,
                                          int, int, const char *title, void *userData) {
    auto *dialog = static_cast<SelectSourceDialog *>(userData);
    const QString text = QString::fromUtf8(title ? title : "");
    std::shared_ptr<VideoFrameInterface> frame = VideoFrameFactory::create(
        I420Planes::of(y, u, v, strideY, strideU, strideV, width, height), VideoFrameFactory::processKind());
    std::lock_guard<std::mutex> lock(g_liveLock);
    if (!liveDialogs().contains(dialog))
        return;
    QMetaObject::invokeMethod(dialog, "appendApp", Qt::QueuedConnection, Q_ARG(QString, text),
                              Q_ARG(std::shared_ptr<VideoFrameInterface>, frame));
}

void SelectSourceDialog::appendApp(QString title, std::shared_ptr<VideoFrameInterface> frame) {
    if (rows_.isEmpty() || rows_.last()->appCount() >= SelectAppWidget_Line::kMaxApps) {
        auto *row = new SelectAppWidget_Line;
        rows_.append(row);
        auto *item = new QListWidgetItem(listWidget);
        item->setSizeHint(QSize(0, 170));
        item->setFlags(Qt::ItemIsEnabled);
        listWidget->setItemWidget(item, row);
    }
    AppWindowWidget *app = rows_.last()->addApp(title);
    connect(app, &AppWindowWidget::clicked, this, &SelectSourceDialog::onAppSelected);
    thumbnails_.append(app);
    if (frame)
        app->setFrame(std::move(frame));
    updateHint();
    update();
}

void SelectSourceDialog::onAppSelected() {
    auto *sender = qobject_cast<AppWindowWidget *>(QObject::sender());
    const int index = thumbnails_.indexOf(sender);
    if (index < 0)
        return;
    for (AppWindowWidget *app : thumbnails_)
        app->setSelected(app == sender);
    selectedIndex_ = index;
    btn_create->setEnabled(true);
}

void SelectSourceDialog::on_btn_cancel_clicked() {
    reject();
}

void SelectSourceDialog::on_btn_create_clicked() {
    if (selectedIndex_ < 0 || selectedIndex_ >= thumbnails_.size())
        return;
    const int result = switchDesktopSource(capturer_, selectedIndex_);
    if (result != 0)
        g_logger->warn("SelectSourceDialog, switch to source {} failed ({})", selectedIndex_, result);
    accept();
}

void SelectSourceDialog::paintEvent(QPaintEvent *event) {
    helper_->setTitleHeight(title_area->height());
    refreshButton_->setGeometry(width() - 67, height() - 107, 57, 57);
    refreshButton_->raise();
    QDialog::paintEvent(event);
    if (!isWin10) {
        setContentsMargins(1, 1, 1, 1);
        uistyle::paintFramelessBorder(this);
    }
    emit sigRready();
}
