#pragma once

#include <QtTest>

#include <memory>

#include "support/testsupport.h"
#include "transfer/filetransferor.h"

namespace transfertest {

inline QByteArray md5Of(const QString &path) {
    return QCryptographicHash::hash(testsupport::readFile(path), QCryptographicHash::Md5).toHex();
}
// Homes and source files of one run share one temporary folder.
inline QString scratch(const QString &name) {
    static QTemporaryDir dir;
    return dir.filePath(name);
}
// The download folder of QStandardPaths follows HOME when no user-dirs file says otherwise.
inline QString useHome(const QString &home) {
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + "/.config"));
    return home;
}
inline QString freshHome() {
    static int homes = 0;
    const QString path = scratch(QString("home%1").arg(++homes));
    QDir().mkpath(path);
    return path;
}
inline QString source(const QString &name, qint64 size, quint32 seed = 1) {
    QByteArray bytes(int(size), Qt::Uninitialized);
    QRandomGenerator random(seed);
    std::generate(bytes.begin(), bytes.end(), [&] { return char(random.generate()); });
    QFile file(scratch(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(name));
    }
    return file.fileName();
}

// One transferor in a worker thread of its own, with its signals collected on the test's thread.
struct Side {
    explicit Side(int pc) : t(std::make_shared<FileTransferor>(pc)) {
        t->moveToThread(&thread);
        thread.start();
        clock.start();
        QObject::connect(t.get(), &FileTransferor::sigProgressChanged, &events,
                         [this](int v) { completions += v == 100; });
        QObject::connect(t.get(), &FileTransferor::sigTransferBegin, &events, [this] { ++begins; });
        QObject::connect(t.get(), &FileTransferor::sigFileSaved, &events, [this](QString p) { saved << p; });
        QObject::connect(t.get(), &FileTransferor::sigDownloadFolderReady, &events,
                         [this](QString folder) { folders << folder; });
        QObject::connect(t.get(), &FileTransferor::sigTransferFail, &events, [this](QString p, QString e) {
            failed << QFileInfo(p).fileName() + ": " + e;
            failedAtMs << clock.elapsed();
        });
    }
    ~Side() {
        t.reset();
        thread.quit();
        thread.wait();
    }
    QString failures() const { return failed.join(", "); }
    QThread thread;
    std::shared_ptr<FileTransferor> t;
    QObject events;
    QElapsedTimer clock;
    int begins = 0, completions = 0;
    QStringList saved, failed, folders;  // "name: error" of each failure; each folder to show
    QList<qint64> failedAtMs;
};

}  // namespace transfertest
