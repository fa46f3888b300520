#include "ui/selectsourcedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/i420planes.h"
#include "core/logger.h"
#include "rtc/screencastchoice.h"
#include "ui/appwindowwidget.h"
#include "ui/framelesswidgethelper.h"
#include "ui/selectappwidget_line.h"
#include "ui/uistyle.h"
#include "video/videoframefactory.h"
#include "video/videoframeinterface.h"

SelectSourceDialog::SelectSourceDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("SelectSourceDialog"));
    setWindowTitle(uistyle::appTitle());
    resize(920, 560);
    setMinimumSize(920, 400);
    QVBoxLayout *outer = uistyle::edgeToEdgeColumn(this);
    outer->addWidget(buildTitle());
    outer->addWidget(buildSourceList(), 1);
    outer->addWidget(buildButtonBar());
    refreshButton_ = buildRefreshButton();

    helper_ = std::make_unique<FramelessWidgetHelper>(this);
    helper_->setMaximizable(false);
    helper_->setMinimable(false);
    helper_->setResizeMargins(0);
    helper_->setTitleHeight(title_area->height());

    connect(btn_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btn_create, &QPushButton::clicked, this, &SelectSourceDialog::onShareClicked);
    connect(refreshButton_, &QPushButton::clicked, this, &SelectSourceDialog::onRefreshClicked);
}

QWidget *SelectSourceDialog::buildTitle() {
    title_area = uistyle::styledArea(this, QStringLiteral("title_area"),
                                     uistyle::areaFill(QStringLiteral("title_area"), uistyle::kBlue), 44);
    auto *layout = new QHBoxLayout(title_area);
    layout->setContentsMargins(18, 0, 18, 0);
    label = new QLabel(tr("创建一个分享"), title_area);
    label->setObjectName(QStringLiteral("label"));
    label->setStyleSheet(uistyle::text("white", 15));
    layout->addWidget(label);
    layout->addStretch(1);
    return title_area;
}

QWidget *SelectSourceDialog::buildSourceList() {
    QWidget *body = uistyle::styledArea(this, QStringLiteral("widget_body"),
                                        uistyle::areaFill(QStringLiteral("widget_body"), uistyle::kPanel));
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(10, 10, 10, 10);
    listWidget = new QListWidget(body);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setFrameShape(QFrame::NoFrame);
    listWidget->setSelectionMode(QAbstractItemView::NoSelection);
    listWidget->setFocusPolicy(Qt::NoFocus);
    listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listWidget->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    listWidget->setStyleSheet(uistyle::tileList());
    label_none = new QLabel(body);
    label_none->setObjectName(QStringLiteral("label_none"));
    label_none->setAlignment(Qt::AlignCenter);
    label_none->setWordWrap(true);
    label_none->setStyleSheet(uistyle::text(uistyle::kHint, 14));
    label_none->hide();
    layout->addWidget(listWidget, 1);
    layout->addWidget(label_none, 1);
    return body;
}

QWidget *SelectSourceDialog::buildButtonBar() {
    btnarea = uistyle::styledArea(this, QStringLiteral("btnarea"),
                                  uistyle::areaFill(QStringLiteral("btnarea"), uistyle::kBlue), 50);
    auto *layout = new QHBoxLayout(btnarea);
    layout->setContentsMargins(18, 0, 18, 0);
    layout->setSpacing(14);
    layout->addStretch(1);
    btn_cancel = new QPushButton(tr("取消"), btnarea);
    btn_cancel->setObjectName(QStringLiteral("btn_cancel"));
    btn_cancel->setStyleSheet(uistyle::outlineOnBlueButton());
    btn_create = new QPushButton(tr("共享"), btnarea);
    btn_create->setObjectName(QStringLiteral("btn_create"));
    btn_create->setStyleSheet(uistyle::whiteOnBlueButton());
    for (QPushButton *b : {btn_cancel, btn_create}) {
        b->setFixedSize(80, 30);
        b->setCursor(Qt::PointingHandCursor);
        layout->addWidget(b);
    }
    btn_create->setEnabled(false);
    return btnarea;
}

QPushButton *SelectSourceDialog::buildRefreshButton() {
    // Over the list's lower right corner, outside any layout.
    auto *button = new QPushButton(this);
    button->setObjectName(QStringLiteral("refreshButton"));
    button->setToolTip(tr("刷新"));
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(uistyle::imageButton(":/img/refresh_source.png", ":/img/refresh_source_hover.png",
                                               ":/img/refresh_source_press.png"));
    button->setGeometry(width() - 67, height() - 107, 57, 57);
    return button;
}

SelectSourceDialog::~SelectSourceDialog() {
    // No thumbnail or loss reaches the dialog once its capturer is gone.
    sources_.reset();
}

void SelectSourceDialog::setExcludedWindows(const QList<uint64_t> &ids) {
    // One capturer for the dialog's life, unless what it captured ended (a screen cast that the
    // desktop stopped: the next one asks the user again); an empty source list (no display) does not
    // make another.
    if (sources_ && (capturerLost_ || !sources_->isValid()))
        sources_.reset();
    if (!sources_) {
        capturerLost_ = false;
        // Both run on the engine's threads until the capturer is destroyed.
        sources_ = std::make_unique<ScreenSources>(
            [this](const I420Planes &planes, const QString &title) {
                std::shared_ptr<VideoFrameInterface> frame =
                    VideoFrameFactory::create(planes, VideoFrameFactory::processKind());
                QMetaObject::invokeMethod(
                    this, [this, title, frame] { appendApp(title, frame); }, Qt::QueuedConnection);
            },
            [this] {
                QMetaObject::invokeMethod(
                    this, [this] { onCapturerLost(); }, Qt::QueuedConnection);
            });
        if (!sources_->isValid())
            g_logger->error("SelectSourceDialog, cannot create the screen source capturer ({})",
                            sources_->handle());
    }
    for (uint64_t id : ids)
        sources_->exclude(id);
    sourceCount_ = sources_->count();
    listWidget->clear();
    rows_.clear();
    thumbnails_.clear();
    selectedIndex_ = -1;
    btn_create->setEnabled(false);
    updateHint();
}

void SelectSourceDialog::open() {
    QTimer::singleShot(kCaptureDelayMs, Qt::PreciseTimer, this, &SelectSourceDialog::captureAllWindow);
    QDialog::open();
}

void SelectSourceDialog::captureAllWindow() {
    if (!sources_ || !sources_->captureThumbnails()) {
        sourceCount_ = 0;
        updateHint();
    }
}

void SelectSourceDialog::onCapturerLost() {
    capturerLost_ = true;
    emit sigSourceLost();
}

void SelectSourceDialog::chooseAgain() {
    if (!ScreenCastChoice::usesDesktopPicker())
        return;
    ScreenCastChoice::askAgain();
    capturerLost_ = true;
}

void SelectSourceDialog::onRefreshClicked() {
    // On Wayland the one source listed is the desktop picker's choice: refresh asks it again.
    chooseAgain();
    setExcludedWindows({});
    captureAllWindow();
}

void SelectSourceDialog::updateHint() {
    // Without any source the user is told why "共享" cannot be pressed.
    const bool none = sourceCount_ <= 0 && thumbnails_.isEmpty();
    if (none) {
        if (ScreenCastChoice::usesDesktopPicker())
            label_none->setText(
                tr("没有可共享的屏幕或窗口：桌面的屏幕共享未开始（已取消，或系统未提供屏幕共享门户），"
                   "请点击右下角按钮重新选择"));
        else
            label_none->setText(qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? tr("没有可共享的屏幕或窗口：未连接到图形显示（X11）")
                                    : tr("没有找到可共享的屏幕或窗口，请点击右下角按钮刷新"));
    }
    label_none->setVisible(none);
    listWidget->setVisible(!none);
}

void SelectSourceDialog::appendApp(const QString &title, std::shared_ptr<VideoFrameInterface> frame) {
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
    for (AppWindowWidget *app : qAsConst(thumbnails_))
        app->setSelected(app == sender);
    selectedIndex_ = index;
    btn_create->setEnabled(true);
}

void SelectSourceDialog::onShareClicked() {
    if (selectedIndex_ < 0 || selectedIndex_ >= thumbnails_.size())
        return;
    const int result = sources_ ? sources_->switchTo(selectedIndex_) : -1;
    if (result != 0)
        g_logger->warn("SelectSourceDialog, switch to source {} failed ({})", selectedIndex_, result);
    accept();
}

void SelectSourceDialog::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    refreshButton_->setGeometry(width() - 67, height() - 107, 57, 57);
}

void SelectSourceDialog::paintEvent(QPaintEvent *event) {
    QDialog::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}
