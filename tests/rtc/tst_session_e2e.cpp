// A share end to end on the namespace LAN: this process is the host on host 1 and shows a known
// moving picture on the X display; attendees are zushare-cli processes on the other hosts, the
// mobile member a program of its own.

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

#include "recordingview.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "rtc/originatorrtcmanager.h"
#include "rtc/zuwebrtc.h"
#include "signaling/signalingclient.h"
#include "support/testlan.h"
#include "support/testsupport.h"
#include "testpatternwidget.h"

namespace {

constexpr int kColourTolerance = 45;

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

// One program on a host of the LAN whose output is read line by line.
struct Member {
    QProcess *process = nullptr;
    QString name;
    QString downloads;
    QString framesDir;
    QByteArray output;

    void pump() {
        if (process) {
            output += process->readAll();
        }
    }
    bool has(const QString &text) {
        pump();
        return QString::fromUtf8(output).contains(text);
    }
    // The last "frames" line, or empty.
    QString lastFrames() {
        pump();
        const QStringList lines = QString::fromUtf8(output).split('\n');
        for (int i = lines.size() - 1; i >= 0; --i) {
            if (lines[i].startsWith("frames ")) {
                return lines[i];
            }
        }
        return QString();
    }
    qint64 totalFrames() {
        const QRegularExpressionMatch m = QRegularExpression("total=(\\d+)").match(lastFrames());
        return m.hasMatch() ? m.captured(1).toLongLong() : 0;
    }
    // Whether the last frames line shows the pattern at full size.
    bool seesPattern() {
        const QString line = lastFrames();
        if (!line.contains("size=1920x1080")) {
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
    bool ended() { return !process || process->state() == QProcess::NotRunning; }
    // The end of the output, for failure messages.
    QByteArray tail() {
        pump();
        return name.toUtf8() + ": ..." + output.right(1500);
    }
    // The path of the first saved frame.
    QString firstSaved() {
        pump();
        const QRegularExpressionMatch m =
            QRegularExpression("saved frame (\\S+)").match(QString::fromUtf8(output));
        return m.hasMatch() ? m.captured(1) : QString();
    }
};

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
    void hostQuittingStopsEveryAttendee();

private:
    Member *startWatcher(int host, const QString &name, const QStringList &extra = {});
    Member *startMobile(int host, const QString &name);
    QString idOf(const QString &nickname);
    bool transferorFor(const QString &id) { return m_host->transferorIds().contains(id); }
    QString writeFile(const QString &name, const QByteArray &content);

    std::unique_ptr<testsupport::TestLan> m_lan;
    std::unique_ptr<testsupport::TestLan::Enter> m_inHost;
    std::unique_ptr<TestPatternWidget> m_pattern;
    std::unique_ptr<OriginatorRtcManager> m_host;
    QHash<QString, QString> m_members;  // nickname -> id
    std::vector<std::unique_ptr<Member>> m_running;
    QTemporaryDir m_dir;
    int m_capturer = 0;
    QString m_cli;
    QString m_mobile;
};

void SessionEndToEndTest::initTestCase() {
    ZU_REQUIRE_TEST_NAMESPACE();
    QVERIFY(m_dir.isValid());
    m_cli = QStringLiteral(ZUSHARE_CLI);
    m_mobile = QStringLiteral(ZUSHARE_MOBILE);
    m_lan = std::make_unique<testsupport::TestLan>(4);
    QVERIFY2(m_lan->isUp(), qPrintable(m_lan->errorString()));
    // Everything this process starts from now on (the engine's threads and sockets, the signaling
    // server) lives in host 1.
    m_inHost = std::make_unique<testsupport::TestLan::Enter>(*m_lan, 1);
    QVERIFY(m_inHost->ok());

    m_pattern = std::make_unique<TestPatternWidget>(30);
    m_pattern->show();
    QTRY_VERIFY_WITH_TIMEOUT(m_pattern->paints() > 3, 10000);

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
    QVERIFY(started.wait(10000));
}

void SessionEndToEndTest::cleanup() {
    for (auto &member : m_running) {
        if (member->process && member->process->state() != QProcess::NotRunning) {
            member->process->terminate();
            member->process->waitForFinished(5000);
        }
    }
    m_running.clear();
    // Members gone from the host before the next test starts its own.
    if (m_host) {
        QTRY_VERIFY_WITH_TIMEOUT(m_host->attendeeIds().isEmpty() && m_host->projectionIds().isEmpty(), 20000);
    }
}

void SessionEndToEndTest::cleanupTestCase() {
    m_running.clear();
    m_host.reset();
    if (m_capturer > 0) {
        deleteScreenSourceCpaturer(m_capturer);
    }
    m_pattern.reset();
    m_inHost.reset();
    m_lan.reset();
}

Member *SessionEndToEndTest::startWatcher(int host, const QString &name, const QStringList &extra) {
    auto member = std::make_unique<Member>();
    member->name = name;
    member->downloads = m_dir.filePath("downloads-" + name);
    member->framesDir = m_dir.filePath("frames-" + name);
    QStringList args{"watch", m_lan->address(1), "--nickname", name, "--downloads", member->downloads};
    args += extra;
    member->process = m_lan->start(host, m_cli, args);
    m_running.push_back(std::move(member));
    return m_running.back().get();
}

Member *SessionEndToEndTest::startMobile(int host, const QString &name) {
    auto member = std::make_unique<Member>();
    member->name = name;
    member->process = m_lan->start(host, m_mobile, {m_lan->address(1), "--nickname", name});
    m_running.push_back(std::move(member));
    return m_running.back().get();
}

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
    Member *b = startWatcher(2, "B", {"--save-frames", m_dir.filePath("frames-B"), "--every", "20"});
    Member *c = startWatcher(3, "C");
    QTRY_VERIFY2_WITH_TIMEOUT(b->seesPattern(), b->tail(), 60000);
    QTRY_VERIFY2_WITH_TIMEOUT(c->seesPattern(), c->tail(), 60000);
    // The picture moves: frames keep coming.
    const qint64 before = c->totalFrames();
    QTRY_VERIFY_WITH_TIMEOUT(c->totalFrames() > before + 10, 20000);

    QTRY_VERIFY2_WITH_TIMEOUT(!b->firstSaved().isEmpty(), b->tail(), 20000);
    QImage saved(b->firstSaved());
    QCOMPARE(saved.size(), QSize(1920, 1080));
    QVERIFY(near(saved.pixelColor(480, 270), TestPatternWidget::quadrantColour(0)));
    QVERIFY(near(saved.pixelColor(1440, 810), TestPatternWidget::quadrantColour(3)));
    QCOMPARE(m_host->attendeeIds().size(), 2);
}

void SessionEndToEndTest::filesReachOneMemberAndAll() {
    Member *b = startWatcher(2, "B");
    Member *c = startWatcher(3, "C");
    QTRY_VERIFY2_WITH_TIMEOUT(b->has("data channel open"), b->tail(), 60000);
    QTRY_VERIFY2_WITH_TIMEOUT(c->has("data channel open"), c->tail(), 60000);
    QString idB, idC;
    QTRY_VERIFY_WITH_TIMEOUT(!(idB = idOf("B")).isEmpty() && !(idC = idOf("C")).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(transferorFor(idB) && transferorFor(idC), 20000);

    const QByteArray one = randomBytes(3 * 1024 * 1024 + 123);
    const QString onePath = writeFile("only-b.bin", one);
    QVERIFY(!onePath.isEmpty());
    m_host->transferFile(idB, onePath);
    QTRY_VERIFY2_WITH_TIMEOUT(b->has("file saved"), b->tail(), 90000);
    QCOMPARE(testsupport::readFile(QDir(b->downloads).filePath("only-b.bin")), one);
    QVERIFY(!QFile::exists(QDir(c->downloads).filePath("only-b.bin")));

    const QByteArray all = randomBytes(1024 * 1024 + 7);
    const QString allPath = writeFile("for-all.bin", all);
    for (const QString &id : {idB, idC}) {
        m_host->transferFile(id, allPath);
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QDir(b->downloads).filePath("for-all.bin")) &&
                                 QFile::exists(QDir(c->downloads).filePath("for-all.bin")),
                             90000);
    QCOMPARE(testsupport::readFile(QDir(b->downloads).filePath("for-all.bin")), all);
    QCOMPARE(testsupport::readFile(QDir(c->downloads).filePath("for-all.bin")), all);
    QTRY_VERIFY_WITH_TIMEOUT(!m_host->transferFileRunning(), 10000);
}

void SessionEndToEndTest::cutOffRemovesOnlyThatMember() {
    Member *b = startWatcher(2, "B");
    Member *c = startWatcher(3, "C");
    QTRY_VERIFY2_WITH_TIMEOUT(b->seesPattern(), b->tail(), 60000);
    QTRY_VERIFY2_WITH_TIMEOUT(c->seesPattern(), c->tail(), 60000);
    QString idB;
    QTRY_VERIFY_WITH_TIMEOUT(!(idB = idOf("B")).isEmpty(), 10000);
    m_host->cutOffShare(idB);
    QTRY_VERIFY2_WITH_TIMEOUT(b->has("stopped"), b->tail(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(b->ended(), 10000);
    QCOMPARE(b->process->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!m_host->attendeeIds().contains(idB), 20000);
    // The other member keeps watching the whole time.
    const qint64 before = c->totalFrames();
    QTRY_VERIFY_WITH_TIMEOUT(c->totalFrames() > before + 30, 20000);
    QVERIFY(c->seesPattern());
    QVERIFY(!c->has("stopped"));
    QCOMPARE(m_host->attendeeIds().size(), 1);
}

void SessionEndToEndTest::killedAttendeeIsCleanedUp() {
    Member *d = startWatcher(4, "D");
    QTRY_VERIFY2_WITH_TIMEOUT(d->has("data channel open"), d->tail(), 60000);
    QString idD;
    QTRY_VERIFY_WITH_TIMEOUT(!(idD = idOf("D")).isEmpty() && transferorFor(idD), 20000);
    const QString big = writeFile("big.bin", randomBytes(64 * 1024 * 1024));
    QSignalSpy begun(m_host.get(), &RtcManager::sigFileTransferBegin);
    QSignalSpy failed(m_host.get(), &RtcManager::sigFileTransferFail);
    m_host->transferFile(idD, big);
    QTRY_VERIFY_WITH_TIMEOUT(d->has("receive begin"), 30000);
    QVERIFY(m_host->transferFileRunning());
    ::kill(pid_t(d->process->processId()), SIGKILL);
    QVERIFY(d->process->waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!m_host->attendeeIds().contains(idD), 30000);
    QVERIFY(!m_host->transferorIds().contains(idD));
    QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 5000);
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
        QTRY_VERIFY2_WITH_TIMEOUT(m->seesPattern(), m->tail(), 120000);
    }
    QCOMPARE(m_host->attendeeIds().size(), 5);
    for (Member *m : members) {
        const qint64 before = m->totalFrames();
        QTRY_VERIFY_WITH_TIMEOUT(m->totalFrames() > before + 5, 30000);
    }
}

void SessionEndToEndTest::mobileProjectionEndsFromEitherSide() {
    QSignalSpy requests(m_host.get(), &RtcManager::sigRequestShareScreen);
    QSignalSpy closed(m_host.get(), &RtcManager::sigShareScreenClosed);
    auto view = std::make_shared<RecordingView>();

    // Ended by the member.
    Member *phone = startMobile(4, QStringLiteral("手机A"));
    QTRY_VERIFY2_WITH_TIMEOUT(!requests.isEmpty(), phone->tail(), 30000);
    const QString id = requests.takeFirst().at(0).toString();
    m_host->setShareScreenWidget(id, view);
    m_host->agreeShare(id);
    QTRY_VERIFY2_WITH_TIMEOUT(phone->has("share_id {"), phone->tail(), 10000);
    QTRY_VERIFY2_WITH_TIMEOUT(view->frames() > 5, phone->tail(), 60000);
    QCOMPARE(view->size(), QSize(640, 480));
    for (int q = 0; q < 4; ++q) {
        QVERIFY2(near(view->quadrant(q), rgbOfYuv(zuengine::testing::syntheticColour(q))),
                 qPrintable(view->quadrant(q).name()));
    }
    QCOMPARE(m_host->projectionIds(), QList<QString>{id});
    phone->process->write("stop\n");
    QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), 10000);
    QCOMPARE(closed.takeFirst().at(0).toString(), id);
    QVERIFY(m_host->projectionIds().isEmpty());
    const int shown = view->frames();
    QTest::qWait(500);
    QCOMPARE(view->frames(), shown);
    phone->process->write("quit\n");
    QTRY_VERIFY_WITH_TIMEOUT(phone->ended(), 10000);

    // Ended by the host.
    auto view2 = std::make_shared<RecordingView>();
    Member *phone2 = startMobile(4, QStringLiteral("手机B"));
    QTRY_VERIFY_WITH_TIMEOUT(!requests.isEmpty(), 30000);
    const QString id2 = requests.takeFirst().at(0).toString();
    m_host->setShareScreenWidget(id2, view2);
    m_host->agreeShare(id2);
    QTRY_VERIFY2_WITH_TIMEOUT(view2->frames() > 5, phone2->tail(), 60000);
    m_host->stopShare(id2);
    QTRY_VERIFY2_WITH_TIMEOUT(phone2->has("stop_share received"), phone2->tail(), 10000);
    QVERIFY(m_host->projectionIds().isEmpty());
    const int shown2 = view2->frames();
    QTest::qWait(500);
    QCOMPARE(view2->frames(), shown2);

    // Refused.
    Member *phone3 = startMobile(3, QStringLiteral("手机C"));
    QTRY_VERIFY_WITH_TIMEOUT(!requests.isEmpty(), 30000);
    m_host->refuseShare(requests.takeFirst().at(0).toString());
    QTRY_VERIFY2_WITH_TIMEOUT(phone3->has("share refused"), phone3->tail(), 10000);
    QVERIFY(!phone3->has("share_id"));
    QVERIFY(m_host->projectionIds().isEmpty());
}

void SessionEndToEndTest::hostQuittingStopsEveryAttendee() {
    Member *b = startWatcher(2, "B");
    Member *c = startWatcher(3, "C");
    QTRY_VERIFY2_WITH_TIMEOUT(b->seesPattern(), b->tail(), 60000);
    QTRY_VERIFY2_WITH_TIMEOUT(c->seesPattern(), c->tail(), 60000);
    QElapsedTimer clock;
    clock.start();
    m_host->stop();
    m_host.reset();
    QTRY_VERIFY_WITH_TIMEOUT(b->has("stopped") && c->has("stopped"), 5000);
    qInfo("attendees reported the end %lld ms after the host quit", clock.elapsed());
    QTRY_VERIFY_WITH_TIMEOUT(b->ended() && c->ended(), 5000);
    QCOMPARE(b->process->exitCode(), 0);
    QCOMPARE(c->process->exitCode(), 0);
}

QTEST_MAIN(SessionEndToEndTest)
#include "tst_session_e2e.moc"
