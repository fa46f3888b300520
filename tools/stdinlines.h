#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

// The lines a person or a test types on standard input, one signal each, without blocking the
// event loop; an overlong line is dropped.
class StdinLines : public QObject {
    Q_OBJECT
public:
    explicit StdinLines(QObject *parent = nullptr);

signals:
    void line(const QByteArray &text);

private:
    void onReadable();

    QSocketNotifier notifier_;
    QByteArray input_;
};
