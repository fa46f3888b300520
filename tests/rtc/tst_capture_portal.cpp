// Capture in a Wayland session: a command-line host shares the screen that the desktop portal casts
// (the real portal service and PipeWire, with a test desktop behind the portal), and a command-line
// attendee sees its colour, sees it change, and the host notices when the desktop ends the cast.

#include <QtTest>
#include <array>
#include <memory>
#include <vector>

#include "rtc/lanmember.h"
#include "support/portalsession.h"
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
    Member *cli(const QString &name, const QStringList &arguments, const QStringList &extra = {});

    std::unique_ptr<testsupport::PortalSession> m_session;
    std::vector<std::unique_ptr<Member>> m_members;
};

Member *TestCapturePortal::cli(const QString &name, const QStringList &arguments, const QStringList &extra) {
    auto m = std::make_unique<Member>();
    m->name = name;
    m->process = m_session->start(ZUSHARE_CLI, arguments, extra);
    m_members.push_back(std::move(m));
    return m_members.back().get();
}

void TestCapturePortal::initTestCase() {
    if (!testsupport::inTestNamespace())
        QSKIP("needs the private network namespace of scripts/test.sh");
    m_session = std::make_unique<testsupport::PortalSession>(ZUSHARE_PORTAL_DESKTOP, 1280, 720, "20a040");
    QVERIFY2(m_session->isUp(), qPrintable(m_session->errorString()));
}

void TestCapturePortal::cleanupTestCase() {
    m_members.clear();
    m_session.reset();
}

void TestCapturePortal::portalCastReachesAnAttendee() {
    Member *host = cli("host", {"host", "--no-web", "--no-discovery"});
    QVERIFY2(testsupport::waitUntil([&] { return host->has("share started"); }, kStartMs), host->tail());
    Member *watcher = cli("watcher", {"watch", "127.0.0.1", "--nickname", "w"});
    QVERIFY2(testsupport::waitUntil([&] { return near(topLeft(*watcher), 0x20, 0xa0, 0x40); }, kStartMs),
             watcher->tail() + host->tail());
    QVERIFY2(watcher->lastFrames().contains("size=1280x720"), qPrintable(watcher->lastFrames()));

    m_session->tellDesktop("colour c03020");
    QVERIFY2(testsupport::waitUntil([&] { return near(topLeft(*watcher), 0xc0, 0x30, 0x20); }, 5000),
             watcher->tail());

    // The desktop's "stop sharing": the share is told and ends, rather than freezing on a picture.
    m_session->tellDesktop("end");
    QVERIFY2(testsupport::waitUntil([&] { return host->ended(); }, 3000), host->tail());
    QCOMPARE(host->process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(host->process->exitCode(), 1);
    const QByteArray log = testsupport::readFile(m_session->dir() + "/logs/zu_share_log.txt");
    QVERIFY2(log.contains("screen capture: Wayland session, through the desktop portal and PipeWire"),
             log.right(2000));
    QVERIFY2(log.contains("screen capture: the screen cast"), log.right(2000));
}

void TestCapturePortal::waylandWithoutAPortalSaysSo() {
    // A session bus of its own without a portal on it.
    const QString path = m_session->dir() + "/runtime/lonely-bus";
    m_session->start("dbus-daemon", {"--session", "--nofork", "--address=unix:path=" + path});
    QVERIFY(testsupport::waitUntil([&] { return QFile::exists(path); }, 5000));
    Member *host =
        cli("host", {"host", "--no-web", "--no-discovery"}, {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + path});
    QVERIFY2(testsupport::waitUntil([&] { return host->ended(); }, kStartMs), host->tail());
    // It exits while the engine still makes its DTLS key: that once crashed in OpenSSL's clean-up.
    QCOMPARE(host->process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(host->process->exitCode(), 2);
    QVERIFY2(host->has("the desktop portal gave no screen to share"), host->tail());
    const QByteArray log = testsupport::readFile(m_session->dir() + "/logs/zu_share_log.txt");
    QVERIFY2(log.contains("has no desktop portal for screen casts"), log.right(2000));
}

QTEST_GUILESS_MAIN(TestCapturePortal)
#include "tst_capture_portal.moc"
