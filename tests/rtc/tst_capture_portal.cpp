// Capture in a Wayland session: a command-line host shares the screen that the desktop portal casts
// (the real portal service and PipeWire, with a test desktop behind the portal), and a command-line
// attendee sees its colour, sees it change, and the host notices when the desktop ends the cast.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "rtc/lanmember.h"
#include "support/testsupport.h"

namespace {

constexpr int kStartMs = 15000;

// The colour of the top-left quadrant in the last "frames" line, or -1s.
std::array<int, 3> topLeft(Member &m) {
    const QRegularExpressionMatch q = QRegularExpression("q0=(\\d+),(\\d+),(\\d+)").match(m.lastFrames());
    if (!q.hasMatch())
        return {-1, -1, -1};
    return {q.captured(1).toInt(), q.captured(2).toInt(), q.captured(3).toInt()};
}

bool near(const std::array<int, 3> &got, int r, int g, int b) {
    return std::abs(got[0] - r) <= 16 && std::abs(got[1] - g) <= 16 && std::abs(got[2] - b) <= 16;
}

}  // namespace

class TestCapturePortal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void portalCastReachesAnAttendee();
    void waylandWithoutAPortalSaysSo();

private:
    QProcess *daemon(const QString &program, const QStringList &arguments, const QStringList &extra = {});
    Member *cli(const QString &name, const QStringList &arguments, const QStringList &extra = {});

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_daemons;
    std::vector<std::unique_ptr<Member>> m_members;
    QProcess *m_desktop = nullptr;
    bool m_up = false;
};

QProcess *TestCapturePortal::daemon(const QString &program, const QStringList &arguments,
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
    m_daemons.push_back(std::move(p));
    return m_daemons.back().get();
}

Member *TestCapturePortal::cli(const QString &name, const QStringList &arguments, const QStringList &extra) {
    auto m = std::make_unique<Member>();
    m->name = name;
    m->process = daemon(ZUSHARE_CLI, arguments, extra);
    m_members.push_back(std::move(m));
    return m_members.back().get();
}

void TestCapturePortal::initTestCase() {
    if (!testsupport::inTestNamespace())
        QSKIP("needs the private network namespace of scripts/test.sh");
    for (const char *program : {"dbus-daemon", "pipewire", "wireplumber", "/usr/libexec/xdg-desktop-portal"})
        if (QStandardPaths::findExecutable(program).isEmpty() && !QFile::exists(program))
            QSKIP(qPrintable(QString("%1 is not installed (scripts/packages.txt)").arg(program)));
    QVERIFY(m_dir.isValid());
    const QString runtime = m_dir.filePath("runtime");
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString bus = "unix:path=" + runtime + "/bus";
    // Everything started from here on, the programs under test among them, finds this session.
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
    qputenv("XDG_SESSION_TYPE", "wayland");
    qputenv("XDG_CURRENT_DESKTOP", "zutest");
    qunsetenv("DISPLAY");

    daemon("dbus-daemon", {"--session", "--nofork", "--address=" + bus});
    QVERIFY(testsupport::waitUntil([&] { return QFile::exists(runtime + "/bus"); }, 5000));
    daemon("pipewire", {});
    QVERIFY(testsupport::waitUntil([&] { return QFile::exists(runtime + "/pipewire-0"); }, 5000));
    daemon("wireplumber", {});
    m_desktop = daemon(ZUSHARE_PORTAL_DESKTOP, {"20a040"});
    QVERIFY2(testsupport::waitUntil([&] { return m_desktop->readAll().contains("ready"); }, kStartMs),
             "the test desktop did not come up");
    const QString portals = m_dir.filePath("portals");
    QDir().mkpath(portals);
    QFile file(portals + "/zutest.portal");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "[portal]\nDBusName=org.freedesktop.impl.portal.desktop.zutest\n"
        "Interfaces=org.freedesktop.impl.portal.ScreenCast;\nUseIn=zutest\n");
    file.close();
    daemon("/usr/libexec/xdg-desktop-portal", {"-r"}, {"XDG_DESKTOP_PORTAL_DIR=" + portals});
    QCOMPARE(testsupport::runProgram(
                 "gdbus", {"wait", "--session", "--timeout", "10", "org.freedesktop.portal.Desktop"},
                 m_dir.path()),
             0);
    m_up = true;
}

void TestCapturePortal::cleanupTestCase() {
    m_members.clear();
    for (auto it = m_daemons.rbegin(); it != m_daemons.rend(); ++it) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(3000))
            (*it)->kill();
        (*it)->waitForFinished(1000);
    }
    m_daemons.clear();
}

void TestCapturePortal::portalCastReachesAnAttendee() {
    QVERIFY(m_up);
    Member *host = cli("host", {"host", "--no-web", "--no-discovery"});
    QVERIFY2(testsupport::waitUntil([&] { return host->has("share started"); }, kStartMs), host->tail());
    Member *watcher = cli("watcher", {"watch", "127.0.0.1", "--nickname", "w"});
    QVERIFY2(testsupport::waitUntil([&] { return near(topLeft(*watcher), 0x20, 0xa0, 0x40); }, kStartMs),
             watcher->tail() + host->tail());
    QVERIFY2(watcher->lastFrames().contains("size=1280x720"), qPrintable(watcher->lastFrames()));

    m_desktop->write("colour c03020\n");
    QVERIFY2(testsupport::waitUntil([&] { return near(topLeft(*watcher), 0xc0, 0x30, 0x20); }, 5000),
             watcher->tail());

    // The desktop's "stop sharing": the share is told and ends, rather than freezing on a picture.
    m_desktop->write("end\n");
    QVERIFY2(testsupport::waitUntil([&] { return host->ended(); }, 3000), host->tail());
    QCOMPARE(host->process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(host->process->exitCode(), 1);
    const QByteArray log = testsupport::readFile(m_dir.filePath("logs/zu_share_log.txt"));
    QVERIFY2(log.contains("screen capture: Wayland session, through the desktop portal and PipeWire"),
             log.right(2000));
    QVERIFY2(log.contains("screen capture: the screen cast"), log.right(2000));
}

void TestCapturePortal::waylandWithoutAPortalSaysSo() {
    QVERIFY(m_up);
    // A session bus of its own without a portal on it.
    const QString lonely = "unix:path=" + m_dir.filePath("runtime/lonely-bus");
    daemon("dbus-daemon", {"--session", "--nofork", "--address=" + lonely});
    QVERIFY(
        testsupport::waitUntil([&] { return QFile::exists(m_dir.filePath("runtime/lonely-bus")); }, 5000));
    Member *host =
        cli("host", {"host", "--no-web", "--no-discovery"}, {"DBUS_SESSION_BUS_ADDRESS=" + lonely});
    QVERIFY2(testsupport::waitUntil([&] { return host->ended(); }, kStartMs), host->tail());
    // It exits while the engine still makes its DTLS key: that once crashed in OpenSSL's clean-up.
    QCOMPARE(host->process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(host->process->exitCode(), 2);
    QVERIFY2(host->has("the desktop portal gave no screen to share"), host->tail());
    const QByteArray log = testsupport::readFile(m_dir.filePath("logs/zu_share_log.txt"));
    QVERIFY2(log.contains("screen capture: the desktop portal refused CreateSession") ||
                 log.contains("has no desktop portal for screen casts"),
             log.right(2000));
}

QTEST_GUILESS_MAIN(TestCapturePortal)
#include "tst_capture_portal.moc"
