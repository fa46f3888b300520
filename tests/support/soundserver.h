#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "support/testsupport.h"

namespace testsupport {

// A test's own PipeWire (with its PulseAudio service), reached through environment(), with two null sinks:
// "speakers" (the default output) and "attendee" (for PULSE_SINK=attendee); a monitor is "NAME.monitor".
class SoundServer {
public:
    SoundServer() { m_error = bringUp(); }
    ~SoundServer() {
        for (; !m_processes.empty(); m_processes.pop_back()) {
            m_processes.back()->terminate();
            m_processes.back()->waitForFinished(3000);  // the destructor kills what still runs
        }
    }

    bool isUp() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    // "NAME=value" entries that lead a program to this server.
    QStringList environment() const {
        const QString runtime = m_dir.filePath("runtime");
        return {"XDG_RUNTIME_DIR=" + runtime, "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus",
                "PULSE_SERVER=unix:" + runtime + "/pulse/native",
                "XDG_CONFIG_HOME=" + m_dir.filePath("config"), "XDG_STATE_HOME=" + m_dir.filePath("state")};
    }
    // Starts a program with environment() plus extra; it is ended with the server.
    QProcess *start(const QString &program, const QStringList &arguments, const QStringList &extra = {}) {
        auto &p = m_processes.emplace_back(std::make_unique<QProcess>());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &e : environment() + extra)
            env.insert(e.section('=', 0, 0), e.section('=', 1));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->setStandardInputFile(QProcess::nullDevice());  // pw-cli with open input waits for more commands
        p->setWorkingDirectory(m_dir.path());
        p->start(program, arguments);
        p->waitForStarted();
        return p.get();
    }

private:
    QString bringUp() {  // empty, or what did not come up
        const QString runtime = m_dir.filePath("runtime");
        const QString error = startPipeWire(
            m_dir.path(), runtime, [this](const QString &p, const QStringList &a) { return start(p, a); });
        if (!error.isEmpty())
            return error;
        start("pipewire-pulse", {});
        if (!waitUntil([&] { return QFile::exists(runtime + "/pulse/native"); }, 5000))
            return "PipeWire's PulseAudio service did not start";
        // Empty when a short program ran to a good end, else what it said.
        const auto failed = [](QProcess *program) {
            program->waitForFinished(5000);
            const bool good = program->state() == QProcess::NotRunning &&
                              program->exitStatus() == QProcess::NormalExit && program->exitCode() == 0;
            return good ? QString()
                        : QString(" (exit %1): %2").arg(program->exitCode()).arg(QString(program->readAll()));
        };
        for (const QString sink : {"speakers", "attendee"}) {
            const QString props = "{ factory.name=support.null-audio-sink node.name=" + sink +
                                  " media.class=Audio/Sink audio.position=[FL FR] object.linger=true }";
            const QString why = failed(start("pw-cli", {"create-node", "adapter", props}));
            if (!why.isEmpty())
                return "the null sink " + sink + " was not made" + why;
        }
        const QString why = failed(
            start("pw-metadata", {"0", "default.configured.audio.sink", "{ \"name\": \"speakers\" }"}));
        return why.isEmpty() ? QString() : "the default output was not set" + why;
    }

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QString m_error;
};

}  // namespace testsupport
