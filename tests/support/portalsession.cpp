#include "support/portalsession.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "support/testsupport.h"

namespace testsupport {

namespace {

const char *const kVariables[] = {
    "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP",
    "DISPLAY",         "XDG_CONFIG_HOME",          "XDG_DATA_HOME"};

}  // namespace

PortalSession::PortalSession(const QString &desktopProgram, int width, int height, const QString &colour) {
    for (const char *name : kVariables)
        m_savedEnvironment.append(qgetenv(name));
    m_up = bringUp(desktopProgram, width, height, colour);
}

PortalSession::~PortalSession() {
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(3000))
            (*it)->kill();
        (*it)->waitForFinished(1000);
    }
    m_processes.clear();
    for (int i = 0; i < m_savedEnvironment.size(); ++i) {
        if (m_savedEnvironment[i].isNull())
            qunsetenv(kVariables[i]);
        else
            qputenv(kVariables[i], m_savedEnvironment[i]);
    }
}

QProcess *PortalSession::start(const QString &program, const QStringList &arguments,
                               const QStringList &extra) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &e : extra)
        env.insert(e.section('=', 0, 0), e.section('=', 1));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setWorkingDirectory(m_dir.path());
    p->start(program, arguments);
    p->waitForStarted();
    m_processes.push_back(std::move(p));
    return m_processes.back().get();
}

void PortalSession::tellDesktop(const QByteArray &line) {
    if (m_desktop) {
        m_desktop->write(line + "\n");
        m_desktop->waitForBytesWritten(1000);  // before a portal call that blocks this thread
    }
}

QByteArray PortalSession::desktopOutput() {
    if (m_desktop)
        m_desktopSaid += m_desktop->readAll();
    return m_desktopSaid;
}

bool PortalSession::bringUp(const QString &desktopProgram, int width, int height, const QString &colour) {
    for (const char *program : {"dbus-daemon", "pipewire", "wireplumber", "gdbus"}) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            m_error = QString("%1 is not installed (scripts/packages.txt)").arg(program);
            return false;
        }
    }
    const QString portal = "/usr/libexec/xdg-desktop-portal";
    if (!QFile::exists(portal) || !m_dir.isValid()) {
        m_error = "xdg-desktop-portal is not installed (scripts/packages.txt)";
        return false;
    }
    const QString runtime = m_dir.filePath("runtime");
    const QString bus = "unix:path=" + runtime + "/bus";
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
    qputenv("XDG_SESSION_TYPE", "wayland");
    qputenv("XDG_CURRENT_DESKTOP", "zutest");
    qunsetenv("DISPLAY");
    // The programs' settings and the portal's remembered choices stay in the session.
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());

    m_error = startPipeWire(m_dir.path(), runtime, [this](const QString &program, const QStringList &args) {
        return start(program, args);
    });
    if (!m_error.isEmpty())
        return false;
    m_desktop = start(desktopProgram, {colour, QString::number(width), QString::number(height)});
    if (!waitUntil([&] { return desktopOutput().contains("ready"); }, 15000)) {
        m_error = "the test desktop did not come up: " + QString::fromUtf8(m_desktopSaid);
        return false;
    }
    const QString portals = m_dir.filePath("portals");
    QDir().mkpath(portals);
    QFile file(portals + "/zutest.portal");
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(
        "[portal]\nDBusName=org.freedesktop.impl.portal.desktop.zutest\n"
        "Interfaces=org.freedesktop.impl.portal.ScreenCast;\nUseIn=zutest\n");
    file.close();
    start("/usr/libexec/xdg-permission-store", {"--replace"});
    if (runProgram("gdbus",
                   {"wait", "--session", "--timeout", "10", "org.freedesktop.impl.portal.PermissionStore"},
                   m_dir.path()) != 0) {
        m_error = "the portal's permission store did not come up";
        return false;
    }
    start(portal, {"-r"}, {"XDG_DESKTOP_PORTAL_DIR=" + portals});
    if (runProgram("gdbus", {"wait", "--session", "--timeout", "10", "org.freedesktop.portal.Desktop"},
                   m_dir.path()) != 0) {
        m_error = "the desktop portal did not come up";
        return false;
    }
    return true;
}

}  // namespace testsupport
