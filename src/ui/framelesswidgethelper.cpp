#include "ui/framelesswidgethelper.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

using frameless::Hit;

FramelessWidgetHelper::FramelessWidgetHelper(QWidget *widget)
    : BasicFramelessHelper(nullptr), widget_(widget) {
    if (!widget_ || !(widget_->windowFlags() & Qt::FramelessWindowHint))
        return;
    widget_->installEventFilter(this);
    if (widget_->windowHandle())
        attachToWindow();
}

FramelessWidgetHelper::~FramelessWidgetHelper() {
    if (widget_)
        widget_->removeEventFilter(this);
    if (window())
        attach(window(), nullptr);
}

void FramelessWidgetHelper::attachToWindow() {
    QWindow *handle = widget_ ? widget_->windowHandle() : nullptr;
    if (!handle || handle == window())
        return;
    if (window())
        attach(window(), nullptr);
    setWindow(handle);
    attach(handle, this);
}

bool FramelessWidgetHelper::eventFilter(QObject *watched, QEvent *event) {
    if (watched == widget_) {
        switch (event->type()) {
            case QEvent::WinIdChange:
            case QEvent::Show:
                attachToWindow();
                break;
            case QEvent::WindowStateChange:
                if (widget_->windowState() == Qt::WindowMaximized)
                    QTimer::singleShot(0, this, &FramelessWidgetHelper::keepInsideAvailableGeometry);
                break;
            default:
                break;
        }
    }
    return BasicFramelessHelper::eventFilter(watched, event);
}

bool FramelessWidgetHelper::isTitleArea(int x, int y) {
    if (!widget_ || titleObjects().isEmpty())
        return true;
    QWidget *child = widget_->childAt(x, y);
    return !titleObjects().contains(child);
}

bool FramelessWidgetHelper::handleWindowEvent(QEvent *event) {
    if (!widget_)
        return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            return onPress(static_cast<QMouseEvent *>(event));
        case QEvent::MouseMove:
            return onMove(static_cast<QMouseEvent *>(event));
        case QEvent::MouseButtonRelease:
            return onRelease(static_cast<QMouseEvent *>(event));
        case QEvent::MouseButtonDblClick:
            return onDoubleClick(static_cast<QMouseEvent *>(event));
        case QEvent::Leave:
            if (bandCursor_ && window()) {
                window()->unsetCursor();
                bandCursor_ = false;
            }
            return false;
        default:
            return false;
    }
}

bool FramelessWidgetHelper::onPress(QMouseEvent *event) {
    drag_ = Drag::None;
    if (event->button() != Qt::LeftButton || widget_->isFullScreen())
        return false;
    const QPoint local = event->windowPos().toPoint();
    const Hit hit = hitTest(local.x(), local.y());
    pressGlobal_ = event->globalPos();
    pressGeometry_ = window()->geometry();
    if (frameless::isResizeHit(hit)) {
        if (widget_->isMaximized())
            return true;
        dragEdges_ = frameless::edgesOf(hit);
        if (!window()->startSystemResize(dragEdges_))
            drag_ = Drag::ManualResize;
        return true;
    }
    if (hit == Hit::Caption) {
        // The move starts with the first motion so that a double click still reaches us.
        drag_ = Drag::PendingMove;
        return true;
    }
    return false;
}

bool FramelessWidgetHelper::onMove(QMouseEvent *event) {
    const QPoint global = event->globalPos();
    switch (drag_) {
        case Drag::None: {
            if (event->buttons() == Qt::NoButton && !widget_->isFullScreen()) {
                const QPoint local = event->windowPos().toPoint();
                updateCursor(hitTest(local.x(), local.y()), local);
            }
            return false;
        }
        case Drag::PendingMove:
            if ((global - pressGlobal_).manhattanLength() < 3)
                return true;
            if (window()->startSystemMove()) {
                drag_ = Drag::None;
                return true;
            }
            drag_ = Drag::ManualMove;
            Q_FALLTHROUGH();
        case Drag::ManualMove:
            window()->setPosition(pressGeometry_.topLeft() + (global - pressGlobal_));
            return true;
        case Drag::ManualResize: {
            const QPoint d = global - pressGlobal_;
            QRect g = pressGeometry_;
            const QSize minSize = widget_->minimumSize();
            const QSize maxSize = widget_->maximumSize();
            if (dragEdges_ & Qt::LeftEdge)
                g.setLeft(qBound(g.right() - maxSize.width() + 1, g.left() + d.x(),
                                 g.right() - minSize.width() + 1));
            if (dragEdges_ & Qt::RightEdge)
                g.setWidth(qBound(minSize.width(), g.width() + d.x(), maxSize.width()));
            if (dragEdges_ & Qt::TopEdge)
                g.setTop(qBound(g.bottom() - maxSize.height() + 1, g.top() + d.y(),
                                g.bottom() - minSize.height() + 1));
            if (dragEdges_ & Qt::BottomEdge)
                g.setHeight(qBound(minSize.height(), g.height() + d.y(), maxSize.height()));
            window()->setGeometry(g);
            return true;
        }
    }
    return false;
}

bool FramelessWidgetHelper::onRelease(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || drag_ == Drag::None)
        return false;
    drag_ = Drag::None;
    return true;
}

bool FramelessWidgetHelper::onDoubleClick(QMouseEvent *event) {
    drag_ = Drag::None;
    if (event->button() != Qt::LeftButton || widget_->isFullScreen())
        return false;
    const QPoint local = event->windowPos().toPoint();
    const Hit hit = hitTest(local.x(), local.y());
    if (hit != Hit::Caption)
        return frameless::isResizeHit(hit);
    if (maximizable()) {
        if (widget_->isMaximized())
            widget_->showNormal();
        else
            widget_->showMaximized();
    }
    return true;
}

void FramelessWidgetHelper::updateCursor(Hit hit, QPoint local) {
    if (frameless::isResizeHit(hit) && !widget_->isMaximized()) {
        window()->setCursor(frameless::cursorOf(hit));
        bandCursor_ = true;
    } else if (bandCursor_) {
        // Give the window back the cursor of the widget under the mouse.
        QWidget *under = widget_->childAt(local);
        window()->setCursor(under ? under->cursor() : widget_->cursor());
        bandCursor_ = false;
    }
}

void FramelessWidgetHelper::keepInsideAvailableGeometry() {
    if (!widget_ || widget_->windowState() != Qt::WindowMaximized)
        return;
    QScreen *screen = widget_->screen();
    if (!screen)
        return;
    const QRect avail = screen->availableGeometry();
    if (!avail.contains(widget_->frameGeometry()))
        widget_->setGeometry(avail);
}
