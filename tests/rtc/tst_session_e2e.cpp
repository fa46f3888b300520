// A share end to end on the namespace LAN: this process hosts on host 1, sharing a private Xvfb with
// zushare_testpattern_app's picture, to zushare-cli attendees on the others. The steps run in order;
// five attendees are handed on from step to step until the host quits.

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>
#include <csignal>

#include "cliframesink.h"
#include "handpeer.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "rtc/originatorrtcmanager.h"
#include "rtc/zuwebrtc.h"
#include "sessionlan.h"
#include "signaling/signalingclient.h"

namespace {

// Waits are generous: seven processes share two loaded cores.
constexpr int kJoinMs = 90000;
constexpr int kStepMs = 30000;
const QSize kScreen(1280, 720);
QColor g_quadrants[4];  // as the pattern program tells them

bool near(const QColor &a, const QColor &b) {
    return std::abs(a.red() - b.red()) <= 45 && std::abs(a.green() - b.green()) <= 45 &&
           std::abs(a.blue() - b.blue()) <= 45;
}

QColor rgbOfYuv(const zuengine::YuvColour &c) {
    const double y = 1.164 * (c.y - 16), u = c.u - 128, v = c.v - 128;
    auto clamp = [](double x) { return std::max(0, std::min(255, int(x + 0.5))); };
    return QColor(clamp(y + 1.596 * v), clamp(y - 0.813 * v - 0.391 * u), clamp(y + 2.018 * u));
}

QByteArray randomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

bool seesPattern(Member *member, const QSize &size = kScreen) {
    const QString line = member->lastFrames();
    bool all = line.contains(QStringLiteral("size=%1x%2").arg(size.width()).arg(size.height()));
    for (int q = 0; q < 4 && all; ++q) {
        const QStringList rgb = line.section(QStringLiteral(" q%1=").arg(q), 1).section(' ', 0, 0).split(',');
        all = rgb.size() == 3 && near(QColor(rgb[0].toInt(), rgb[1].toInt(), rgb[2].toInt()), g_quadrants[q]);
    }
    return all;
}

// Whether each member takes more frames within the step's time.
bool keepWatching(const QList<Member *> &members, int more) {
    QList<qint64> before;
    for (Member *m : members) {
        before << m->totalFrames();
    }
    return testsupport::waitUntil(
        [&] {
            for (int i = 0; i < members.size(); ++i) {
                if (members[i]->totalFrames() <= before[i] + more || members[i]->has("stopped")) {
                    return false;
                }
            }
            return true;
        },
        kStepMs);
}

}  // namespace

class SessionEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY2(m_lan.up(4), qPrintable(m_lan.lan->errorString()));
        // From here on everything this process starts lives in host 1.
        m_inHost = std::make_unique<testsupport::TestLan::Enter>(*m_lan.lan, 1);
        QVERIFY(m_inHost->ok());
        const QString display = testsupport::startPrivateDisplay(m_xvfb, kScreen.width(), kScreen.height());
        QVERIFY(!display.isEmpty());
        qputenv("DISPLAY", display.toLatin1());
        QProcess *pattern = m_lan.lan->start(1, QStringLiteral(ZUSHARE_PATTERN), {"30"});
        const QRegularExpression line("pattern shown 1280x720 (#\\w+) (#\\w+) (#\\w+) (#\\w+)\n");
        QString said;
        QRegularExpressionMatch shown;
        const auto shownYet = [&] { return (shown = line.match(said += pattern->readAll())).hasMatch(); };
        QVERIFY2(testsupport::waitUntil(shownYet, 30000), qPrintable(said));
        for (int q = 0; q < 4; ++q) {
            g_quadrants[q] = QColor(shown.captured(q + 1));
        }

        m_capturer = CreateScreenSourceCapturer();
        QVERIFY(m_capturer > 0);
        m_host = std::make_unique<OriginatorRtcManager>();
        m_host->setServerPort(5678);
        connect(m_host->signalingClient().get(), &SignalingClient::sigAlluserRefreshed, this,
                [this](QList<SignalingUser> users) {
                    m_members.clear();
                    for (const SignalingUser &user : users) {
                        m_members.insert(user.nickname, user.id);
                    }
                });
        QSignalSpy started(m_host.get(), &RtcManager::sigRtcStarted);
        m_host->start();
        QVERIFY(started.wait(20000));
    }

    void cleanup() {
        zuengine::testing::useCapturedPictures();
        if (std::exchange(m_handOn, false)) {
            return;
        }
        m_lan.stop();
        m_watchers.clear();
        m_ids.clear();
        // All gone before the next test: the server takes at most five members.
        if (m_host) {
            QTRY_VERIFY_WITH_TIMEOUT(m_host->attendeeIds().isEmpty() && m_host->projectionIds().isEmpty(),
                                     kStepMs);
            QTRY_VERIFY_WITH_TIMEOUT((m_host->signalingClient()->requestAllUser(), m_members.isEmpty()),
                                     kStepMs);
        }
    }

    void cleanupTestCase() {
        m_host.reset();
        if (m_capturer > 0) {
            deleteScreenSourceCpaturer(m_capturer);
        }
        m_xvfb.terminate();
        m_xvfb.waitForFinished(5000);
        m_inHost.reset();
    }

    // A phone projects its screen; the projection ends from either side, then nothing is shown; a refused
    // phone gets no share id.
    void mobileProjectionEndsFromEitherSide() {
        QSignalSpy requests(m_host.get(), &RtcManager::sigRequestShareScreen);
        QSignalSpy closed(m_host.get(), &RtcManager::sigShareScreenClosed);
        const std::string owner = m_host->signalingClient()->myId().toStdString();
        zuengine::testing::useSyntheticPicture(640, 480, 15);
        for (const QString ending : {"by the member", "by the host", "refused"}) {
            HandPeer phone("share_screen_sdp", "share_screen_ice_candidate");
            phone.signaling.open(5678);
            QVERIFY(!phone.signaling.waitId().isEmpty());
            Json::Value device = testmsg::nickname("1");
            device["data"]["data"]["modify_type"] = "devicetype";
            phone.signaling.send(device);
            phone.signaling.send(testmsg::nickname(("手机 " + ending).toStdString()));
            phone.signaling.send(testmsg::request("share", owner));
            QTRY_VERIFY_WITH_TIMEOUT(!requests.isEmpty(), kJoinMs);
            const QString id = requests.takeFirst().at(0).toString();
            if (ending == "refused") {
                m_host->refuseShare(id);
                QVERIFY(phone.signaling.waitFor("refuse_share", 1, kStepMs));
                QVERIFY(phone.signaling.countOf("share_id") == 0 && m_host->projectionIds().isEmpty());
                break;
            }
            auto view = std::make_shared<CliFrameSink>();
            m_host->setShareScreenWidget(id, view);
            m_host->agreeShare(id);
            QVERIFY(phone.signaling.waitFor("share_id", 1, kStepMs));
            phone.offer(owner, true);
            QTRY_VERIFY_WITH_TIMEOUT((phone.pump(), view->takeReport().total > 5), kJoinMs);
            const CliFrameSink::Report shown = view->takeReport();
            QCOMPARE(shown.size, QSize(640, 480));
            for (int q = 0; q < 4; ++q) {
                const QColor colour(shown.quadrants[q].r, shown.quadrants[q].g, shown.quadrants[q].b);
                QVERIFY2(near(colour, rgbOfYuv(zuengine::testing::syntheticColour(q))),
                         qPrintable(colour.name()));
            }
            QCOMPARE(m_host->projectionIds(), QList<QString>{id});
            if (ending == "by the member") {
                phone.signaling.send(testmsg::request("stop_share", owner));
                phone.close();
                QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), kStepMs);
                QCOMPARE(closed.takeFirst().at(0).toString(), id);
            } else {
                m_host->stopShare(id);
                QVERIFY(phone.signaling.waitFor("stop_share", 1, kStepMs));
            }
            QVERIFY(m_host->projectionIds().isEmpty());
            const qint64 total = view->takeReport().total;
            QTest::qWait(500);  // what is checked is that no frame comes
            QCOMPARE(view->takeReport().total, total);
        }
    }

    // Five at once, the server's most. Fault once found: a file sent the moment the host's end of the data
    // channel opens, before the attendee has printed anything about it, was lost.
    void fiveAttendeesSeeTheMovingScreen() {
        const int hosts[5] = {2, 3, 4, 2, 3};
        for (int i = 0; i < 5; ++i) {
            m_watchers << m_lan.watch(hosts[i], QStringLiteral("W%1").arg(i));
        }
        Member *first = m_watchers[0];
        QString id;
        QTRY_VERIFY2_WITH_TIMEOUT(!(id = idOf("W0")).isEmpty() && m_host->transferorIds().contains(id),
                                  first->tail(), kJoinMs);
        const QByteArray small = randomBytes(40 * 1024 + 4);
        m_host->transferFile(id, m_lan.write("first.bin", small));
        QTRY_VERIFY2_WITH_TIMEOUT(!first->savedPath("first.bin").isEmpty(), first->tail(), kStepMs);
        QCOMPARE(first->savedPath("first.bin"), QDir(first->downloads).absoluteFilePath("first.bin"));
        QCOMPARE(testsupport::readFile(first->savedPath("first.bin")), small);

        for (Member *m : m_watchers) {
            QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(m), m->tail(), 150000);
            QTRY_VERIFY_WITH_TIMEOUT(!idOf(m->name).isEmpty(), kStepMs);
            m_ids << idOf(m->name);
        }
        QCOMPARE(m_host->attendeeIds().size(), 5);
        QVERIFY(keepWatching(m_watchers, 5));
        m_handOn = true;
    }

    void filesReachOneMemberOrAll() {
        QCOMPARE(m_watchers.size(), 5);
        Member *b = m_watchers[0], *c = m_watchers[1];
        QTRY_VERIFY2_WITH_TIMEOUT(m_host->transferorIds().contains(m_ids[1]), c->tail(), kJoinMs);
        const QByteArray one = randomBytes(3 * 1024 * 1024 + 123), all = randomBytes(1024 * 1024 + 7);
        const QString allPath = m_lan.write("for-all.bin", all);
        m_host->transferFile(m_ids[0], m_lan.write("only-b.bin", one));
        for (const QString &id : {m_ids[0], m_ids[1]}) {
            m_host->transferFile(id, allPath);
        }
        for (Member *m : {b, c}) {
            QTRY_VERIFY2_WITH_TIMEOUT(!m->savedPath("for-all.bin").isEmpty(), m->tail(), 120000);
            QCOMPARE(testsupport::readFile(QDir(m->downloads).filePath("for-all.bin")), all);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(!b->savedPath("only-b.bin").isEmpty(), b->tail(), 120000);
        QVERIFY(testsupport::readFile(QDir(b->downloads).filePath("only-b.bin")) == one);
        QVERIFY(!c->has("only-b.bin") && !c->has("first.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_host->transferFileRunning(), kStepMs);
        m_handOn = true;
    }

    // One member cut off, one killed in the middle of a file, one without a peer: the others keep watching.
    void leavingMembersLeaveTheOthersWatching() {
        QCOMPARE(m_watchers.size(), 5);
        Member *cut = m_watchers[2], *killed = m_watchers[3];
        const QString idCut = m_ids[2], idKilled = m_ids[3];
        m_host->cutOffShare(idCut);
        QTRY_VERIFY2_WITH_TIMEOUT(cut->has("stopped") && cut->ended() && cut->process->exitCode() == 0,
                                  cut->tail(), kStepMs);
        QTRY_VERIFY_WITH_TIMEOUT(!m_host->attendeeIds().contains(idCut), kStepMs);

        QSignalSpy failed(m_host.get(), &RtcManager::sigFileTransferFail);
        m_host->transferFile(idKilled, m_lan.write("big.bin", randomBytes(64 * 1024 * 1024)));
        QVERIFY2(says(killed, "receive begin", kStepMs), killed->tail());
        QVERIFY(m_host->transferFileRunning());
        ::kill(pid_t(killed->process->processId()), SIGKILL);
        QVERIFY(killed->process->waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!m_host->attendeeIds().contains(idKilled) && !failed.isEmpty(), kStepMs);
        QVERIFY(!m_host->transferorIds().contains(idKilled));
        QCOMPARE(failed.first().at(0).toString(), idKilled);
        QCOMPARE(failed.first().at(1).toString(), QStringLiteral("文件传输中断"));
        QVERIFY(!m_host->transferFileRunning());
        QVERIFY(!QFile::exists(QDir(killed->downloads).filePath("big.bin")));

        m_watchers = {m_watchers[0], m_watchers[1], m_watchers[4]};
        QVERIFY(keepWatching(m_watchers, 30));
        // Fault once found: the host kept a failed peer's handle and left its member waiting.
        zuengine::testing::refuseNextPeers(1);
        Member *refused = m_lan.watch(4, "E3");
        QVERIFY2(says(refused, "stopped", kStepMs), refused->tail());
        QCOMPARE(m_host->attendeeIds().size(), 3);
        for (Member *m : m_watchers) {
            QVERIFY2(seesPattern(m) && !m->has("stopped"), m->tail());
        }
        m_handOn = true;
    }

    void hostQuittingStopsEveryAttendee() {
        QCOMPARE(m_watchers.size(), 3);
        m_host->stop();
        m_host.reset();
        for (Member *m : m_watchers) {
            QTRY_VERIFY2_WITH_TIMEOUT(m->has("stopped") && m->ended() && m->process->exitCode() == 0,
                                      m->tail(), 10000);
        }
    }

    // The command-line host on 1366 x 768, whose rows GStreamer pads (fault once found: no picture at that
    // size): found by a scan, each attendee sent --send's file once, one leaving, ended by its X server.
    void cliHostSharesAPaddedScreenUntilItGoesAway() {
        QProcess xvfb;
        const QString display = testsupport::startPrivateDisplay(xvfb, 1366, 768);
        QVERIFY(!display.isEmpty());
        Member *pattern =
            m_lan.start(1, "pattern", {"30"}, {"DISPLAY=" + display}, QStringLiteral(ZUSHARE_PATTERN));
        QVERIFY2(says(pattern, "pattern shown 1366x768", 30000), pattern->tail());
        const QByteArray content = randomBytes(256 * 1024 + 9);
        const QString port = QStringLiteral("5690");
        Member *host =
            m_lan.start(1, "cli-host",
                        {"host", "--send", m_lan.write("from-cli.bin", content), "--port", port, "--no-web"},
                        {"DISPLAY=" + display});
        QVERIFY2(says(host, "share started on port " + port, kJoinMs), host->tail());
        QByteArray found;
        QCOMPARE(m_lan.lan->run(2, ZUSHARE_CLI, {"scan", "--seconds", "4"}, &found, 60000), 0);
        QVERIFY2(found.contains("host " + m_lan.address(1).toUtf8() + "\n"), found.constData());

        Member *b = m_lan.watch(2, "B7", {"--port", port});
        Member *c = m_lan.watch(3, "C7", {"--port", port});
        for (Member *m : {b, c}) {
            QVERIFY2(says(host, " " + m->name + " desktop", kJoinMs), host->tail());
            QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(m, QSize(1366, 768)), m->tail(), kJoinMs);
            QTRY_VERIFY2_WITH_TIMEOUT(!m->savedPath("from-cli.bin").isEmpty() || m->ended(),
                                      m->tail() + host->tail(), kJoinMs);
            QCOMPARE(testsupport::readFile(m->savedPath("from-cli.bin")), content);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(host->output.count("transfer done") >= 2 || host->ended(), host->tail(),
                                  kStepMs);
        QCOMPARE(host->output.count("sending "), 2);

        c->process->terminate();
        QVERIFY2(says(host, "peer closed", kStepMs) && host->has("member left") && host->has(" C7\n"),
                 host->tail());
        QVERIFY(keepWatching({b}, 10));

        xvfb.kill();
        xvfb.waitForFinished(5000);
        QTRY_VERIFY2_WITH_TIMEOUT(host->ended(), host->tail(), kStepMs);
        QVERIFY2(host->process->exitStatus() == QProcess::NormalExit && host->process->exitCode() == 1 &&
                     host->has("is gone; the share ends"),
                 host->tail());
        QTRY_VERIFY2_WITH_TIMEOUT(b->has("stopped") && b->ended(), b->tail(), kStepMs);
    }

    // Ctrl-C ends the command-line host cleanly and stops its attendee.
    void cliHostQuitsOnCtrlC() {
        const QString port = QStringLiteral("5691");
        Member *host = m_lan.start(1, "cli-host-c",
                                   {"host", "--synthetic", "--port", port, "--no-web", "--no-discovery"});
        QVERIFY2(says(host, "share started", kJoinMs), host->tail());
        Member *b = m_lan.watch(2, "B9", {"--port", port});
        QTRY_VERIFY2_WITH_TIMEOUT(b->totalFrames() > 10 || b->ended(), b->tail(), kJoinMs);
        ::kill(pid_t(host->process->processId()), SIGINT);
        QTRY_VERIFY2_WITH_TIMEOUT(host->ended(), host->tail(), kStepMs);
        QVERIFY2(host->process->exitStatus() == QProcess::NormalExit && host->process->exitCode() == 0,
                 host->tail());
        QTRY_VERIFY2_WITH_TIMEOUT(b->has("stopped") && b->ended() && b->process->exitCode() == 0, b->tail(),
                                  kStepMs);
    }

private:
    // Nicknames are unique across the whole run, so a member list never gives a departed member's id.
    QString idOf(const QString &nickname) {
        m_host->signalingClient()->requestAllUser();
        return m_members.value(nickname);
    }

    SessionLan m_lan;
    std::unique_ptr<testsupport::TestLan::Enter> m_inHost;
    QProcess m_xvfb;
    std::unique_ptr<OriginatorRtcManager> m_host;
    QHash<QString, QString> m_members;  // nickname -> id
    QList<Member *> m_watchers;         // handed on while m_handOn
    QStringList m_ids;                  // theirs
    bool m_handOn = false;
    int m_capturer = 0;
};

QTEST_GUILESS_MAIN(SessionEndToEndTest)
#include "tst_session_e2e.moc"
