#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include "ui/basicframelesshelper.h"

class QMouseEvent;

// Gives one frameless top-level widget its drag band, resize bands, double-click maximize and the
// resize cursors. Moving and resizing are left to the window manager (startSystemMove/Resize); when it
// refuses, the helper moves and resizes the window itself.
class FramelessWidgetHelper : public BasicFramelessHelper {
    Q_OBJECT

public:
    explicit FramelessWidgetHelper(QWidget *widget);
    ~FramelessWidgetHelper() override;

    QWidget *widget() const { return widget_; }

    bool handleWindowEvent(QEvent *event) override;
    bool isTitleArea(int x, int y) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Drag { None, PendingMove, ManualMove, ManualResize };

    void attachToWindow();
    bool onPress(QMouseEvent *event);
    bool onMove(QMouseEvent *event);
    bool onRelease(QMouseEvent *event);
    bool onDoubleClick(QMouseEvent *event);
    void updateCursor(frameless::Hit hit, QPoint local);
    void keepInsideAvailableGeometry();

    QPointer<QWidget> widget_;
    Drag drag_ = Drag::None;
    Qt::Edges dragEdges_;
    QPoint pressGlobal_;
    QRect pressGeometry_;
    bool bandCursor_ = false;
};
