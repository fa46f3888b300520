#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a session logging out, a service stop, Ctrl+C) into a normal
// quit of the event loop, so that shut-down and the last log lines happen as after closing the window.
class TerminationHandler : public QObject {
    Q_OBJECT
public:
    explicit TerminationHandler(QObject *parent = nullptr);
    ~TerminationHandler() override;

private:
    void onSignalReady();

    QSocketNotifier *notifier_ = nullptr;
};
