// The host's 440 Hz tone (told by its strongest frequency, as it goes through Opus) on the namespace LAN:
// saved or played by who asks for it, silenced by mute at either end, held back by no stalled attendee.

#include <signal.h>
#include <QtTest>
#include <cmath>
#include <numeric>

#include "sessionlan.h"
#include "support/soundserver.h"

constexpr int kWaitMs = 60000, kRate = 48000;

// The left channel of the newest ms of a growing 16-bit stereo file (WAV, or raw with header 0).
static std::vector<double> newest(const QString &path, int ms, int header = 44) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() <= header)
        return {};
    const qint64 frames = (f.size() - header) / 4, want = qMin<qint64>(frames, qint64(kRate) * ms / 1000);
    f.seek(header + (frames - want) * 4);
    const QByteArray bytes = f.read(want * 4);
    std::vector<double> left;
    for (int i = 0; i + 3 < bytes.size(); i += 4)
        left.push_back(qint16(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8)));
    return left;
}

static double strength(const std::vector<double> &x, double hz) {  // Goertzel
    const double k = 2 * std::cos(2 * M_PI * hz / kRate);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s0 = v + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - k * s1 * s2)) / std::max<size_t>(1, x.size());
}

static double rms(const std::vector<double> &x) {
    return x.empty() ? 0 : std::sqrt(std::inner_product(x.begin(), x.end(), x.begin(), 0.0) / x.size());
}

static bool hearsTheTone(const QString &path, int header) {
    const std::vector<double> heard = newest(path, 1000, header);
    for (double other : {220.0, 330.0, 550.0, 660.0, 880.0, 1320.0})
        if (!(strength(heard, 440) > 10 * strength(heard, other)))
            return false;
    return rms(heard) > 1000;
}

class SoundTest : public QObject {
    Q_OBJECT

private slots:
    void speakersReachWhoAsksAndMuteSilencesThem() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY2(lan_.up(3), qPrintable(lan_.lan->errorString()));
        testsupport::SoundServer sound;
        QVERIFY2(sound.isUp(), qPrintable(sound.errorString()));
        const QString wav = lan_.dir.filePath("heard.wav"), played = lan_.dir.filePath("played.raw");
        // A tone on the speakers; what the player plays recorded as raw 16-bit stereo at 48 kHz.
        const QString tone = "audiotestsrc is-live=true volume=0.5 freq=440 ! pulsesink device=speakers";
        const QString record =
            "pulsesrc device=attendee.monitor ! audio/x-raw,format=S16LE,rate=48000,channels=2 "
            "! filesink sync=false buffer-mode=unbuffered location=";
        for (const QString &pipeline : {tone, record + played})
            sound.start("gst-launch-1.0", ("-q " + pipeline).split(' '));
        Member *host = lan_.start(1, "host",
                                  {"host", "--synthetic", "--size", "320x240", "--fps", "15", "--sound",
                                   "--no-web", "--no-discovery"},
                                  sound.environment() + QStringList{"HOME=" + lan_.dir.filePath("host")});
        QVERIFY2(says(host, "share started", kWaitMs) && !host->has("no sound to share"), host->tail());
        Member *ear = watch(2, "ear", {"--sound", wav}), *deaf = watch(3, "deaf");
        Member *player =
            watch(2, "player", {"--play"}, sound.environment() + QStringList{"PULSE_SINK=attendee"});
        QTRY_VERIFY2_WITH_TIMEOUT(ear->totalFrames() > 15 && ear->has("sound frames="), ear->tail(), kWaitMs);
        QTRY_VERIFY2_WITH_TIMEOUT(deaf->totalFrames() > 15, deaf->tail(), kWaitMs);
        QVERIFY(!deaf->has("sound frames="));
        // The first packets may still carry the decoder's start: a second after the first.
        QTRY_VERIFY_WITH_TIMEOUT(newest(wav, 1500).size() == size_t(kRate) * 3 / 2, kWaitMs);
        QVERIFY(hearsTheTone(wav, 44));
        QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(played, 500, 0)) > 1000, player->tail(), kWaitMs);
        QVERIFY2(hearsTheTone(played, 0), player->tail());
        for (auto [who, file, header] : {std::tuple(player, played, 0), std::tuple(host, wav, 44)}) {
            who->process->write("mute\n");
            QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(file, 200, header)) < 50, who->tail(), 5000);
            who->process->write("unmute\n");
            QTRY_VERIFY2_WITH_TIMEOUT(rms(newest(file, 200, header)) > 1000, who->tail(), 5000);
        }
        // An attendee that takes nothing more (stopped, then given up on by the host).
        Member *stalled = watch(3, "stalled", {"--sound", lan_.dir.filePath("stalled.wav")});
        QVERIFY2(says(stalled, "sound frames=", kWaitMs), stalled->tail());
        QCOMPARE(::kill(pid_t(stalled->process->processId()), SIGSTOP), 0);
        const qint64 before = QFileInfo(wav).size();
        QElapsedTimer stalledFor;
        stalledFor.start();
        while (stalledFor.elapsed() < 6000) {
            QTest::qWait(250);  // the sound is checked every quarter second
            QVERIFY2(rms(newest(wav, 200)) > 1000, qPrintable(QString::number(stalledFor.elapsed())));
        }
        const double heardMs = (QFileInfo(wav).size() - before) / 4.0 / kRate * 1000;
        QVERIFY2(heardMs > 0.8 * stalledFor.elapsed(), qPrintable(QString("%1 ms heard").arg(heardMs)));
        ::kill(pid_t(stalled->process->processId()), SIGKILL);
        QVERIFY2(!ear->has("stopped") && !deaf->has("stopped"), ear->tail() + deaf->tail());
    }

private:
    Member *watch(int host, const QString &name, const QStringList &extra = {}, const QStringList &env = {}) {
        return lan_.start(host, name, QStringList{"watch", lan_.address(1), "--nickname", name} + extra,
                          QStringList{"HOME=" + lan_.dir.filePath(name)} + env);
    }

    SessionLan lan_;
};

QTEST_GUILESS_MAIN(SoundTest)
#include "tst_sound.moc"
