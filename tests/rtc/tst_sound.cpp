// The host's 440 Hz tone on the namespace LAN, told by its strongest frequency (it goes through
// Opus): heard by who asks for it, silenced by mute, held back by no stalled attendee.

#include <signal.h>
#include <QtTest>
#include <cmath>
#include <numeric>

#include "sessionlan.h"
#include "support/soundserver.h"

namespace {

constexpr int kWaitMs = 60000;
constexpr int kRate = 48000;

// The left channel of the newest ms of a growing 16-bit stereo file (WAV, or raw with header 0).
std::vector<double> newest(const QString &path, int ms, int header = 44) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() <= header) {
        return {};
    }
    const qint64 frames = (f.size() - header) / 4;
    const qint64 want = qMin<qint64>(frames, qint64(kRate) * ms / 1000);
    f.seek(header + (frames - want) * 4);
    const QByteArray bytes = f.read(want * 4);
    std::vector<double> left;
    for (int i = 0; i + 3 < bytes.size(); i += 4) {
        left.push_back(qint16(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8)));
    }
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
    return x.empty() ? 0 : std::sqrt(std::inner_product(x.begin(), x.end(), x.begin(), 0.0) / x.size());
}

bool hearsTheTone(const QString &path, int header = 44) {
    const std::vector<double> heard = newest(path, 1000, header);
    for (double other : {220.0, 330.0, 550.0, 660.0, 880.0, 1320.0}) {
        if (!(strength(heard, 440) > 10 * strength(heard, other))) {
            qWarning("440 Hz %g, %g Hz %g", strength(heard, 440), other, strength(heard, other));
            return false;
        }
    }
    return rms(heard) > 1000;
}

}  // namespace

class SoundTest : public QObject {
    Q_OBJECT

private slots:
    void toneReachesWhoAsksAndMuteSilencesIt() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY2(m_lan.up(3), qPrintable(m_lan.lan->errorString()));
        Member *host = this->host("host", "--synthetic-sound");
        QVERIFY2(says(host, "share started", kWaitMs), host->tail());
        const QString wav = m_lan.dir.filePath("heard.wav");
        Member *ear = watch(2, "ear", {"--sound", wav});
        Member *deaf = watch(3, "deaf");
        QTRY_VERIFY2_WITH_TIMEOUT(ear->totalFrames() > 15 && ear->has("sound frames="), ear->tail(), kWaitMs);
        QTRY_VERIFY2_WITH_TIMEOUT(deaf->totalFrames() > 15, deaf->tail(), kWaitMs);
        QVERIFY(!deaf->has("sound frames="));
        // The first packets may still carry the decoder's start: a second after the first.
        QTRY_VERIFY_WITH_TIMEOUT(newest(wav, 1500).size() == size_t(kRate) * 3 / 2, kWaitMs);
        QVERIFY(hearsTheTone(wav));

        host->process->write("mute\n");
        QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(wav, 200)) < 50, ear->tail(), 5000);
        host->process->write("unmute\n");
        QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(wav, 200)) > 1000, ear->tail(), 5000);

        // An attendee that takes nothing more (stopped, then given up on by the host).
        Member *stalled = watch(3, "stalled", {"--sound", m_lan.dir.filePath("stalled.wav")});
        QVERIFY2(says(stalled, "sound frames=", kWaitMs), stalled->tail());
        QCOMPARE(::kill(pid_t(stalled->process->processId()), SIGSTOP), 0);
        const qint64 before = QFileInfo(wav).size();
        QElapsedTimer stalledFor;
        stalledFor.start();
        while (stalledFor.elapsed() < 6000) {
            QTest::qWait(250);  // the sound is checked every quarter second
            QVERIFY2(rms(newest(wav, 200)) > 1000,
                     qPrintable(QString("silent after %1 ms").arg(stalledFor.elapsed())));
        }
        const double heardMs = (QFileInfo(wav).size() - before) / 4.0 / kRate * 1000;
        QVERIFY2(heardMs > 0.8 * stalledFor.elapsed(), qPrintable(QString("%1 ms heard").arg(heardMs)));
        ::kill(pid_t(stalled->process->processId()), SIGKILL);
        QVERIFY2(!ear->has("stopped") && !deaf->has("stopped"), ear->tail() + deaf->tail());
    }

    // Through a sound server: the host's speakers (its monitor) play at the attendee, whose mute works.
    void speakersPlayAtAnAttendee() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY2(m_lan.up(2), qPrintable(m_lan.lan->errorString()));
        testsupport::SoundServer sound;
        QVERIFY2(sound.isUp(), qPrintable(sound.errorString()));
        sound.play("speakers", 440);
        const QString played = m_lan.dir.filePath("played.raw");
        sound.record("attendee", played);
        Member *host = this->host("speakerhost", "--sound", sound.environment());
        QVERIFY2(says(host, "share started", kWaitMs) && !host->has("no sound to share"), host->tail());
        Member *player =
            watch(2, "player", {"--play"}, sound.environment() + QStringList{"PULSE_SINK=attendee"});
        QTRY_VERIFY2_WITH_TIMEOUT(player->totalFrames() > 15, player->tail(), kWaitMs);
        QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(played, 500, 0)) > 1000, player->tail(), kWaitMs);
        QVERIFY2(hearsTheTone(played, 0), player->tail());

        player->process->write("mute\n");
        QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(played, 200, 0)) < 50, player->tail(), 3000);
        player->process->write("unmute\n");
        QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(played, 200, 0)) > 1000, player->tail(), 3000);
    }

private:
    Member *start(int host, const QString &name, const QStringList &args, const QStringList &env = {}) {
        return m_lan.start(host, name, args, QStringList{"HOME=" + m_lan.dir.filePath(name)} + env);
    }
    Member *watch(int host, const QString &name, const QStringList &extra = {}, const QStringList &env = {}) {
        return start(host, name, QStringList{"watch", m_lan.address(1), "--nickname", name} + extra, env);
    }
    Member *host(const QString &name, const QString &sound, const QStringList &env = {}) {
        return start(
            1, name,
            {"host", "--synthetic", "--size", "320x240", "--fps", "15", sound, "--no-web", "--no-discovery"},
            env);
    }

    SessionLan m_lan;
};

QTEST_GUILESS_MAIN(SoundTest)
#include "tst_sound.moc"
