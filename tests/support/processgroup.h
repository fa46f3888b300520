#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace testsupport {

// Programs of one test session, run in its own temporary folder with "NAME=value" entries added to
// this process's environment, and ended with it (SIGTERM, then the QProcess's own kill).
class ProcessGroup {
public:
    ~ProcessGroup() {
        for (; !processes_.empty(); processes_.pop_back()) {
            processes_.back()->terminate();
            processes_.back()->waitForFinished(3000);
        }
    }

    QString path() const { return dir_.path(); }
    QString filePath(const QString &name) const { return dir_.filePath(name); }
    // withInput keeps standard input open; otherwise it is empty (pw-cli with an open input waits for more).
    QProcess *start(const QString &program, const QStringList &arguments, const QStringList &environment = {},
                    bool withInput = false) {
        auto &p = processes_.emplace_back(std::make_unique<QProcess>());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &e : environment)
            env.insert(e.section('=', 0, 0), e.section('=', 1));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        if (!withInput)
            p->setStandardInputFile(QProcess::nullDevice());
        p->setWorkingDirectory(dir_.path());
        p->start(program, arguments);
        p->waitForStarted();
        return p.get();
    }

private:
    QTemporaryDir dir_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

}  // namespace testsupport
