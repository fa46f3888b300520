#include "ui/nativeeventfilter.h"

#include <QWindow>

#include "ui/basicframelesshelper.h"

NativeEventFilter *NativeEventFilter::instance() {
    // Function-local static: lives until exit, after every window and helper is gone.
    static NativeEventFilter filter;
    return &filter;
}

void NativeEventFilter::attach(QWindow *window, BasicFramelessHelper *helper) {
    if (!window)
        return;
    if (!helper) {
        window->removeEventFilter(this);
        forget(window);
        return;
    }
    if (table_.contains(window))
        return;
    table_.insert(window, helper);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, &NativeEventFilter::forget);
}

void NativeEventFilter::detachHelper(BasicFramelessHelper *helper) {
    for (auto it = table_.begin(); it != table_.end();) {
        if (it.value() == helper) {
            it.key()->removeEventFilter(this);
            disconnect(it.key(), nullptr, this, nullptr);
            it = table_.erase(it);
        } else {
            ++it;
        }
    }
}

void NativeEventFilter::forget(QObject *window) {
    table_.remove(window);
}

bool NativeEventFilter::eventFilter(QObject *watched, QEvent *event) {
    BasicFramelessHelper *helper = table_.value(watched);
    if (!helper)
        return false;
    return helper->handleWindowEvent(event);
}
