#include "video/videowidget.h"

#include <cmath>

#include <QImage>
#include <QPainter>

VideoWidget::VideoWidget(QWidget *parent) : QWidget(parent) {
    backgroundColor_ = qRgb(0, 0, 2);
    // The whole widget is painted each time; nothing below needs to be drawn first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&repaintTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    repaintTimer_.start(17);
}

void VideoWidget::setBackgroundColor(uchar red, uchar green, uchar blue) {
    backgroundColor_ = qRgb(red, green, blue);
}

bool VideoWidget::renderFrame(std::weak_ptr<VideoFrameInterface> frame) {
    std::unique_lock<std::mutex> lock(frameLock_, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    frame_ = std::dynamic_pointer_cast<ARGBFrame>(frame.lock());
    return true;
}

QRect VideoWidget::pictureRect(const QSize &picture, const QSize &widget) {
    if (picture.isEmpty() || widget.isEmpty())
        return QRect();
    const QSize scaled = picture.scaled(widget, Qt::KeepAspectRatio);
    return QRect((widget.width() - scaled.width()) / 2, (widget.height() - scaled.height()) / 2,
                 scaled.width(), scaled.height());
}

void VideoWidget::paintEvent(QPaintEvent *) {
    bool sizeChanged = false;
    float ratio = 0.0f;
    {
        std::lock_guard<std::mutex> lock(frameLock_);
        QPainter painter(this);
        painter.fillRect(rect(), QColor::fromRgb(backgroundColor_));
        if (frame_ && frame_->width() > 0 && frame_->height() > 0) {
            const QImage image(frame_->data(), int(frame_->width()), int(frame_->height()),
                               int(frame_->stride()), QImage::Format_ARGB32);
            ratio = float(frame_->width()) / float(frame_->height());
            if (std::fabs(lastRatio_ - ratio) > 0.01f) {
                lastRatio_ = ratio;
                sizeChanged = true;
            }
            const QRect target = pictureRect(image.size(), size());
            if (!image.isNull() && !target.isEmpty())
                painter.drawImage(target, image);
        }
        painter.end();
        afterFrameDrawn();
    }
    // After the lock is released, so that a receiver may resize or repaint the view.
    if (sizeChanged)
        emit sigFrameSizeChanged(ratio);
}
