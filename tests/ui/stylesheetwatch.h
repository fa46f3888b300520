#pragma once

#include <QAtomicInt>
#include <QtGlobal>

// Counts Qt's complaints about style sheets it cannot parse (a broken sheet silently drops pictures).
namespace stylesheetwatch {

inline QAtomicInt &failures() {
    static QAtomicInt count;
    return count;
}

inline QtMessageHandler &previous() {
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void install() {
    previous() =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &msg) {
            if (msg.contains(QLatin1String("Could not parse stylesheet")))
                failures().ref();
            if (previous())
                previous()(type, context, msg);
        });
}

}  // namespace stylesheetwatch
