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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    NativeEventFilter() = default;
    void forget(QObject *window);

    // Keyed by the window as a QObject: entries are dropped from its destroyed signal, when the
    // QWindow part is already gone.
    QHash<QObject *, BasicFramelessHelper *> table_;
};
