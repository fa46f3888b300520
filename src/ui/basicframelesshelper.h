#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QWindow>

#include "ui/framelesshittest.h"

class QEvent;

// Settings and hit testing shared by the frameless helpers; the subclass binds them to a window and
// decides which points of the title band drag it.
class BasicFramelessHelper : public QObject {
    Q_OBJECT
    Q_PROPERTY(int titleHeight READ titleHeight WRITE setTitleHeight NOTIFY titleHeightChanged)
    Q_PROPERTY(
        int leftResizeMargin READ leftResizeMargin WRITE setLeftResizeMargin NOTIFY leftResizeMarginChanged)
    Q_PROPERTY(
        int topResizeMargin READ topResizeMargin WRITE setTopResizeMargin NOTIFY topResizeMarginChanged)
    Q_PROPERTY(int rightResizeMargin READ rightResizeMargin WRITE setRightResizeMargin NOTIFY
                   rightResizeMarginChanged)
    Q_PROPERTY(int bottomResizeMargin READ bottomResizeMargin WRITE setBottomResizeMargin NOTIFY
                   bottomResizeMarginChanged)

public:
    explicit BasicFramelessHelper(QObject *parent = nullptr);
    ~BasicFramelessHelper() override;

    int titleHeight() const { return titleHeight_; }
    int leftResizeMargin() const { return leftResizeMargin_; }
    int topResizeMargin() const { return topResizeMargin_; }
    int rightResizeMargin() const { return rightResizeMargin_; }
    int bottomResizeMargin() const { return bottomResizeMargin_; }
    bool maximizable() const { return maximizable_; }
    bool minimable() const { return minimable_; }
    void setMaximizable(bool on) { maximizable_ = on; }
    void setMinimable(bool on) { minimable_ = on; }

    QWindow *window() const { return window_; }
    const QObjectList &titleObjects() const { return titleObjects_; }
    QMargins resizeMargins() const;

    // The table answer for a point in window coordinates of the served window.
    frameless::Hit hitTest(int x, int y) const;

    Q_INVOKABLE void addTitleObjects(QObjectList objs);
    Q_INVOKABLE void addTitleObject(QObject *obj);

    // Called by the process-wide router for every event of the attached window; true consumes it.
    virtual bool handleWindowEvent(QEvent *event) = 0;
    virtual bool isTitleArea(int x, int y) = 0;

    // Routes the events of window to helper (helper empty: stop routing them).
    static void attach(QWindow *window, BasicFramelessHelper *helper);

signals:
    void titleHeightChanged(int);
    void leftResizeMarginChanged(int);
    void topResizeMarginChanged(int);
    void rightResizeMarginChanged(int);
    void bottomResizeMarginChanged(int);

public slots:
    void setTitleHeight(int h);
    void setLeftResizeMargin(int m);
    void setTopResizeMargin(int m);
    void setRightResizeMargin(int m);
    void setBottomResizeMargin(int m);
    // All four bands at once; 0 makes the window resizable by its own code only.
    void setResizeMargins(int m);

protected:
    void setWindow(QWindow *window) { window_ = window; }

private:
    QPointer<QWindow> window_;
    QObjectList titleObjects_;
    int titleHeight_ = 0;
    int leftResizeMargin_ = 6;
    int topResizeMargin_ = 6;
    int rightResizeMargin_ = 6;
    int bottomResizeMargin_ = 6;
    bool maximizable_ = true;
    bool minimable_ = true;
};
