#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace testsupport {

// A sound server of a test's own, ended with this object: a session bus, PipeWire with WirePlumber
// and its PulseAudio service, and two null sinks, "speakers" (the default output, so its monitor is
// what a host's speakers play) and "attendee" (where a program started with PULSE_SINK=attendee
// plays). Programs reach it through environment(); nothing here touches the machine's own server.
class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;

    bool isUp() const { return m_up; }
    QString errorString() const { return m_error; }
    // "NAME=value" entries that lead a program to this server.
    QStringList environment() const;
    // Starts a program with environment() plus extra; it is ended with the server.
    QProcess *start(const QString &program, const QStringList &arguments, const QStringList &extra = {});
    // Plays a sine of hz into the named sink until the server ends.
    void play(const QString &sink, int hz);
    // Records the monitor of the named sink as raw 16-bit stereo at 48 kHz into path, growing.
    void record(const QString &sink, const QString &path);

private:
    bool bringUp();

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    bool m_up = false;
    QString m_error;
};

}  // namespace testsupport
