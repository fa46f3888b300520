// A share end to end on the namespace LAN: this process is the host on host 1 and shares the
// screen of a private Xvfb on which a program of its own paints a known moving picture; attendees
// are zushare-cli processes on the other hosts, the mobile member a program of its own. This
// process holds no X connection but the capturer's.

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

#include "engineoffer.h"
#include "lanmember.h"
#include "recordingview.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "rtc/originatorrtcmanager.h"
#include "rtc/zuwebrtc.h"
#include "signaling/signalingclient.h"
#include "signaling/testpeer.h"
#include "support/testlan.h"
#include "support/testsupport.h"
#include "testpatternwidget.h"

namespace {

constexpr int kColourTolerance = 45;
// Waits are generous: seven processes share two loaded cores.
constexpr int kJoinMs = 90000;
constexpr int kStepMs = 30000;
const QSize kScreen(1280, 720);

bool near(const QColor &a, const QColor &b) {
    return std::abs(a.red() - b.red()) <= kColourTolerance &&
           std::abs(a.green() - b.green()) <= kColourTolerance &&
           std::abs(a.blue() - b.blue()) <= kColourTolerance;
}

QColor rgbOfYuv(const zuengine::YuvColour &c) {
    const double y = 1.164 * (c.y - 16), u = c.u - 128, v = c.v - 128;
    auto clamp = [](double x) { return std::max(0, std::min(255, int(x + 0.5))); };
    return QColor(clamp(y + 1.596 * v), clamp(y - 0.813 * v - 0.391 * u), clamp(y + 2.018 * u));
}

QByteArray randomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    auto *words = reinterpret_cast<quint32 *>(bytes.data());
    QRandomGenerator::global()->fillRange(words, size / 4);
    return bytes;
}

// Whether the member's last frames line shows the pattern at full size.
bool seesPattern(Member &member) {
    const QString line = member.lastFrames();
    if (!line.contains(QStringLiteral("size=%1x%2").arg(kScreen.width()).arg(kScreen.height()))) {
        return false;
    }
    for (int q = 0; q < 4; ++q) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("q%1=(\\d+),(\\d+),(\\d+)").arg(q)).match(line);
        if (!m.hasMatch() ||
            !near(QColor(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()),
                  TestPatternWidget::quadrantColour(q))) {
            return false;
        }
    }
    return true;
}

}  // namespace

class SessionEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void attendeesSeeTheScreen();
    void filesReachOneMemberAndAll();
    void cutOffRemovesOnlyThatMember();
    void killedAttendeeIsCleanedUp();
    void fiveAttendeesWatchAtOnce();
    void mobileProjectionEndsFromEitherSide();
    void cliHostIsFoundWatchedAndSends();
    void strangersGetNoPeerThatOutlivesTheirConnecting();
    void hostQuittingStopsEveryAttendee();
    void cliHostEndsWhenItsDisplayGoesAway();

private:
    Member *startWatcher(int host, const QString &name, const QStringList &extra = {},
                         const QString &hostAddress = QString());
    Member *startMobile(int host, const QString &name);
    Member *startProgram(int host, const QString &name, const QString &program, const QStringList &args,
                         const QStringList &environment = {});
    QString idOf(const QString &nickname);
    bool transferorFor(const QString &id) { return m_host->transferorIds().contains(id); }
    QString writeFile(const QString &name, const QByteArray &content);
    bool startDisplay();
    // Asks for a fresh member list and tells whether the last one that came was empty.
    bool noMembersLeft() {
        m_host->signalingClient()->requestAllUser();
        return m_members.isEmpty();
    }
    void keepLogs();

    std::unique_ptr<testsupport::TestLan> m_lan;
    std::unique_ptr<testsupport::TestLan::Enter> m_inHost;
    QProcess m_xvfb;
    QProcess m_pattern;
    std::unique_ptr<OriginatorRtcManager> m_host;
    QHash<QString, QString> m_members;  // nickname -> id
    std::vector<std::unique_ptr<Member>> m_running;
    QTemporaryDir m_dir;
    QElapsedTimer m_clock;
    int m_capturer = 0;
    QString m_cli;
    QString m_mobile;
};

// A private display of a known size, so that the picture, its size and the load do not depend
// on the harness's display.
bool SessionEndToEndTest::startDisplay() {
    const QString display = testsupport::startPrivateDisplay(m_xvfb, kScreen.width(), kScreen.height());
    if (display.isEmpty()) {
        return false;
    }
    qputenv("DISPLAY", display.toLatin1());
    m_pattern.setProcessChannelMode(QProcess::MergedChannels);
    m_pattern.start(QStringLiteral(ZUSHARE_PATTERN), {"30"});
    if (!m_pattern.waitForStarted(10000)) {
        return false;
    }
    QByteArray said;
    QElapsedTimer waited;
    waited.start();
    while (!said.contains("pattern shown") && waited.elapsed() < 30000 &&
           m_pattern.state() == QProcess::Running) {
        QTest::qWait(50);
        said += m_pattern.readAll();
    }
    qInfo("%s on display %s", said.trimmed().constData(), qPrintable(display));
    return said.contains(
        QStringLiteral("pattern shown %1x%2").arg(kScreen.width()).arg(kScreen.height()).toUtf8());
}

void SessionEndToEndTest::initTestCase() {
    ZU_REQUIRE_TEST_NAMESPACE();
    m_clock.start();
    QVERIFY(m_dir.isValid());
    m_cli = QStringLiteral(ZUSHARE_CLI);
    m_mobile = QStringLiteral(ZUSHARE_MOBILE);
    m_lan = std::make_unique<testsupport::TestLan>(4);
    QVERIFY2(m_lan->isUp(), qPrintable(m_lan->errorString()));
    // Everything this process starts from now on (the engine's threads and sockets, the signaling
    // server, the display) lives in host 1.
    m_inHost = std::make_unique<testsupport::TestLan::Enter>(*m_lan, 1);
    QVERIFY(m_inHost->ok());
    QVERIFY2(startDisplay(), "no private display with the moving picture");

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

// With ZU_E2E_LOGS set to a folder, every program's whole output is kept there.
void SessionEndToEndTest::keepLogs() {
    const QString folder = qEnvironmentVariable("ZU_E2E_LOGS");
    if (folder.isEmpty()) {
        return;
    }
    QDir().mkpath(folder);
    for (auto &member : m_running) {
        member->pump();
        QFile log(QDir(folder).filePath(
            QStringLiteral("%1-%2.log").arg(QTest::currentTestFunction(), member->name)));
        if (log.open(QIODevice::WriteOnly)) {
            log.write(member->output);
        }
    }
}

void SessionEndToEndTest::cleanup() {
    for (auto &member : m_running) {
        if (member->process && member->process->state() != QProcess::NotRunning) {
            member->process->terminate();
            member->process->waitForFinished(10000);
        }
    }
    keepLogs();
    m_running.clear();
    // Members gone from the host, peers and signaling connections alike, before the next test
    // starts its own: the server takes at most five members.
    if (m_host) {
        QTRY_VERIFY_WITH_TIMEOUT(m_host->attendeeIds().isEmpty() && m_host->projectionIds().isEmpty(),
                                 kStepMs);
        QTRY_VERIFY_WITH_TIMEOUT(noMembersLeft(), kStepMs);
    }
    qInfo("%s done at %lld s", QTest::currentTestFunction(), m_clock.elapsed() / 1000);
}

void SessionEndToEndTest::cleanupTestCase() {
    m_running.clear();
    m_host.reset();
    if (m_capturer > 0) {
        deleteScreenSourceCpaturer(m_capturer);
    }
    m_pattern.terminate();
    m_pattern.waitForFinished(5000);
    m_xvfb.terminate();
    m_xvfb.waitForFinished(5000);
    m_inHost.reset();
    m_lan.reset();
}

Member *SessionEndToEndTest::startProgram(int host, const QString &name, const QString &program,
                                          const QStringList &args, const QStringList &environment) {
    auto member = std::make_unique<Member>();
    member->name = name;
    member->process = m_lan->start(host, program, args, environment);
    m_running.push_back(std::move(member));
    return m_running.back().get();
}

Member *SessionEndToEndTest::startWatcher(int host, const QString &name, const QStringList &extra,
                                          const QString &hostAddress) {
    const QString downloads = m_dir.filePath("downloads-" + name);
    QStringList args{"watch",       hostAddress.isEmpty() ? m_lan->address(1) : hostAddress,
                     "--nickname",  name,
                     "--downloads", downloads};
    Member *member = startProgram(host, name, m_cli, args + extra);
    member->downloads = downloads;
    return member;
}

Member *SessionEndToEndTest::startMobile(int host, const QString &name) {
    return startProgram(host, name, m_mobile, {m_lan->address(1), "--nickname", name});
}

// Nicknames are unique across the whole run, so a member list never gives a departed member's id.
QString SessionEndToEndTest::idOf(const QString &nickname) {
    m_host->signalingClient()->requestAllUser();
    QTest::qWait(100);
    return m_members.value(nickname);
}

QString SessionEndToEndTest::writeFile(const QString &name, const QByteArray &content) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        return QString();
    }
    return path;
}

void SessionEndToEndTest::attendeesSeeTheScreen() {
    Member *b = startWatcher(2, "B1", {"--save-frames", m_dir.filePath("frames-B1"), "--every", "20"});
    Member *c = startWatcher(3, "C1");
    QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(*b), b->tail(), kJoinMs);
    QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(*c), c->tail(), kJoinMs);
    // The picture moves: frames keep coming.
    const qint64 before = c->totalFrames();
    QTRY_VERIFY2_WITH_TIMEOUT(c->totalFrames() > before + 10, c->tail(), kStepMs);

    QTRY_VERIFY2_WITH_TIMEOUT(!b->firstSaved().isEmpty(), b->tail(), kStepMs);
    QImage saved(b->firstSaved());
    QCOMPARE(saved.size(), kScreen);
    const int w = kScreen.width(), h = kScreen.height();
    QVERIFY(near(saved.pixelColor(w / 4, h / 4), TestPatternWidget::quadrantColour(0)));
    QVERIFY(near(saved.pixelColor(w * 3 / 4, h / 4), TestPatternWidget::quadrantColour(1)));
    QVERIFY(near(saved.pixelColor(w / 4, h * 3 / 4), TestPatternWidget::quadrantColour(2)));
    QVERIFY(near(saved.pixelColor(w * 3 / 4, h * 3 / 4), TestPatternWidget::quadrantColour(3)));
    QCOMPARE(m_host->attendeeIds().size(), 2);
}

void SessionEndToEndTest::filesReachOneMemberAndAll() {
    Member *b = startWatcher(2, "B2");
    Member *c = startWatcher(3, "C2");
    QString idB, idC;
    QTRY_VERIFY_WITH_TIMEOUT(!(idB = idOf("B2")).isEmpty() && !(idC = idOf("C2")).isEmpty(), kJoinMs);
    // Sent the moment the host's end of the data channel is open, before the attendee's tool has
    // printed anything about it: the file is still reported when it is saved.
    const QByteArray small = randomBytes(40 * 1024 + 4);
    const QString smallPath = writeFile("first.bin", small);
    QTRY_VERIFY2_WITH_TIMEOUT(transferorFor(idB), b->tail(), kJoinMs);
    m_host->transferFile(idB, smallPath);
    QTRY_VERIFY2_WITH_TIMEOUT(!b->savedPath("first.bin").isEmpty(), b->tail(), kStepMs);
    QCOMPARE(b->savedPath("first.bin"), QDir(b->downloads).absoluteFilePath("first.bin"));
    QCOMPARE(testsupport::readFile(b->savedPath("first.bin")), small);

    QTRY_VERIFY2_WITH_TIMEOUT(transferorFor(idC), c->tail(), kJoinMs);
    const QByteArray one = randomBytes(3 * 1024 * 1024 + 123);
    const QString onePath = writeFile("only-b.bin", one);
    QVERIFY(!onePath.isEmpty());
    m_host->transferFile(idB, onePath);
    QTRY_VERIFY2_WITH_TIMEOUT(!b->savedPath("only-b.bin").isEmpty(), b->tail(), 120000);
    QCOMPARE(QCryptographicHash::hash(testsupport::readFile(QDir(b->downloads).filePath("only-b.bin")),
                                      QCryptographicHash::Md5),
             QCryptographicHash::hash(one, QCryptographicHash::Md5));
    QVERIFY(!QFile::exists(QDir(c->downloads).filePath("only-b.bin")));

    const QByteArray all = randomBytes(1024 * 1024 + 7);
    const QString allPath = writeFile("for-all.bin", all);
    for (const QString &id : {idB, idC}) {
        m_host->transferFile(id, allPath);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(!b->savedPath("for-all.bin").isEmpty(), b->tail(), 120000);
    QTRY_VERIFY2_WITH_TIMEOUT(!c->savedPath("for-all.bin").isEmpty(), c->tail(), 120000);
    QCOMPARE(testsupport::readFile(QDir(b->downloads).filePath("for-all.bin")), all);
    QCOMPARE(testsupport::readFile(QDir(c->downloads).filePath("for-all.bin")), all);
    QVERIFY(!c->has("first.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_host->transferFileRunning(), kStepMs);
}

void SessionEndToEndTest::cutOffRemovesOnlyThatMember() {
    Member *b = startWatcher(2, "B3");
    Member *c = startWatcher(3, "C3");
    QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(*b), b->tail(), kJoinMs);
    QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(*c), c->tail(), kJoinMs);
    QString idB;
    QTRY_VERIFY_WITH_TIMEOUT(!(idB = idOf("B3")).isEmpty(), kStepMs);
    m_host->cutOffShare(idB);
    QTRY_VERIFY2_WITH_TIMEOUT(b->has("stopped"), b->tail(), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(b->ended(), kStepMs);
    QVERIFY2(b->process->exitCode() == 0, b->tail());
    QTRY_VERIFY_WITH_TIMEOUT(!m_host->attendeeIds().contains(idB), kStepMs);
    // The other member keeps watching the whole time.
    const qint64 before = c->totalFrames();
    QTRY_VERIFY2_WITH_TIMEOUT(c->totalFrames() > before + 30, c->tail(), kStepMs);
    QVERIFY(seesPattern(*c));
    QVERIFY(!c->has("stopped"));
    QCOMPARE(m_host->attendeeIds().size(), 1);

    // A member the engine makes no peer for is cut off, not left waiting for a picture (the host
    // once kept the failed handle and never answered).
    zuengine::testing::refuseNextPeers(1);
    Member *e = startWatcher(4, "E3");
    QTRY_VERIFY2_WITH_TIMEOUT(e->has("stopped"), e->tail(), kStepMs);
    QVERIFY(!c->has("stopped"));
    QCOMPARE(m_host->attendeeIds().size(), 1);
}

void SessionEndToEndTest::killedAttendeeIsCleanedUp() {
    Member *d = startWatcher(4, "D4");
    QString idD;
    QTRY_VERIFY2_WITH_TIMEOUT(!(idD = idOf("D4")).isEmpty() && transferorFor(idD), d->tail(), kJoinMs);
    const QString big = writeFile("big.bin", randomBytes(64 * 1024 * 1024));
    QSignalSpy failed(m_host.get(), &RtcManager::sigFileTransferFail);
    m_host->transferFile(idD, big);
    QTRY_VERIFY2_WITH_TIMEOUT(d->has("receive begin"), d->tail(), kStepMs);
    QVERIFY(m_host->transferFileRunning());
    ::kill(pid_t(d->process->processId()), SIGKILL);
    QVERIFY(d->process->waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!m_host->attendeeIds().contains(idD), kStepMs);
    QVERIFY(!m_host->transferorIds().contains(idD));
    QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 10000);
    QCOMPARE(failed.first().at(0).toString(), idD);
    QCOMPARE(failed.first().at(1).toString(), QStringLiteral("文件传输中断"));
    QVERIFY(!m_host->transferFileRunning());
    // The partial file is not left behind under its final name.
    QVERIFY(!QFile::exists(QDir(d->downloads).filePath("big.bin")));
}

void SessionEndToEndTest::fiveAttendeesWatchAtOnce() {
    QList<Member *> members;
    const int hosts[5] = {2, 3, 4, 2, 3};
    for (int i = 0; i < 5; ++i) {
        members.append(startWatcher(hosts[i], QStringLiteral("W%1").arg(i)));
    }
    for (Member *m : members) {
        QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(*m), m->tail(), 150000);
    }
    QCOMPARE(m_host->attendeeIds().size(), 5);
    for (Member *m : members) {
        const qint64 before = m->totalFrames();
        QTRY_VERIFY2_WITH_TIMEOUT(m->totalFrames() > before + 5, m->tail(), kStepMs);
    }
    // One leaves; the other four keep watching.
    QString gone;
    QTRY_VERIFY_WITH_TIMEOUT(!(gone = idOf("W4")).isEmpty(), kStepMs);
    members.last()->process->terminate();
    QTRY_VERIFY_WITH_TIMEOUT(members.last()->ended(), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(!m_host->attendeeIds().contains(gone), kStepMs);
    QCOMPARE(m_host->attendeeIds().size(), 4);
    for (int i = 0; i < 4; ++i) {
        Member *m = members[i];
        const qint64 before = m->totalFrames();
        QTRY_VERIFY2_WITH_TIMEOUT(m->totalFrames() > before + 5, m->tail(), kStepMs);
        QVERIFY2(seesPattern(*m) && !m->has("stopped"), m->tail());
    }
}

void SessionEndToEndTest::mobileProjectionEndsFromEitherSide() {
    QSignalSpy requests(m_host.get(), &RtcManager::sigRequestShareScreen);
    QSignalSpy closed(m_host.get(), &RtcManager::sigShareScreenClosed);
    auto view = std::make_shared<RecordingView>();

    // Ended by the member.
    Member *phone = startMobile(4, QStringLiteral("手机A"));
    QTRY_VERIFY2_WITH_TIMEOUT(!requests.isEmpty(), phone->tail(), kJoinMs);
    const QString id = requests.takeFirst().at(0).toString();
    m_host->setShareScreenWidget(id, view);
    m_host->agreeShare(id);
    QTRY_VERIFY2_WITH_TIMEOUT(phone->has("share_id {"), phone->tail(), kStepMs);
    QTRY_VERIFY2_WITH_TIMEOUT(view->frames() > 5, phone->tail(), kJoinMs);
    QCOMPARE(view->size(), QSize(640, 480));
    for (int q = 0; q < 4; ++q) {
        QVERIFY2(near(view->quadrant(q), rgbOfYuv(zuengine::testing::syntheticColour(q))),
                 qPrintable(view->quadrant(q).name()));
    }
    QCOMPARE(m_host->projectionIds(), QList<QString>{id});
    phone->process->write("stop\n");
    QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), kStepMs);
    QCOMPARE(closed.takeFirst().at(0).toString(), id);
    QVERIFY(m_host->projectionIds().isEmpty());
    const int shown = view->frames();
    QTest::qWait(500);
    QCOMPARE(view->frames(), shown);
    phone->process->write("quit\n");
    QTRY_VERIFY_WITH_TIMEOUT(phone->ended(), kStepMs);

    // Ended by the host.
    auto view2 = std::make_shared<RecordingView>();
    Member *phone2 = startMobile(4, QStringLiteral("手机B"));
    QTRY_VERIFY2_WITH_TIMEOUT(!requests.isEmpty(), phone2->tail(), kJoinMs);
    const QString id2 = requests.takeFirst().at(0).toString();
    m_host->setShareScreenWidget(id2, view2);
    m_host->agreeShare(id2);
    QTRY_VERIFY2_WITH_TIMEOUT(view2->frames() > 5, phone2->tail(), kJoinMs);
    m_host->stopShare(id2);
    QTRY_VERIFY2_WITH_TIMEOUT(phone2->has("stop_share received"), phone2->tail(), kStepMs);
    QVERIFY(m_host->projectionIds().isEmpty());
    const int shown2 = view2->frames();
    QTest::qWait(500);
    QCOMPARE(view2->frames(), shown2);

    // Refused.
    Member *phone3 = startMobile(3, QStringLiteral("手机C"));
    QTRY_VERIFY2_WITH_TIMEOUT(!requests.isEmpty(), phone3->tail(), kJoinMs);
    m_host->refuseShare(requests.takeFirst().at(0).toString());
    QTRY_VERIFY2_WITH_TIMEOUT(phone3->has("share refused"), phone3->tail(), kStepMs);
    QVERIFY(!phone3->has("share_id"));
    QVERIFY(m_host->projectionIds().isEmpty());
}

// The command-line host beside this one on host 1 (the display's own socket is reached only from
// there): found by a scan, watched by two attendees, each sent the file of --send once, a member
// leaving without disturbing the other, and ended by Ctrl-C.
void SessionEndToEndTest::cliHostIsFoundWatchedAndSends() {
    const QByteArray content = randomBytes(256 * 1024 + 9);
    const QString path = writeFile("from-cli.bin", content);
    const QString port = QStringLiteral("5690");
    Member *host = startProgram(1, "cli-host", m_cli, {"host", "--send", path, "--port", port, "--no-web"});
    QTRY_VERIFY2_WITH_TIMEOUT(host->has("share started on port " + port) || host->ended(), host->tail(),
                              kJoinMs);
    QVERIFY2(!host->ended(), host->tail());
    QTRY_VERIFY2_WITH_TIMEOUT(host->has("local ip") || host->ended(), host->tail(), kStepMs);
    QByteArray found;
    QCOMPARE(m_lan->run(2, m_cli, {"scan", "--seconds", "4"}, &found, 60000), 0);
    QVERIFY2(found.contains("host " + m_lan->address(1).toUtf8() + "\n"), found.constData());

    Member *b = startWatcher(2, "B7", {"--port", port});
    Member *c = startWatcher(3, "C7", {"--port", port});
    QTRY_VERIFY2_WITH_TIMEOUT((host->has(" B7 desktop") && host->has(" C7 desktop")) || host->ended(),
                              host->tail(), kJoinMs);
    for (Member *m : {b, c}) {
        QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(*m) || m->ended(), m->tail(), kJoinMs);
        QVERIFY2(seesPattern(*m), m->tail());
        QTRY_VERIFY2_WITH_TIMEOUT(!m->savedPath("from-cli.bin").isEmpty() || m->ended(),
                                  m->tail() + host->tail(), kJoinMs);
        QCOMPARE(testsupport::readFile(m->savedPath("from-cli.bin")), content);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(host->output.count("transfer done") >= 2 || host->ended(), host->tail(),
                              kStepMs);
    QCOMPARE(host->output.count("sending "), 2);
    // The in-process host knows nothing of these members.
    QVERIFY(m_host->attendeeIds().isEmpty());

    c->process->terminate();
    QTRY_VERIFY2_WITH_TIMEOUT(host->has(" C7\n") || host->ended(), host->tail(), kStepMs);
    QVERIFY2(host->has("member left"), host->tail());
    QTRY_VERIFY2_WITH_TIMEOUT(host->has("peer closed") || host->ended(), host->tail(), kStepMs);
    const qint64 before = b->totalFrames();
    QTRY_VERIFY2_WITH_TIMEOUT(b->totalFrames() > before + 10 || b->ended(), b->tail(), kStepMs);
    QVERIFY2(!b->has("stopped"), b->tail());

    ::kill(pid_t(host->process->processId()), SIGINT);
    QTRY_VERIFY2_WITH_TIMEOUT(host->ended(), host->tail(), kStepMs);
    QVERIFY2(host->process->exitStatus() == QProcess::NormalExit && host->process->exitCode() == 0,
             host->tail());
    QTRY_VERIFY2_WITH_TIMEOUT(b->has("stopped") && b->ended(), b->tail(), kStepMs);
    QVERIFY2(b->process->exitCode() == 0, b->tail());

    // What cannot start says why and exits non-zero.
    QByteArray refused;
    QCOMPARE(m_lan->run(4, m_cli, {"host", "--send", m_dir.filePath("missing.bin"), "--no-web"}, &refused),
             2);
    QVERIFY2(refused.contains("cannot read the file to send"), refused.constData());
    QCOMPARE(m_lan->run(3, m_cli, {"watch", m_lan->address(1), "--port", port, "--nickname", "X7"}, &refused,
                        60000),
             2);
    QVERIFY2(refused.contains("cannot join") || refused.contains("no share answered"), refused.constData());
}

// A raw connection, no member of the share: neither its offers nor a projection make an engine peer,
// and once it has joined, a peer that never connects is closed after the host's deadline.
void SessionEndToEndTest::strangersGetNoPeerThatOutlivesTheirConnecting() {
    TestPeer stranger;
    stranger.open(5678);
    QVERIFY(!stranger.waitId().isEmpty());
    const std::string owner = m_host->signalingClient()->myId().toStdString();
    const int pc = CreatePeerConnection(0, 0, 0, 0, 1);
    const std::string text = engineOffer(pc);
    QVERIFY(!text.empty());
    stranger.send(testmsg::sdp("sdp", owner, "offer", text));
    stranger.send(testmsg::sdp("share_screen_sdp", owner, "offer", text));
    // Relayed after them: once the owner has answered it, the offers were handled.
    stranger.send(testmsg::request("owner"));
    QVERIFY(stranger.waitFor("owner"));
    QTest::qWait(300);
    QVERIFY(m_host->attendeeIds().isEmpty());
    QVERIFY(m_host->projectionIds().isEmpty());

    stranger.send(testmsg::nickname("S1"));
    QTRY_VERIFY(!idOf("S1").isEmpty());
    stranger.send(testmsg::sdp("sdp", owner, "offer", text));
    QTRY_COMPARE(m_host->attendeeIds(), QList<QString>{stranger.id});
    // Its answer and candidates go nowhere: the peer never connects and is forgotten.
    QTRY_VERIFY_WITH_TIMEOUT(m_host->attendeeIds().isEmpty(),
                             OriginatorRtcManager::kConnectDeadlineMs + 10000);
    ClosePeerConnection(pc);
}

void SessionEndToEndTest::hostQuittingStopsEveryAttendee() {
    Member *b = startWatcher(2, "B8");
    Member *c = startWatcher(3, "C8");
    QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(*b), b->tail(), kJoinMs);
    QTRY_VERIFY2_WITH_TIMEOUT(seesPattern(*c), c->tail(), kJoinMs);
    QElapsedTimer clock;
    clock.start();
    m_host->stop();
    m_host.reset();
    QTRY_VERIFY_WITH_TIMEOUT(b->has("stopped") && c->has("stopped"), 10000);
    qInfo("attendees reported the end %lld ms after the host quit", clock.elapsed());
    QTRY_VERIFY_WITH_TIMEOUT(b->ended() && c->ended(), 10000);
    QVERIFY2(b->process->exitCode() == 0, b->tail());
    QVERIFY2(c->process->exitCode() == 0, c->tail());
}

void SessionEndToEndTest::cliHostEndsWhenItsDisplayGoesAway() {
    // A laptop's 1366 x 768: a width whose rows GStreamer pads, the size that once gave no picture.
    QProcess xvfb;
    const QString display = testsupport::startPrivateDisplay(xvfb, 1366, 768);
    QVERIFY(!display.isEmpty());
    const QString port = QStringLiteral("5691");
    Member *host =
        startProgram(1, "cli-host-x", m_cli, {"host", "--port", port, "--no-web", "--no-discovery"},
                     {"DISPLAY=" + display});
    QTRY_VERIFY2_WITH_TIMEOUT(host->has("share started") || host->ended(), host->tail(), kJoinMs);
    Member *b = startWatcher(2, "B9", {"--port", port});
    QTRY_VERIFY2_WITH_TIMEOUT(b->lastFrames().contains("size=1366x768") || b->ended(), b->tail(), kJoinMs);
    const qint64 before = b->totalFrames();
    QTRY_VERIFY2_WITH_TIMEOUT(b->totalFrames() > before + 10 || b->ended(), b->tail(), kStepMs);

    // The X server ends under the running share: the host says so and exits non-zero, unaborted.
    xvfb.kill();
    xvfb.waitForFinished(5000);
    QTRY_VERIFY2_WITH_TIMEOUT(host->ended(), host->tail(), kStepMs);
    QVERIFY2(host->process->exitStatus() == QProcess::NormalExit && host->process->exitCode() == 1,
             host->tail());
    QVERIFY2(host->has("is gone; the share ends"), host->tail());
    QTRY_VERIFY2_WITH_TIMEOUT(b->has("stopped") && b->ended(), b->tail(), kStepMs);
}

QTEST_GUILESS_MAIN(SessionEndToEndTest)
#include "tst_session_e2e.moc"
