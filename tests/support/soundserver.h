#pragma once

#include <QFile>

#include "support/processgroup.h"
#include "support/testsupport.h"

namespace testsupport {

// A test's own PipeWire (with its PulseAudio service), reached through environment(), with two null sinks:
// "speakers" (the default output) and "attendee" (for PULSE_SINK=attendee); a monitor is "NAME.monitor".
class SoundServer {
public:
    SoundServer() { error_ = bringUp(); }

    bool isUp() const { return error_.isEmpty(); }
    QString errorString() const { return error_; }
    // "NAME=value" entries that lead a program to this server.
    QStringList environment() const {
        const QString dir = programs_.path(), runtime = dir + "/runtime";
        return {"XDG_RUNTIME_DIR=" + runtime, "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus",
                "PULSE_SERVER=unix:" + runtime + "/pulse/native", "XDG_CONFIG_HOME=" + dir + "/config",
                "XDG_STATE_HOME=" + dir + "/state"};
    }
    // Starts a program with environment() plus extra; it is ended with the server.
    QProcess *start(const QString &program, const QStringList &arguments, const QStringList &extra = {}) {
        return programs_.start(program, arguments, environment() + extra);
    }

private:
    QString bringUp() {  // empty, or what did not come up
        const QString runtime = programs_.filePath("runtime");
        const QString error =
            startPipeWire(programs_.path(), runtime,
                          [this](const QString &p, const QStringList &a) { return start(p, a); });
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

    ProcessGroup programs_;
    QString error_;
};

}  // namespace testsupport
