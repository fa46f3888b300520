#pragma once

#include <QtTest>

#include <QRandomGenerator>
#include <QThread>

#include <memory>

#include "transfer/filetransferor.h"

namespace transfertest {

inline QByteArray md5Of(const QString &path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result().toHex() : "missing";
}

inline QString writeRandomFile(const QString &path, qint64 size, quint32 seed) {
    QByteArray bytes(int(size), Qt::Uninitialized);
    QRandomGenerator random(seed);
    std::generate(bytes.begin(), bytes.end(), [&] { return char(random.generate()); });
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// One transferor in a worker thread of its own, with its signals collected on the test's thread.
struct Side {
    struct Fail {
        QString path, error;
        qint64 atMs;
    };
    explicit Side(int pc) : t(std::make_shared<FileTransferor>(pc, &thread)) {
        thread.start();
        clock.start();
        QObject::connect(t.get(), &FileTransferor::sigProgressChanged, &events,
                         [this](int v) { progress << v; });
        QObject::connect(t.get(), &FileTransferor::sigTransferBegin, &events, [this] { ++begins; });
        QObject::connect(t.get(), &FileTransferor::sigFileSaved, &events, [this](QString p) { saved << p; });
        QObject::connect(t.get(), &FileTransferor::sigTransferFail, &events, [this](QString p, QString e) {
            fails.append({p, e, clock.elapsed()});
        });
    }
    ~Side() {
        t.reset();
        thread.quit();
        thread.wait();
    }
    int completions() const { return progress.count(100); }

    QThread thread;
    std::shared_ptr<FileTransferor> t;
    QObject events;
    QElapsedTimer clock;
    QList<int> progress;
    int begins = 0;
    QList<Fail> fails;
    QStringList saved;
};

}  // namespace transfertest
