#pragma once

#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// One program on a host of the LAN whose output is read line by line.
struct Member {
    QProcess *process = nullptr;
    QString name;
    QString downloads;
    QString framesDir;
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
    // The last "frames" line, or empty.
    QString lastFrames() {
        pump();
        const QStringList lines = QString::fromUtf8(output).split('\n');
        for (int i = lines.size() - 1; i >= 0; --i) {
            if (lines[i].startsWith("frames ")) {
                return lines[i];
            }
        }
        return QString();
    }
    qint64 totalFrames() {
        const QRegularExpressionMatch m = QRegularExpression("total=(\\d+)").match(lastFrames());
        return m.hasMatch() ? m.captured(1).toLongLong() : 0;
    }
    bool ended() { return !process || process->state() == QProcess::NotRunning; }
    // The end of the output, for failure messages; a sanitizer's report from its head, which names
    // the fault, since a failure message is cut after about a thousand characters.
    QByteArray tail() {
        pump();
        const int report = output.indexOf("==ERROR: ");
        if (report >= 0) {
            return name.toUtf8() + ": " + output.mid(report, 2500);
        }
        return name.toUtf8() + ": ..." + output.right(2500);
    }
    // The path of the file saved under this name, or empty.
    QString savedPath(const QString &fileName) {
        pump();
        const QRegularExpressionMatch m =
            QRegularExpression("file saved (\\S*/" + QRegularExpression::escape(fileName) + ")\n")
                .match(QString::fromUtf8(output));
        return m.hasMatch() ? m.captured(1) : QString();
    }
    // The path of the first saved frame.
    QString firstSaved() {
        pump();
        const QRegularExpressionMatch m =
            QRegularExpression("saved frame (\\S+)").match(QString::fromUtf8(output));
        return m.hasMatch() ? m.captured(1) : QString();
    }
};
