#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace testsupport {

// A Wayland session's screen casting, started for a test or a benchmark and ended with this object:
// a session bus, PipeWire with WirePlumber, the desktop portal service with its permission store,
// and behind it a test desktop (zushare_portaldesktop) whose two screens are solid colours. While it
// exists, this process's environment points at it (XDG_SESSION_TYPE=wayland, the bus, the runtime,
// settings and data folders), so that the engine and every program started from here capture
// through the portal.
class PortalSession {
public:
    PortalSession(const QString &desktopProgram, int width, int height, const QString &colour);
    ~PortalSession();
    PortalSession(const PortalSession &) = delete;
    PortalSession &operator=(const PortalSession &) = delete;

    bool isUp() const { return m_up; }
    QString errorString() const { return m_error; }
    QString dir() const { return m_dir.path(); }
    // "colour RRGGBB" (the first screen), "pick N" (the picker's next choice) or "end" (the
    // desktop's "stop sharing").
    void tellDesktop(const QByteArray &line);
    // Everything the test desktop printed so far.
    QByteArray desktopOutput();
    // Starts a program with this session's environment plus the extra "NAME=value" entries; it is
    // ended with the session.
    QProcess *start(const QString &program, const QStringList &arguments, const QStringList &extra = {});
    qint64 desktopPid() const { return m_desktop ? m_desktop->processId() : 0; }

private:
    bool bringUp(const QString &desktopProgram, int width, int height, const QString &colour);

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QProcess *m_desktop = nullptr;
    QByteArray m_desktopSaid;
    QList<QByteArray> m_savedEnvironment;  // null where a variable was unset
    bool m_up = false;
    QString m_error;
};

}  // namespace testsupport
