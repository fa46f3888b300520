// Capture in a Wayland session: a command-line host shares the screen that the desktop portal casts
// (the real portal service and PipeWire, with a test desktop behind the portal), and a command-line
// attendee sees its colour, sees it change, and the host notices when the desktop ends the cast; the
// next run shares the remembered choice without asking; choosing again switches a live share.

#include <QtTest>
#include <array>
#include <memory>
#include <vector>

#include "enginepair.h"
#include "rtc/lanmember.h"
#include "rtc/zuwebrtc.h"
#include "support/portalsession.h"
#include "support/testsupport.h"

namespace {

constexpr int kStartMs = 15000;
constexpr uint32_t kFirstScreen = 0x20a040, kRepainted = 0xc03020, kSecondScreen = 0x2040c0;

// The colour of the top-left quadrant in the last "frames" line, or -1s.
std::array<int, 3> topLeft(Member &m) {
    const QRegularExpressionMatch q = QRegularExpression("q0=(\\d+),(\\d+),(\\d+)").match(m.lastFrames());
    if (!q.hasMatch())
        return {-1, -1, -1};
    return {q.captured(1).toInt(), q.captured(2).toInt(), q.captured(3).toInt()};
}

bool near(const std::array<int, 3> &got, uint32_t rgb) {
    const int want[3] = {int(rgb >> 16) & 0xff, int(rgb >> 8) & 0xff, int(rgb) & 0xff};
    for (int k = 0; k < 3; ++k) {
        if (std::abs(got[k] - want[k]) > 16)
            return false;
    }
    return true;
}

}  // namespace

class TestCapturePortal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void portalCastReachesAnAttendee();
    void theRememberedChoiceIsNotAskedAgain();
    void choosingAgainSwitchesTheLiveShare();
    void waylandWithoutAPortalSaysSo();

private:
    Member *cli(const QString &name, const QStringList &arguments, const QStringList &extra = {});
    QString rememberedToken() const;

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

QString TestCapturePortal::rememberedToken() const {
    const QRegularExpressionMatch m =
        QRegularExpression("portalRestoreToken=(\\S+)")
            .match(testsupport::readFile(m_session->dir() + "/config/zushare/zushare.ini"));
    return m.hasMatch() ? m.captured(1) : QString();
}

void TestCapturePortal::initTestCase() {
    if (!testsupport::inTestNamespace())
        QSKIP("needs the private network namespace of scripts/test.sh");
    m_session = std::make_unique<testsupport::PortalSession>(ZUSHARE_PORTAL_DESKTOP, 1280, 720,
                                                             QString::number(kFirstScreen, 16));
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
    QVERIFY2(testsupport::waitUntil([&] { return near(topLeft(*watcher), kFirstScreen); }, kStartMs),
             watcher->tail() + host->tail());
    QVERIFY2(watcher->lastFrames().contains("size=1280x720"), qPrintable(watcher->lastFrames()));
    QVERIFY(m_session->desktopOutput().contains("picked 1"));
    QVERIFY2(!rememberedToken().isEmpty(), "the choice is kept in the settings");

    m_session->tellDesktop("colour " + QByteArray::number(kRepainted, 16));
    QVERIFY2(testsupport::waitUntil([&] { return near(topLeft(*watcher), kRepainted); }, 5000),
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

void TestCapturePortal::theRememberedChoiceIsNotAskedAgain() {
    QVERIFY(!rememberedToken().isEmpty());
    m_session->tellDesktop("pick 2");  // what the picker would choose if it were asked
    Member *host = cli("host", {"host", "--no-web", "--no-discovery"});
    QVERIFY2(testsupport::waitUntil([&] { return host->has("share started"); }, kStartMs), host->tail());
    QVERIFY2(m_session->desktopOutput().contains("restored 1"), m_session->desktopOutput().constData());
    Member *watcher = cli("watcher", {"watch", "127.0.0.1", "--nickname", "w"});
    QVERIFY2(testsupport::waitUntil([&] { return near(topLeft(*watcher), kRepainted); }, kStartMs),
             watcher->tail() + host->tail());
    // The portal stores the choice again under the token it answers with, so the next run restores it.
    QVERIFY(!rememberedToken().isEmpty());
    watcher->process->terminate();
    host->process->terminate();
    QVERIFY(testsupport::waitUntil([&] { return host->ended() && watcher->ended(); }, 5000));
    QVERIFY(testsupport::waitUntil([&] { return m_session->desktopOutput().count("closed") >= 1; }, 3000));
}

void TestCapturePortal::choosingAgainSwitchesTheLiveShare() {
    m_session->tellDesktop("pick 1");
    m_session->tellDesktop("colour " + QByteArray::number(kRepainted, 16));
    const int first = CreateScreenSourceCapturer();
    QCOMPARE(getSourceNum(first), 1);
    enginetest::EnginePair pair;
    pair.start();
    QTRY_VERIFY_WITH_TIMEOUT(enginetest::showsColour(pair.receiver.frame(), 0, kRepainted), 20000);
    const std::size_t sdps = pair.sender.sdpCount();
    const int closedBefore = m_session->desktopOutput().count("closed");

    // The source dialog's refresh, or its switch during a share, on Wayland.
    m_session->tellDesktop("pick 2");
    QCOMPARE(AskDesktopPortalAgain(), ZUWEBRTC_OK);
    const int second = CreateScreenSourceCapturer();
    QCOMPARE(getSourceNum(second), 1);
    QTRY_VERIFY(m_session->desktopOutput().contains("picked 2"));
    QCOMPARE(deleteScreenSourceCpaturer(first), ZUWEBRTC_OK);
    // Until the switch the attendee still sees the first choice.
    QVERIFY(enginetest::showsColour(pair.receiver.frame(), 0, kRepainted));
    QCOMPARE(switchDesktopSource(second, 0), ZUWEBRTC_OK);
    QTRY_VERIFY_WITH_TIMEOUT(enginetest::showsColour(pair.receiver.frame(), 0, kSecondScreen), 10000);
    // The earlier cast ends once nothing shows it, so the desktop's indicator shows one.
    QTRY_COMPARE_WITH_TIMEOUT(m_session->desktopOutput().count("closed"), closedBefore + 1, 5000);
    QCOMPARE(pair.receiver.closed.load(), 0);
    QCOMPARE(pair.sender.sdpCount(), sdps);
    pair.closeReceiver();
    pair.closeSender();
    QCOMPARE(deleteScreenSourceCpaturer(second), ZUWEBRTC_OK);
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
