#pragma once

#include <QHash>
#include <QObject>

class QWindow;
class BasicFramelessHelper;

// The one process-wide router: watches every attached native window and hands its events to the helper
// that serves it, before Qt delivers them to the widgets inside.
class NativeEventFilter : public QObject {
    Q_OBJECT

public:
    static NativeEventFilter *instance();

    void attach(QWindow *window, BasicFramelessHelper *helper);
    void detachHelper(BasicFramelessHelper *helper);
    BasicFramelessHelper *helperOf(QWindow *window) const { return table_.value(window); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    NativeEventFilter() = default;
    void forget(QObject *window);

    QHash<QWindow *, BasicFramelessHelper *> table_;
};
