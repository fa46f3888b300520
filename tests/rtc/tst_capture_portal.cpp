// Wayland capture through the real portal service and PipeWire, a test desktop behind the portal.

#include <QtTest>
#include <list>
#include <memory>

#include "enginepair.h"
#include "rtc/lanmember.h"
#include "rtc/zuwebrtc.h"
#include "support/portalsession.h"
#include "support/testsupport.h"

namespace {

constexpr int kStartMs = 15000;
constexpr uint32_t kFirstScreen = 0x20a040, kRepainted = 0xc03020, kSecondScreen = 0x2040c0;

// Whether the top-left quadrant in the member's last "frames" line shows that colour.
bool topLeftShows(Member &m, uint32_t rgb) {
    const QRegularExpressionMatch q = QRegularExpression("q0=(\\d+),(\\d+),(\\d+)").match(m.lastFrames());
    bool near = q.hasMatch();
    for (int k = 0; k < 3 && near; ++k)
        near = std::abs(q.captured(k + 1).toInt() - int((rgb >> (16 - 8 * k)) & 0xff)) <= 16;
    return near;
}

}  // namespace

#define ZU_WAIT(condition, ms, said) QVERIFY2(testsupport::waitUntil([&] { return condition; }, ms), said)

class TestCapturePortal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        session_ = std::make_unique<testsupport::PortalSession>(ZUSHARE_PORTAL_DESKTOP, 1280, 720,
                                                                QString::number(kFirstScreen, 16));
        QVERIFY2(session_->isUp(), qPrintable(session_->errorString()));
    }
    void portalCastReachesAnAttendee() {
        Member *host = cli(true);
        ZU_WAIT(host->has("share started"), kStartMs, host->tail());
        Member *watcher = cli(false);
        ZU_WAIT(topLeftShows(*watcher, kFirstScreen), kStartMs, watcher->tail() + host->tail());
        QVERIFY2(watcher->lastFrames().contains("size=1280x720"), qPrintable(watcher->lastFrames()));
        QVERIFY(session_->desktopOutput().contains("picked 1") && !rememberedToken().isEmpty());
        session_->tellDesktop("colour " + QByteArray::number(kRepainted, 16));
        ZU_WAIT(topLeftShows(*watcher, kRepainted), 5000, watcher->tail());
        // The desktop's "stop sharing": the share is told and ends, rather than freezing on a picture.
        session_->tellDesktop("end");
        ZU_WAIT(host->ended(), 3000, host->tail());
        QCOMPARE(host->process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(host->process->exitCode(), 1);
        QVERIFY2(log().contains("screen capture: the screen cast"), log().right(2000));
    }
    void theRememberedChoiceIsNotAskedAgain() {
        session_->tellDesktop("pick 2");  // what the picker would choose if it were asked
        Member *host = cli(true);
        ZU_WAIT(host->has("share started"), kStartMs, host->tail());
        QVERIFY2(session_->desktopOutput().contains("restored 1"), session_->desktopOutput().constData());
        Member *watcher = cli(false);
        ZU_WAIT(topLeftShows(*watcher, kRepainted), kStartMs, watcher->tail() + host->tail());
        // The portal stores the choice again under the token it answers with, so the next run restores it.
        QVERIFY(!rememberedToken().isEmpty());
        watcher->process->terminate();
        host->process->terminate();
        ZU_WAIT(host->ended() && watcher->ended(), 5000, "");
        ZU_WAIT(session_->desktopOutput().count("closed") >= 1, 3000, "");
    }
    void choosingAgainSwitchesTheLiveShare() {
        session_->tellDesktop("pick 1");
        session_->tellDesktop("colour " + QByteArray::number(kRepainted, 16));
        const int first = CreateScreenSourceCapturer();
        QCOMPARE(getSourceNum(first), 1);
        enginetest::EnginePair pair;
        pair.start();
        QTRY_VERIFY_WITH_TIMEOUT(enginetest::showsColour(pair.receiver.frame(), 0, kRepainted), 20000);
        const std::size_t sdps = pair.sender.sdpCount();
        const int closedBefore = session_->desktopOutput().count("closed");
        // The source dialog's refresh, or its switch during a share, on Wayland.
        session_->tellDesktop("pick 2");
        QCOMPARE(AskDesktopPortalAgain(), ZUWEBRTC_OK);
        const int second = CreateScreenSourceCapturer();
        QCOMPARE(getSourceNum(second), 1);
        QTRY_VERIFY(session_->desktopOutput().contains("picked 2"));
        QCOMPARE(deleteScreenSourceCpaturer(first), ZUWEBRTC_OK);
        // Until the switch the attendee still sees the first choice.
        QVERIFY(enginetest::showsColour(pair.receiver.frame(), 0, kRepainted));
        QCOMPARE(switchDesktopSource(second, 0), ZUWEBRTC_OK);
        QTRY_VERIFY_WITH_TIMEOUT(enginetest::showsColour(pair.receiver.frame(), 0, kSecondScreen), 10000);
        // The earlier cast ends once nothing shows it, so the desktop's indicator shows one.
        QTRY_COMPARE_WITH_TIMEOUT(session_->desktopOutput().count("closed"), closedBefore + 1, 5000);
        QCOMPARE(pair.receiver.closed.load(), 0);
        QCOMPARE(pair.sender.sdpCount(), sdps);
        QCOMPARE(deleteScreenSourceCpaturer(second), ZUWEBRTC_OK);
    }
    void waylandWithoutAPortalSaysSo() {
        const QString path = session_->dir() + "/runtime/lonely-bus";
        session_->start("dbus-daemon", {"--session", "--nofork", "--address=unix:path=" + path});
        ZU_WAIT(QFile::exists(path), 5000, "a bus without a portal");
        Member *host = cli(true, {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + path});
        ZU_WAIT(host->ended(), kStartMs, host->tail());
        // It exits while the engine still makes its DTLS key: that once crashed in OpenSSL's clean-up.
        QCOMPARE(host->process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(host->process->exitCode(), 2);
        QVERIFY2(host->has("the desktop portal gave no screen to share"), host->tail());
        QVERIFY2(log().contains("has no desktop portal for screen casts"), log().right(2000));
    }

private:
    // A command-line host (without its web page and discovery) or a watcher of it.
    Member *cli(bool host, const QStringList &extra = {}) {
        Member &m = members_.emplace_back();
        m.name = host ? "host" : "watcher";
        m.process = session_->start(ZUSHARE_CLI,
                                    host ? QStringList{"host", "--no-web", "--no-discovery"}
                                         : QStringList{"watch", "127.0.0.1", "--nickname", "w"},
                                    extra);
        return &m;
    }
    QString rememberedToken() const {
        return QRegularExpression("portalRestoreToken=(\\S+)")
            .match(testsupport::readFile(session_->dir() + "/config/zushare/zushare.ini"))
            .captured(1);
    }
    QByteArray log() const { return testsupport::readFile(session_->dir() + "/logs/zu_share_log.txt"); }

    std::unique_ptr<testsupport::PortalSession> session_;
    std::list<Member> members_;
};

QTEST_GUILESS_MAIN(TestCapturePortal)
#include "tst_capture_portal.moc"
