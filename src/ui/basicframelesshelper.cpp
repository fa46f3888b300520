#include "ui/basicframelesshelper.h"

#include "ui/nativeeventfilter.h"

BasicFramelessHelper::BasicFramelessHelper(QObject *parent) : QObject(parent) {}

BasicFramelessHelper::~BasicFramelessHelper() {
    NativeEventFilter::instance()->detachHelper(this);
    titleObjects_.clear();
}

QMargins BasicFramelessHelper::resizeMargins() const {
    return QMargins(leftResizeMargin_, topResizeMargin_, rightResizeMargin_, bottomResizeMargin_);
}

frameless::Hit BasicFramelessHelper::hitTest(int x, int y) const {
    if (!window_)
        return frameless::Hit::Client;
    auto *self = const_cast<BasicFramelessHelper *>(this);
    return frameless::hitTest(QPoint(x, y), window_->size(), resizeMargins(), titleHeight_,
                              [self](int px, int py) { return self->isTitleArea(px, py); });
}

void BasicFramelessHelper::addTitleObjects(QObjectList objs) {
    titleObjects_.append(objs);
}

void BasicFramelessHelper::addTitleObject(QObject *obj) {
    titleObjects_.append(obj);
}

void BasicFramelessHelper::attach(QWindow *window, BasicFramelessHelper *helper) {
    NativeEventFilter::instance()->attach(window, helper);
}

void BasicFramelessHelper::setTitleHeight(int h) {
    if (h == titleHeight_)
        return;
    titleHeight_ = h;
    emit titleHeightChanged(h);
}

void BasicFramelessHelper::setLeftResizeMargin(int m) {
    if (m == leftResizeMargin_)
        return;
    leftResizeMargin_ = m;
    emit leftResizeMarginChanged(m);
}

void BasicFramelessHelper::setTopResizeMargin(int m) {
    if (m == topResizeMargin_)
        return;
    topResizeMargin_ = m;
    emit topResizeMarginChanged(m);
}

void BasicFramelessHelper::setRightResizeMargin(int m) {
    if (m == rightResizeMargin_)
        return;
    rightResizeMargin_ = m;
    emit rightResizeMarginChanged(m);
}

void BasicFramelessHelper::setBottomResizeMargin(int m) {
    if (m == bottomResizeMargin_)
        return;
    bottomResizeMargin_ = m;
    emit bottomResizeMarginChanged(m);
}

void BasicFramelessHelper::setResizeMargins(int m) {
    setLeftResizeMargin(m);
    setTopResizeMargin(m);
    setRightResizeMargin(m);
    setBottomResizeMargin(m);
}
