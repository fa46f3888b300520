#include "ui/watchtoolwidget.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/pagestyle.h"
#include "ui/uistyle.h"

WatchToolWidget::WatchToolWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("WatchToolWidget"));
    setAttribute(Qt::WA_TranslucentBackground, true);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);

    widget = new QWidget(this);
    widget->setObjectName(QStringLiteral("widget"));
    auto *side = new QHBoxLayout(widget);
    side->setContentsMargins(0, 0, 0, 0);
    side->addStretch(1);
    btn_ctrl_memlist = new QPushButton(widget);
    btn_ctrl_memlist->setObjectName(QStringLiteral("btn_ctrl_memlist"));
    btn_ctrl_memlist->setFixedSize(pagestyle::kMemListButtonSize);
    btn_ctrl_memlist->setFocusPolicy(Qt::NoFocus);
    btn_ctrl_memlist->setCursor(Qt::PointingHandCursor);
    side->addWidget(btn_ctrl_memlist, 0, Qt::AlignVCenter);
    grid->addWidget(widget, 0, 0);

    widget_empty = new QWidget(this);
    widget_empty->setObjectName(QStringLiteral("widget_empty"));
    widget_empty->setFixedHeight(29);
    widget_btn_bar = new QWidget(this);
    widget_btn_bar->setObjectName(QStringLiteral("widget_btn_bar"));
    widget_btn_bar->setFixedHeight(29);
    widget_btn_bar->setAttribute(Qt::WA_StyledBackground, true);
    widget_btn_bar->setStyleSheet(uistyle::areaFill(widget_btn_bar->objectName(), uistyle::kShade));
    auto *bar = new QHBoxLayout(widget_btn_bar);
    bar->setContentsMargins(8, 0, 8, 0);
    bar->addStretch(1);
    btn_fullScrren = new QPushButton(widget_btn_bar);
    btn_fullScrren->setObjectName(QStringLiteral("btn_fullScrren"));
    btn_fullScrren->setFixedSize(24, 24);
    btn_fullScrren->setFocusPolicy(Qt::NoFocus);
    btn_fullScrren->setCursor(Qt::PointingHandCursor);
    bar->addWidget(btn_fullScrren);
    grid->addWidget(widget_empty, 1, 0);
    grid->addWidget(widget_btn_bar, 1, 0);
    grid->setRowStretch(0, 1);

    setMouseTracking(true);
    for (QWidget *w : {widget, static_cast<QWidget *>(btn_ctrl_memlist), widget_empty, widget_btn_bar,
                       static_cast<QWidget *>(btn_fullScrren)}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }

    widget_empty->hide();
    widget_btn_bar->show();
    showFullScreenIcon();
    connect(btn_fullScrren, &QPushButton::clicked, this, &WatchToolWidget::sigFullScrrenButtonClicked);
    connect(btn_ctrl_memlist, &QPushButton::clicked, this, &WatchToolWidget::sigCtrlMemListBtnClicked);
    connect(&timer_, &QTimer::timeout, this, &WatchToolWidget::onTimeOut);
    timer_.start(kTickMs);
}

void WatchToolWidget::setMemListButtonState(int shown) {
    btn_ctrl_memlist->setStyleSheet(shown ? pagestyle::foldButton() : pagestyle::openButton());
    btn_ctrl_memlist->setToolTip(shown ? tr("收起成员列表") : tr("展开成员列表"));
}

void WatchToolWidget::showNarrowIcon() {
    btn_ctrl_memlist->hide();
    btn_fullScrren->setToolTip(tr("退出全屏"));
    btn_fullScrren->setStyleSheet(uistyle::imageButton(
        ":/img/narrow_screen_white.png", ":/img/narrow_screen_white.png", ":/img/narrow_screen_press.png"));
    idleTicks_ = 0;
    update();
}

void WatchToolWidget::showFullScreenIcon() {
    btn_ctrl_memlist->show();
    btn_fullScrren->setToolTip(tr("全屏"));
    btn_fullScrren->setStyleSheet(uistyle::imageButton(
        ":/img/full_screen_white.png", ":/img/full_screen_white.png", ":/img/full_screen_press.png"));
    idleTicks_ = 0;
    update();
    applyBarState();
}

bool WatchToolWidget::barShown() const {
    return widget_btn_bar->isVisible();
}

void WatchToolWidget::onTimeOut() {
    if (!isVisible() || btn_ctrl_memlist->isVisible())
        return;
    idleTicks_ = qMin(idleTicks_ + 1, kHideAfterTicks);
    update();
}

void WatchToolWidget::mouseMoveEvent(QMouseEvent *event) {
    idleTicks_ = 0;
    QWidget::mouseMoveEvent(event);
}

bool WatchToolWidget::eventFilter(QObject *watched, QEvent *event) {
    // The buttons take their own move events; any movement over the overlay counts.
    if (event->type() == QEvent::MouseMove)
        idleTicks_ = 0;
    return QWidget::eventFilter(watched, event);
}

void WatchToolWidget::applyBarState() {
    const bool showBar = !btn_ctrl_memlist->isHidden() || idleTicks_ <= kHideAfterTicks - 1;
    if (widget_btn_bar->isHidden() == showBar) {
        widget_empty->setVisible(!showBar);
        widget_btn_bar->setVisible(showBar);
    }
}

void WatchToolWidget::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    applyBarState();
}
