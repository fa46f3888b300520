// The host's sound on the namespace LAN: a zushare-cli host on host 1 shares a 440 Hz tone; an
// attendee on host 2 that asks for sound hears the tone (its strongest frequency, not its bytes:
// the sound goes through Opus) and silence once the host mutes, while one on host 3 that asks for
// none watches as before, and a third that stalls holds back nobody else's sound.

#include <signal.h>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>
#include <vector>

#include "lanmember.h"
#include "support/soundserver.h"
#include "support/testlan.h"
#include "support/testsupport.h"

namespace {

constexpr int kWaitMs = 60000;
constexpr int kRate = 48000;

// The left channel of the newest ms milliseconds of a growing 16-bit stereo file (WAV, or raw
// with a header of 0).
std::vector<double> newest(const QString &path, int ms, int header = 44) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() <= header)
        return {};
    const qint64 frames = (f.size() - header) / 4;
    const qint64 want = qMin<qint64>(frames, qint64(kRate) * ms / 1000);
    f.seek(header + (frames - want) * 4);
    const QByteArray bytes = f.read(want * 4);
    std::vector<double> left;
    for (int i = 0; i + 3 < bytes.size(); i += 4)
        left.push_back(qint16(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8)));
    return left;
}

// The strength of one frequency (Goertzel).
double strength(const std::vector<double> &x, double hz) {
    const double k = 2 * std::cos(2 * M_PI * hz / kRate);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s0 = v + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - k * s1 * s2)) / std::max<size_t>(1, x.size());
}

double rms(const std::vector<double> &x) {
    double sum = 0;
    for (double v : x)
        sum += v * v;
    return x.empty() ? 0 : std::sqrt(sum / x.size());
}

}  // namespace

class SoundTest : public QObject {
    Q_OBJECT

private slots:
    void toneReachesWhoAsksAndMuteSilencesIt();
    void speakersPlayAtAnAttendee();

private:
    Member *start(int host, const QString &name, const QStringList &args, const QStringList &env = {}) {
        auto member = std::make_unique<Member>();
        member->name = name;
        member->process =
            m_lan->start(host, ZUSHARE_CLI, args, QStringList{"HOME=" + m_dir.filePath(name)} + env);
        m_members.push_back(std::move(member));
        return m_members.back().get();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<testsupport::TestLan> m_lan;
    std::vector<std::unique_ptr<Member>> m_members;
};

void SoundTest::toneReachesWhoAsksAndMuteSilencesIt() {
    ZU_REQUIRE_TEST_NAMESPACE();
    m_lan = std::make_unique<testsupport::TestLan>(3);
    QVERIFY2(m_lan->isUp(), qPrintable(m_lan->errorString()));
    Member *host = start(1, "host",
                         {"host", "--synthetic", "--size", "320x240", "--fps", "15", "--synthetic-sound",
                          "--no-web", "--no-discovery"});
    QTRY_VERIFY2_WITH_TIMEOUT(host->has("share started") || host->ended(), host->tail(), kWaitMs);
    const QString wav = m_dir.filePath("heard.wav");
    Member *ear = start(2, "ear", {"watch", m_lan->address(1), "--nickname", "ear", "--sound", wav});
    Member *deaf = start(3, "deaf", {"watch", m_lan->address(1), "--nickname", "deaf"});
    QTRY_VERIFY2_WITH_TIMEOUT(ear->totalFrames() > 15 && ear->has("sound frames="), ear->tail(), kWaitMs);
    QTRY_VERIFY2_WITH_TIMEOUT(deaf->totalFrames() > 15, deaf->tail(), kWaitMs);
    QVERIFY(!deaf->has("sound frames="));

    QTRY_VERIFY_WITH_TIMEOUT(newest(wav, 1000).size() == size_t(kRate), kWaitMs);
    // The first packets may still carry the decoder's start: the newest second.
    QTest::qWait(500);
    const std::vector<double> heard = newest(wav, 1000);
    const double tone = strength(heard, 440);
    for (double other : {220.0, 330.0, 550.0, 660.0, 880.0, 1320.0})
        QVERIFY2(tone > 10 * strength(heard, other),
                 qPrintable(QString("440 Hz %1, %2 Hz %3").arg(tone).arg(other).arg(strength(heard, other))));
    QVERIFY(rms(heard) > 1000);

    host->process->write("mute\n");
    QElapsedTimer muted;
    muted.start();
    QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(wav, 200)) < 50, ear->tail(), 5000);
    qInfo("silent %lld ms after mute", muted.elapsed());
    host->process->write("unmute\n");
    QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(wav, 200)) > 1000, ear->tail(), 5000);

    // An attendee that stops taking anything (stopped, then given up on by the host after its
    // silence) holds back nobody else's sound.
    Member *stalled = start(
        3, "stalled",
        {"watch", m_lan->address(1), "--nickname", "stalled", "--sound", m_dir.filePath("stalled.wav")});
    QTRY_VERIFY2_WITH_TIMEOUT(stalled->has("sound frames="), stalled->tail(), kWaitMs);
    QCOMPARE(::kill(pid_t(stalled->process->processId()), SIGSTOP), 0);
    const qint64 before = QFileInfo(wav).size();
    QElapsedTimer stalledFor;
    stalledFor.start();
    while (stalledFor.elapsed() < 6000) {
        QTest::qWait(250);
        QVERIFY2(rms(newest(wav, 200)) > 1000,
                 qPrintable(QString("silent after %1 ms").arg(stalledFor.elapsed())));
    }
    const double heardMs = (QFileInfo(wav).size() - before) / 4.0 / kRate * 1000;
    QVERIFY2(heardMs > 0.8 * stalledFor.elapsed(), qPrintable(QString("%1 ms heard").arg(heardMs)));
    ::kill(pid_t(stalled->process->processId()), SIGKILL);
    QVERIFY2(!ear->has("stopped") && !deaf->has("stopped"), ear->tail() + deaf->tail());
}

// The whole way through a sound server: what the host's speakers play (its monitor) comes out of
// the attendee's output, and the attendee's mute silences it there.
void SoundTest::speakersPlayAtAnAttendee() {
    ZU_REQUIRE_TEST_NAMESPACE();
    m_members.clear();
    m_lan = std::make_unique<testsupport::TestLan>(2);
    QVERIFY2(m_lan->isUp(), qPrintable(m_lan->errorString()));
    testsupport::SoundServer sound;
    QVERIFY2(sound.isUp(), qPrintable(sound.errorString()));
    sound.play("speakers", 440);
    const QString played = m_dir.filePath("played.raw");
    sound.record("attendee", played);
    Member *host = start(
        1, "speakerhost",
        {"host", "--synthetic", "--size", "320x240", "--fps", "15", "--sound", "--no-web", "--no-discovery"},
        sound.environment());
    QTRY_VERIFY2_WITH_TIMEOUT(host->has("share started") || host->ended(), host->tail(), kWaitMs);
    QVERIFY2(!host->has("no sound to share"), host->tail());
    Member *player = start(2, "player", {"watch", m_lan->address(1), "--nickname", "player", "--play"},
                           sound.environment() + QStringList{"PULSE_SINK=attendee"});
    QTRY_VERIFY2_WITH_TIMEOUT(player->totalFrames() > 15, player->tail(), kWaitMs);
    QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(played, 500, 0)) > 1000, player->tail(), kWaitMs);
    const std::vector<double> heard = newest(played, 1000, 0);
    QVERIFY2(strength(heard, 440) > 10 * strength(heard, 660), player->tail());

    player->process->write("mute\n");
    QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(played, 200, 0)) < 50, player->tail(), 3000);
    player->process->write("unmute\n");
    QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(played, 200, 0)) > 1000, player->tail(), 3000);
}

QTEST_GUILESS_MAIN(SoundTest)
#include "tst_sound.moc"
