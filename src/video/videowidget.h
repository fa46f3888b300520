#pragma once

#include <memory>
#include <mutex>

#include <QRgb>
#include <QTimer>
#include <QWidget>

#include "video/argbframe.h"
#include "video/videowidgetinterface.h"

// Paints ARGBFrames with QPainter, letterboxed on the background colour; repaints every 17 ms.
class VideoWidget : public QWidget, public VideoWidgetInterface {
    Q_OBJECT

public:
    explicit VideoWidget(QWidget *parent = nullptr);

    void setBackgroundColor(uchar red, uchar green, uchar blue);
    bool renderFrame(std::weak_ptr<VideoFrameInterface> frame) override;

    // Where the picture lands in a widget of the given size (empty without a picture).
    static QRect pictureRect(const QSize &picture, const QSize &widget);

signals:
    void sigFrameSizeChanged(float ratio);

protected:
    void paintEvent(QPaintEvent *event) override;
    // Runs at the end of each paint on the UI thread while the frame lock is still held.
    virtual void afterFrameDrawn() {}

private:
    std::shared_ptr<ARGBFrame> frame_;
    QRgb backgroundColor_ = 2;
    std::mutex frameLock_;
    float lastRatio_ = 0.0f;
    QTimer repaintTimer_;
};
