#include "cliwatcher.h"

#include <QDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cliframesink.h"
#include "rtc/attendeertcmanager.h"
#include "signaling/signalingclient.h"
#include "stdinlines.h"
#include "transfer/filetransferor.h"

namespace {

void say(const QString &line) {
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

int percentile(QVector<int> values, double p) {
    if (values.isEmpty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    const int index = std::min(int(values.size()) - 1, int(p * double(values.size())));
    return values[index];
}

}  // namespace

CliWatcher::CliWatcher(const Options &options) : m_options(options) {
    m_sink = std::make_shared<CliFrameSink>(m_options.framesDir.isEmpty() ? 0 : m_options.saveEvery,
                                            m_options.stamps);
    m_reportTimer.setInterval(1000);
    connect(&m_reportTimer, &QTimer::timeout, this, &CliWatcher::report);
    m_joinTimer.setSingleShot(true);
    m_joinTimer.setInterval(m_options.joinTimeoutMs);
    connect(&m_joinTimer, &QTimer::timeout, this, [this] {
        std::fprintf(stderr, "zushare-cli: no share answered at %s:%u within %d ms\n",
                     m_options.host.toUtf8().constData(), unsigned(m_options.port), m_options.joinTimeoutMs);
        emit sigFinished(2);
    });
}

CliWatcher::~CliWatcher() {
    m_manager.reset();
}

void CliWatcher::start() {
    m_startNs = CliFrameSink::monotonicNs();
    m_manager = RtcManager::create(0);
    m_attendee = static_cast<AttendeeRtcManager *>(m_manager.get());
    m_manager->setServerIp(m_options.host);
    m_manager->setServerPort(m_options.port);
    m_manager->setVideoWidget(m_sink);
    m_manager->signalingClient()->setNickName(m_options.nickname);
    if (!m_options.soundPath.isEmpty()) {
        if (!m_sound.open(m_options.soundPath)) {
            std::fprintf(stderr, "zushare-cli: cannot write %s\n", m_options.soundPath.toUtf8().constData());
        }
        m_attendee->setSoundSink([this](const int16_t *samples, int frames, int channels, int rate) {
            m_sound.write(samples, frames, channels, rate);
            // The sink keeps to the clock: the first sample plays now.
            if (m_options.stamps)
                m_beeps.feed(samples, frames, channels, rate, CliFrameSink::monotonicNs());
        });
    }
    if (m_options.play) {
        m_attendee->setPlaysSound(true);
        m_lines = std::make_unique<StdinLines>();
        connect(m_lines.get(), &StdinLines::line, this, &CliWatcher::onLine);
    }
    connect(m_manager.get(), &RtcManager::sigRtcStarted, this, [this] {
        m_started = true;
        m_joinTimer.stop();
        say(QStringLiteral("joined %1:%2 as %3")
                .arg(m_options.host)
                .arg(m_options.port)
                .arg(m_options.nickname));
    });
    connect(m_manager->signalingClient().get(), &SignalingClient::sigAdmissionWaiting, this,
            [] { say(QStringLiteral("waiting for the host to let you in")); });
    connect(m_manager->signalingClient().get(), &SignalingClient::sigAdmitted, this,
            [] { say(QStringLiteral("let in")); });
    connect(m_manager.get(), &RtcManager::sigRtcStartFailed, this, [this] {
        std::fprintf(stderr, "zushare-cli: cannot join the share at %s:%u\n",
                     m_options.host.toUtf8().constData(), unsigned(m_options.port));
        emit sigFinished(2);
    });
    connect(m_manager.get(), &RtcManager::sigRtcStoped, this, [this] {
        report();
        say(QStringLiteral("stopped"));
        // The manager is let go of outside its own signal, and the engine is given a moment to
        // finish closing the peers before the process ends.
        QTimer::singleShot(0, this, [this] {
            m_attendee = nullptr;
            m_manager.reset();
            QTimer::singleShot(kDrainMs, this, [this] { emit sigFinished(0); });
        });
    });
    connect(m_manager.get(), &RtcManager::sigFileTransferBegin, this, [this](QString) {
        watchTransferor();
        say(QStringLiteral("receive begin"));
    });
    connect(m_manager.get(), &RtcManager::sigFileTransferFail, this, [](QString path, QString error) {
        say(QStringLiteral("receive failed %1 %2").arg(path, error));
    });
    // Straight from the manager: a file can be complete before the next report looks for the
    // transferor.
    connect(m_attendee, &AttendeeRtcManager::sigFileSaved, this,
            [](QString path) { say(QStringLiteral("file saved %1").arg(path)); });
    m_reportTimer.start();
    m_joinTimer.start();
    m_manager->start();
}

void CliWatcher::onLine(const QByteArray &line) {
    bool ok = false;
    if (line == "mute" || line == "unmute") {
        m_muted = line == "mute";
    } else if (line.startsWith("volume ") && line.mid(7).toInt(&ok) >= 0 && ok &&
               line.mid(7).toInt() <= 100) {
        m_volume = line.mid(7).toInt();
    } else {
        return;
    }
    if (m_attendee) {
        m_attendee->setSoundVolume(m_volume / 100.0, m_muted);
    }
    say(QStringLiteral("sound %1 volume %2").arg(m_muted ? "muted" : "on").arg(m_volume));
}

void CliWatcher::stop() {
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    if (!m_manager || !m_started) {
        emit sigFinished(0);
        return;
    }
    m_manager->stop();
    QTimer::singleShot(2000, this, [this] { emit sigFinished(0); });
}

void CliWatcher::watchTransferor() {
    if (m_transferorSeen || !m_attendee) {
        return;
    }
    std::shared_ptr<FileTransferor> transferor = m_attendee->fileTransferor();
    if (!transferor) {
        return;
    }
    m_transferorSeen = true;
    say(QStringLiteral("data channel open, saving into %1").arg(transferor->saveFolder()));
}

void CliWatcher::report() {
    watchTransferor();
    const CliFrameSink::Report r = m_sink->takeReport();
    if (r.total > 0 && !m_firstFrame) {
        m_firstFrame = true;
        say(QStringLiteral("first frame after %1 ms").arg((m_sink->firstFrameNs() - m_startNs) / 1000000));
        if (m_attendee) {
            say(QStringLiteral("join steps (ms): %1").arg(m_attendee->joinSteps()));
        }
    }
    const qint64 sound = m_sound.framesWritten();
    if (sound > m_soundReported) {
        say(QStringLiteral("sound frames=%1").arg(sound));
        m_soundReported = sound;
    }
    if (r.total > 0) {
        QString line = QStringLiteral("frames fps=%1 size=%2x%3 total=%4")
                           .arg(r.frames)
                           .arg(r.size.width())
                           .arg(r.size.height())
                           .arg(r.total);
        for (int q = 0; q < 4; ++q) {
            line += QStringLiteral(" q%1=%2,%3,%4")
                        .arg(q)
                        .arg(r.quadrants[q].r)
                        .arg(r.quadrants[q].g)
                        .arg(r.quadrants[q].b);
        }
        if (r.cleared) {
            line += QStringLiteral(" cleared");
        }
        if (m_options.stamps) {
            m_latencies += r.latenciesMs;
            line += QStringLiteral(" latency_p50=%1 latency_p99=%2 latency_n=%3 latency_startup_max=%4")
                        .arg(percentile(m_latencies, 0.5))
                        .arg(percentile(m_latencies, 0.99))
                        .arg(m_latencies.size())
                        .arg(r.startupLatencyMaxMs);
            // Each beep set beside the picture of the same second: positive, the sound comes later.
            const QVector<int> beeps = m_beeps.takeLatenciesMs();
            if (!beeps.isEmpty() && !r.latenciesMs.isEmpty()) {
                const int picture = percentile(r.latenciesMs, 0.5);
                for (int beep : beeps)
                    m_avOffsets.append(beep - picture);
            }
            if (!m_avOffsets.isEmpty()) {
                QVector<int> spread;
                for (int offset : m_avOffsets)
                    spread.append(std::abs(offset));
                line += QStringLiteral(" av_offset_p50=%1 av_offset_abs_p99=%2 av_offset_n=%3")
                            .arg(percentile(m_avOffsets, 0.5))
                            .arg(percentile(spread, 0.99))
                            .arg(m_avOffsets.size());
            }
        }
        say(line);
    }
    if (!m_options.framesDir.isEmpty()) {
        QDir().mkpath(m_options.framesDir);
        for (const auto &saved : m_sink->takeSaved()) {
            const QString path =
                QDir(m_options.framesDir)
                    .filePath(QStringLiteral("frame-%1.png").arg(saved.first, 6, 10, QLatin1Char('0')));
            if (saved.second.save(path, "PNG")) {
                say(QStringLiteral("saved frame %1").arg(path));
            } else {
                say(QStringLiteral("could not save frame %1").arg(path));
            }
        }
    }
}
