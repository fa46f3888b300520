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
            saved_.emplace_back(name, qgetenv(name));
        error_ = bringUp(desktopProgram, width, height, colour);
    }
    ~PortalSession() {
        programs_.reset();  // before the environment they were started in is restored
        for (const auto &[name, value] : saved_)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    bool isUp() const { return error_.isEmpty(); }
    QString errorString() const { return error_; }
    QString dir() const { return programs_->path(); }
    qint64 desktopPid() const { return desktop_ ? desktop_->processId() : 0; }
    // "colour RRGGBB" (the first screen), "pick N" (the picker's next choice) or "end" ("stop sharing").
    void tellDesktop(const QByteArray &line) {
        desktop_->write(line + "\n");
        desktop_->waitForBytesWritten(1000);  // before a portal call that blocks this thread
    }
    QByteArray desktopOutput() { return desktopSaid_ += desktop_->readAll(); }  // all it printed so far
    // A program with this session's environment plus "NAME=value" entries and an open input, ended with it.
    QProcess *start(const QString &program, const QStringList &arguments, const QStringList &extra = {}) {
        return programs_->start(program, arguments, extra, true);
    }

private:
    QString bringUp(const QString &desktopProgram, int width, int height, const QString &colour) {
        const QString portal = "/usr/libexec/xdg-desktop-portal", runtime = programs_->filePath("runtime");
        for (const QString &program : QStringList{"dbus-daemon", "pipewire", "wireplumber", "gdbus", portal})
            if (QStandardPaths::findExecutable(program).isEmpty())
                return program + " is not installed (scripts/packages.txt)";
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime.toUtf8() + "/bus");
        qputenv("XDG_SESSION_TYPE", "wayland");
        qputenv("XDG_CURRENT_DESKTOP", "zutest");
        qunsetenv("DISPLAY");
        // The programs' settings and the portal's remembered choices stay in the session.
        qputenv("XDG_CONFIG_HOME", programs_->filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", programs_->filePath("data").toUtf8());
        const QString error = startPipeWire(
            programs_->path(), runtime, [this](auto &program, auto &args) { return start(program, args); });
        if (!error.isEmpty())
            return error;
        desktop_ = start(desktopProgram, {colour, QString::number(width), QString::number(height)});
        if (!waitUntil([&] { return desktopOutput().contains("ready"); }, 15000))
            return "the test desktop did not come up: " + QString::fromUtf8(desktopSaid_);
        QFile file(programs_->filePath("portals/zutest.portal"));
        if (!QDir().mkpath(programs_->filePath("portals")) || !file.open(QIODevice::WriteOnly) ||
            !file.write("[portal]\nDBusName=org.freedesktop.impl.portal.desktop.zutest\n"
                        "Interfaces=org.freedesktop.impl.portal.ScreenCast;\nUseIn=zutest\n"))
            return "cannot write " + file.fileName();
        file.close();
        auto waitFor = [this](const char *service) {
            return runProgram("gdbus", {"wait", "--session", "--timeout", "10", service},
                              programs_->path()) == 0;
        };
        start("/usr/libexec/xdg-permission-store", {"--replace"});
        if (!waitFor("org.freedesktop.impl.portal.PermissionStore"))
            return "the portal's permission store did not come up";
        start(portal, {"-r"}, {"XDG_DESKTOP_PORTAL_DIR=" + programs_->filePath("portals")});
        return waitFor("org.freedesktop.portal.Desktop") ? QString() : "the desktop portal did not come up";
    }

    std::unique_ptr<ProcessGroup> programs_ = std::make_unique<ProcessGroup>();
    QProcess *desktop_ = nullptr;
    QByteArray desktopSaid_;
    std::vector<std::pair<const char *, QByteArray>> saved_;  // null where a variable was unset
    QString error_;
};

}  // namespace testsupport
