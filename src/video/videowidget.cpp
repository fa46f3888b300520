#include "video/videowidget.h"

#include <cmath>

#include <QImage>
#include <QPainter>

VideoWidget::VideoWidget(QWidget *parent) : QWidget(parent) {
    m_backgroundColor = qRgb(0, 0, 2);
    // The whole widget is painted each time; nothing below needs to be drawn first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&m_repaintTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_repaintTimer.start(17);
}

void VideoWidget::setBackgroundColor(uchar red, uchar green, uchar blue) {
    m_backgroundColor = qRgb(red, green, blue);
}

bool VideoWidget::renderFrame(std::weak_ptr<VideoFrameInterface> frame) {
    std::unique_lock<std::mutex> lock(m_frameLock, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    m_frame = std::dynamic_pointer_cast<ARGBFrame>(frame.lock());
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
        std::lock_guard<std::mutex> lock(m_frameLock);
        QPainter painter(this);
        painter.fillRect(rect(), QColor::fromRgb(m_backgroundColor));
        if (m_frame && m_frame->width() > 0 && m_frame->height() > 0) {
            const QImage image(m_frame->data(), int(m_frame->width()), int(m_frame->height()),
                               int(m_frame->stride()), QImage::Format_ARGB32);
            ratio = float(m_frame->width()) / float(m_frame->height());
            if (std::fabs(m_lastRatio - ratio) > 0.01f) {
                m_lastRatio = ratio;
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
