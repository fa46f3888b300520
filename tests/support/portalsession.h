#pragma once

#include <QDir>
#include <QStandardPaths>
#include <vector>

#include "support/processgroup.h"
#include "support/testsupport.h"

namespace testsupport {

// While it lives, this process's environment points at a Wayland session's screen casting: bus, PipeWire,
// portal and permission store, and zushare_portaldesktop's two solid-colour screens behind them.
class PortalSession {
public:
    PortalSession(const QString &desktopProgram, int width, int height, const QString &colour) {
        for (const char *name : {"XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "XDG_SESSION_TYPE",
                                 "XDG_CURRENT_DESKTOP", "DISPLAY", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            m_saved.emplace_back(name, qgetenv(name));
        m_error = bringUp(desktopProgram, width, height, colour);
    }
    ~PortalSession() {
        m_programs.reset();  // before the environment they were started in is restored
        for (const auto &[name, value] : m_saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    bool isUp() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    QString dir() const { return m_programs->path(); }
    qint64 desktopPid() const { return m_desktop ? m_desktop->processId() : 0; }
    // "colour RRGGBB" (the first screen), "pick N" (the picker's next choice) or "end" ("stop sharing").
    void tellDesktop(const QByteArray &line) {
        m_desktop->write(line + "\n");
        m_desktop->waitForBytesWritten(1000);  // before a portal call that blocks this thread
    }
    QByteArray desktopOutput() { return m_desktopSaid += m_desktop->readAll(); }  // all it printed so far
    // A program with this session's environment plus "NAME=value" entries and an open input, ended with it.
    QProcess *start(const QString &program, const QStringList &arguments, const QStringList &extra = {}) {
        return m_programs->start(program, arguments, extra, true);
    }

private:
    QString bringUp(const QString &desktopProgram, int width, int height, const QString &colour) {
        const QString portal = "/usr/libexec/xdg-desktop-portal", runtime = m_programs->filePath("runtime");
        for (const QString &program : QStringList{"dbus-daemon", "pipewire", "wireplumber", "gdbus", portal})
            if (QStandardPaths::findExecutable(program).isEmpty())
                return program + " is not installed (scripts/packages.txt)";
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime.toUtf8() + "/bus");
        qputenv("XDG_SESSION_TYPE", "wayland");
        qputenv("XDG_CURRENT_DESKTOP", "zutest");
        qunsetenv("DISPLAY");
        // The programs' settings and the portal's remembered choices stay in the session.
        qputenv("XDG_CONFIG_HOME", m_programs->filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", m_programs->filePath("data").toUtf8());
        const QString error = startPipeWire(
            m_programs->path(), runtime, [this](auto &program, auto &args) { return start(program, args); });
        if (!error.isEmpty())
            return error;
        m_desktop = start(desktopProgram, {colour, QString::number(width), QString::number(height)});
        if (!waitUntil([&] { return desktopOutput().contains("ready"); }, 15000))
            return "the test desktop did not come up: " + QString::fromUtf8(m_desktopSaid);
        QFile file(m_programs->filePath("portals/zutest.portal"));
        if (!QDir().mkpath(m_programs->filePath("portals")) || !file.open(QIODevice::WriteOnly) ||
            !file.write("[portal]\nDBusName=org.freedesktop.impl.portal.desktop.zutest\n"
                        "Interfaces=org.freedesktop.impl.portal.ScreenCast;\nUseIn=zutest\n"))
            return "cannot write " + file.fileName();
        file.close();
        auto waitFor = [this](const char *service) {
            return runProgram("gdbus", {"wait", "--session", "--timeout", "10", service},
                              m_programs->path()) == 0;
        };
        start("/usr/libexec/xdg-permission-store", {"--replace"});
        if (!waitFor("org.freedesktop.impl.portal.PermissionStore"))
            return "the portal's permission store did not come up";
        start(portal, {"-r"}, {"XDG_DESKTOP_PORTAL_DIR=" + m_programs->filePath("portals")});
        return waitFor("org.freedesktop.portal.Desktop") ? QString() : "the desktop portal did not come up";
    }

    std::unique_ptr<ProcessGroup> m_programs = std::make_unique<ProcessGroup>();
    QProcess *m_desktop = nullptr;
    QByteArray m_desktopSaid;
    std::vector<std::pair<const char *, QByteArray>> m_saved;  // null where a variable was unset
    QString m_error;
};

}  // namespace testsupport
