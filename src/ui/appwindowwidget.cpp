#include "ui/appwindowwidget.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/uistyle.h"
#include "video/openglhelper.h"
#include "video/openglwidget.h"
#include "video/videowidget.h"

AppWindowWidget::AppWindowWidget(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AppWindowWidget"));
    setFixedSize(kWidth, kHeight);
    setCursor(Qt::PointingHandCursor);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 6);
    layout->setSpacing(2);
    label_window_name = new QLabel(this);
    label_window_name->setObjectName(QStringLiteral("label_window_name"));
    label_window_name->setFixedHeight(32);
    label_window_name->setAlignment(Qt::AlignCenter);
    label_window_name->setStyleSheet(uistyle::text(uistyle::kInk, 13));
    app_window_area = new QWidget(this);
    app_window_area->setObjectName(QStringLiteral("app_window_area"));
    layout->addWidget(label_window_name);
    layout->addWidget(app_window_area, 1);

    QWidget *viewWidget = nullptr;
    if (OpenGLHelper::isSupported()) {
        auto view = std::make_shared<OpenGLWidget>();
        viewWidget = view.get();
        view_ = view;
    } else {
        auto view = std::make_shared<VideoWidget>();
        viewWidget = view.get();
        view_ = view;
    }
    viewWidget->setObjectName(QStringLiteral("thumbnail_view"));
    // Clicks on the picture select the source like clicks on the title.
    viewWidget->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    auto *areaLayout = new QVBoxLayout(app_window_area);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    areaLayout->addWidget(viewWidget);
}

AppWindowWidget::~AppWindowWidget() {
    view_.reset();
}

void AppWindowWidget::setTitle(const QString &title) {
    title_ = title;
    const int width = kWidth - 12;
    label_window_name->setText(label_window_name->fontMetrics().elidedText(title, Qt::ElideMiddle, width));
    label_window_name->setToolTip(title);
}

void AppWindowWidget::setFrame(std::shared_ptr<VideoFrameInterface> frame) {
    // The thumbnail keeps its frame: the view only holds what it was last given.
    frame_ = std::move(frame);
    view_->renderFrame(frame_);
}

void AppWindowWidget::setSelected(bool on) {
    selected_ = on;
    update();
}

void AppWindowWidget::mouseReleaseEvent(QMouseEvent *event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->pos()))
        emit clicked();
}

void AppWindowWidget::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    if (!selected_)
        return;
    QPainter painter(this);
    painter.setPen(QPen(QColor(85, 169, 237), 4));
    const QRect area = app_window_area->geometry();
    painter.drawRect(QRect(area.x() - 2, area.y() - 2, area.width() + 5, area.height() + 5));
}
