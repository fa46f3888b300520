#pragma once

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>

#include "support/testsupport.h"

// One program on a host of the LAN whose output is read line by line.
struct Member {
    QProcess *process = nullptr;
    QString name, downloads;
    QByteArray output;

    void pump() {
        if (process) {
            output += process->readAll();
        }
    }
    bool has(const QString &text) {
        pump();
        return QString::fromUtf8(output).contains(text);
    }
    QString lastFrames() {
        pump();
        const QStringList lines = QString::fromUtf8(output).split('\n');
        auto it = std::find_if(lines.rbegin(), lines.rend(), [](auto &l) { return l.startsWith("frames "); });
        return it == lines.rend() ? QString() : *it;
    }
    qint64 totalFrames() {
        return QRegularExpression("total=(\\d+)").match(lastFrames()).captured(1).toLongLong();
    }
    bool ended() { return !process || process->state() == QProcess::NotRunning; }
    bool exitedWith(int code) {
        return ended() && process && process->exitStatus() == QProcess::NormalExit &&
               process->exitCode() == code;
    }
    // The output's end for failure messages; a sanitizer's report from its head, which names the fault.
    QByteArray tail() {
        pump();
        const int report = output.indexOf("==ERROR: ");
        return name.toUtf8() + (report >= 0 ? ": " + output.mid(report, 2500) : ": ..." + output.right(2500));
    }
    // The content of the file saved in the download folder under this name, once the program says so.
    QByteArray saved(const QString &fileName) {
        const QString path = QDir(downloads).filePath(fileName);
        return has("file saved " + path + "\n") ? testsupport::readFile(path) : QByteArray();
    }
};
