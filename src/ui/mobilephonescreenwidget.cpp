#include "ui/mobilephonescreenwidget.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "core/logger.h"
#include "ui/framelesswidgethelper.h"
#include "ui/mobilephonetoolwidget.h"
#include "ui/uistyle.h"
#include "video/openglhelper.h"
#include "video/openglwidget.h"
#include "video/videowidget.h"

MobilePhoneScreenWidget::MobilePhoneScreenWidget(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("MobilePhoneScreenWidget"));
    QVBoxLayout *outer = uistyle::edgeToEdgeColumn(this);
    outer->addWidget(buildTitle());
    outer->addWidget(buildView(), 1);

    helper_ = std::make_shared<FramelessWidgetHelper>(this);
    helper_->addTitleObject(btn_close);
    helper_->setMaximizable(false);
    helper_->setMinimable(false);
    helper_->setResizeMargins(0);
    helper_->setTitleHeight(title_area->height());

    setMinimumWidth(kMinimumWidth);
    resize(kMinimumWidth, int(std::lround(kMinimumWidth / ratio_)) + title_area->height());
    setWindowIcon(QIcon(QStringLiteral(":/img/128px_logo.png")));

    connect(btn_close, &QPushButton::clicked, this, &MobilePhoneScreenWidget::onCloseClicked);
    connect(tool_.get(), &MobilePhoneToolWidget::sigZoomClicked, this,
            &MobilePhoneScreenWidget::onZoomBtnClicked);
    connect(tool_.get(), &MobilePhoneToolWidget::sigEnlargeClicked, this,
            &MobilePhoneScreenWidget::onEnlargeBtnClicked);
    connect(tool_.get(), &MobilePhoneToolWidget::sigNarrowClicked, this,
            &MobilePhoneScreenWidget::onNarrowBtnClicked);
}

QWidget *MobilePhoneScreenWidget::buildTitle() {
    title_area = uistyle::styledArea(this, QStringLiteral("title_area"), uistyle::fill(uistyle::kBlue), 40);
    label_text = new QLabel(title_area);
    label_text->setObjectName(QStringLiteral("label_text"));
    label_text->setStyleSheet(uistyle::text("white", 14));
    btn_close = uistyle::titleCloseButton(title_area, QStringLiteral("btn_close"));
    auto *layout = new QHBoxLayout(title_area);
    layout->setContentsMargins(14, 0, 2, 0);
    layout->addWidget(label_text, 1);
    layout->addWidget(btn_close);
    return title_area;
}

QWidget *MobilePhoneScreenWidget::buildView() {
    main_area = uistyle::styledArea(this, QStringLiteral("main_area"), uistyle::fill("black"));
    QVBoxLayout *layout = uistyle::edgeToEdgeColumn(main_area);
    QWidget *viewWidget = nullptr;
    if (OpenGLHelper::isSupported()) {
        auto view = std::make_shared<OpenGLWidget>();
        const float black[4] = {0.f, 0.f, 0.f, 1.0f};
        view->setClearColor(black);
        connect(view.get(), &OpenGLWidget::sigFrameSizeChanged, this,
                &MobilePhoneScreenWidget::onFrameSizeChanged);
        viewWidget = view.get();
        view_ = view;
    } else {
        auto view = std::make_shared<VideoWidget>();
        view->setBackgroundColor(0, 0, 0);
        connect(view.get(), &VideoWidget::sigFrameSizeChanged, this,
                &MobilePhoneScreenWidget::onFrameSizeChanged);
        viewWidget = view.get();
        view_ = view;
    }
    viewWidget->setObjectName(QStringLiteral("video_view"));
    layout->addWidget(viewWidget);

    // The tool overlay shows while the mouse is over the window.
    tool_ = std::make_shared<MobilePhoneToolWidget>();
    auto *overLayout = new QVBoxLayout(viewWidget);
    overLayout->setContentsMargins(0, 0, 0, 0);
    overLayout->addStretch(1);
    overLayout->addWidget(tool_.get());
    tool_->hide();
    return main_area;
}

MobilePhoneScreenWidget::~MobilePhoneScreenWidget() {
    // The overlay lives inside the view and the view inside main_area; both go before Qt's own
    // child clean-up would reach them.
    tool_.reset();
    view_.reset();
}

void MobilePhoneScreenWidget::setName(const QString &name) {
    const QString text = tr("%1 投屏中").arg(name);
    label_text->setText(text);
    setWindowTitle(text);
}

void MobilePhoneScreenWidget::enterEvent(QEvent *event) {
    QWidget::enterEvent(event);
    tool_->show();
}

void MobilePhoneScreenWidget::leaveEvent(QEvent *event) {
    QWidget::leaveEvent(event);
    tool_->hide();
}

void MobilePhoneScreenWidget::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const Qt::WindowStates state = windowState();
    if (state == Qt::WindowMaximized) {
        if (QScreen *primary = QGuiApplication::primaryScreen())
            move(primary->availableGeometry().topLeft());
    } else if (state == Qt::WindowFullScreen) {
        title_area->hide();
        tool_->showNarrowIcon();
    } else if (state == Qt::WindowNoState) {
        title_area->show();
        tool_->showFullIcon();
    }
}

void MobilePhoneScreenWidget::paintEvent(QPaintEvent *event) {
    helper_->setTitleHeight(isFullScreen() ? 0 : title_area->height());
    QWidget::paintEvent(event);
    uistyle::paintFramelessBorder(this);
}

void MobilePhoneScreenWidget::onCloseClicked() {
    view_->renderFrame(std::weak_ptr<VideoFrameInterface>());
    QTimer::singleShot(200, Qt::PreciseTimer, this, [this] {
        close();
        emit sigClosed();
    });
}

void MobilePhoneScreenWidget::onZoomBtnClicked() {
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void MobilePhoneScreenWidget::onEnlargeBtnClicked() {
    if (!isFullScreen())
        adapt(kSizeStep);
}

void MobilePhoneScreenWidget::onNarrowBtnClicked() {
    if (!isFullScreen())
        adapt(-kSizeStep);
}

void MobilePhoneScreenWidget::onFrameSizeChanged(float ratio) {
    // A degenerate picture would make every height infinite.
    if (!(ratio > 0.f) || !std::isfinite(ratio))
        return;
    if (std::fabs(ratio - ratio_) > 0.01f) {
        ratio_ = ratio;
        QMetaObject::invokeMethod(
            this, [this] { adapt(0); }, Qt::QueuedConnection);
    }
}

void MobilePhoneScreenWidget::adapt(int widghtOff) {
    g_logger->info("mobile phone adapt size");
    if (isFullScreen())
        return;
    QScreen *scr = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!scr)
        return;
    const QRect avail = scr->availableGeometry();
    const int W = avail.width();
    const int H = avail.height();
    const int w = width();
    const int t = title_area->height();
    const int h = int(std::lround(w / ratio_ + t));
    if (widghtOff == 0) {
        resize(w, qMin(h, H));
        return;
    }
    const int w2 = w + widghtOff;
    const int h2 = int(std::lround(w2 / ratio_ + t));
    if (w2 < minimumWidth() || w2 > W || h2 > H)
        return;
    resize(w2, h2);
    // Positions are kept relative to the work area, so that a screen beside the primary one works.
    const int x0 = x() - avail.x();
    const int y0 = y() - avail.y();
    int ny = y0 + h2 <= H ? y0 - (h2 - h) / 2 : H - h2;
    int nx = x0 + w2 > W ? W - w2 : x0 - widghtOff / 2;
    move(avail.x() + qMax(0, nx), avail.y() + qMax(0, ny));
}
