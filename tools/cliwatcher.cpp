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

CliWatcher::CliWatcher(const Options &options) : options_(options) {
    sink_ = std::make_shared<CliFrameSink>(options_.framesDir.isEmpty() ? 0 : options_.saveEvery,
                                           options_.stamps);
    reportTimer_.setInterval(1000);
    connect(&reportTimer_, &QTimer::timeout, this, &CliWatcher::report);
    joinTimer_.setSingleShot(true);
    joinTimer_.setInterval(options_.joinTimeoutMs);
    connect(&joinTimer_, &QTimer::timeout, this, [this] {
        std::fprintf(stderr, "zushare-cli: no share answered at %s:%u within %d ms\n",
                     options_.host.toUtf8().constData(), unsigned(options_.port), options_.joinTimeoutMs);
        emit sigFinished(2);
    });
}

CliWatcher::~CliWatcher() {
    manager_.reset();
}

void CliWatcher::start() {
    startNs_ = CliFrameSink::monotonicNs();
    manager_ = RtcManager::create(0);
    attendee_ = static_cast<AttendeeRtcManager *>(manager_.get());
    manager_->setServerIp(options_.host);
    manager_->setServerPort(options_.port);
    manager_->setVideoWidget(sink_);
    manager_->signalingClient()->setNickName(options_.nickname);
    if (!options_.soundPath.isEmpty()) {
        if (!sound_.open(options_.soundPath)) {
            std::fprintf(stderr, "zushare-cli: cannot write %s\n", options_.soundPath.toUtf8().constData());
        }
        attendee_->setSoundSink([this](const int16_t *samples, int frames, int channels, int rate) {
            sound_.write(samples, frames, channels, rate);
            // The sink keeps to the clock: the first sample plays now.
            if (options_.stamps)
                beeps_.feed(samples, frames, channels, rate, CliFrameSink::monotonicNs());
        });
    }
    if (options_.play) {
        attendee_->setPlaysSound(true);
        lines_ = std::make_unique<StdinLines>();
        connect(lines_.get(), &StdinLines::line, this, &CliWatcher::onLine);
    }
    connect(manager_.get(), &RtcManager::sigRtcStarted, this, [this] {
        started_ = true;
        joinTimer_.stop();
        say(QStringLiteral("joined %1:%2 as %3")
                .arg(options_.host)
                .arg(options_.port)
                .arg(options_.nickname));
    });
    connect(manager_->signalingClient().get(), &SignalingClient::sigAdmissionWaiting, this,
            [] { say(QStringLiteral("waiting for the host to let you in")); });
    connect(manager_->signalingClient().get(), &SignalingClient::sigAdmitted, this,
            [] { say(QStringLiteral("let in")); });
    connect(manager_.get(), &RtcManager::sigRtcStartFailed, this, [this] {
        std::fprintf(stderr, "zushare-cli: cannot join the share at %s:%u\n",
                     options_.host.toUtf8().constData(), unsigned(options_.port));
        emit sigFinished(2);
    });
    connect(manager_.get(), &RtcManager::sigRtcStoped, this, [this] {
        report();
        say(QStringLiteral("stopped"));
        // The manager is let go of outside its own signal, and the engine is given a moment to
        // finish closing the peers before the process ends.
        QTimer::singleShot(0, this, [this] {
            attendee_ = nullptr;
            manager_.reset();
            QTimer::singleShot(kDrainMs, this, [this] { emit sigFinished(0); });
        });
    });
    connect(manager_.get(), &RtcManager::sigFileTransferBegin, this, [this](QString) {
        watchTransferor();
        say(QStringLiteral("receive begin"));
    });
    connect(manager_.get(), &RtcManager::sigFileTransferFail, this, [](QString path, QString error) {
        say(QStringLiteral("receive failed %1 %2").arg(path, error));
    });
    // Straight from the manager: a file can be complete before the next report looks for the
    // transferor.
    connect(attendee_, &AttendeeRtcManager::sigFileSaved, this,
            [](QString path) { say(QStringLiteral("file saved %1").arg(path)); });
    reportTimer_.start();
    joinTimer_.start();
    manager_->start();
}

void CliWatcher::onLine(const QByteArray &line) {
    bool ok = false;
    if (line == "mute" || line == "unmute") {
        muted_ = line == "mute";
    } else if (line.startsWith("volume ") && line.mid(7).toInt(&ok) >= 0 && ok &&
               line.mid(7).toInt() <= 100) {
        volume_ = line.mid(7).toInt();
    } else {
        return;
    }
    if (attendee_) {
        attendee_->setSoundVolume(volume_ / 100.0, muted_);
    }
    say(QStringLiteral("sound %1 volume %2").arg(muted_ ? "muted" : "on").arg(volume_));
}

void CliWatcher::stop() {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    if (!manager_ || !started_) {
        emit sigFinished(0);
        return;
    }
    manager_->stop();
    QTimer::singleShot(2000, this, [this] { emit sigFinished(0); });
}

void CliWatcher::watchTransferor() {
    if (transferorSeen_ || !attendee_) {
        return;
    }
    std::shared_ptr<FileTransferor> transferor = attendee_->fileTransferor();
    if (!transferor) {
        return;
    }
    transferorSeen_ = true;
    say(QStringLiteral("data channel open, saving into %1").arg(transferor->saveFolder()));
}

void CliWatcher::report() {
    watchTransferor();
    const CliFrameSink::Report r = sink_->takeReport();
    if (r.total > 0 && !firstFrame_) {
        firstFrame_ = true;
        say(QStringLiteral("first frame after %1 ms").arg((sink_->firstFrameNs() - startNs_) / 1000000));
        if (attendee_) {
            say(QStringLiteral("join steps (ms): %1").arg(attendee_->joinSteps()));
        }
    }
    const qint64 sound = sound_.framesWritten();
    if (sound > soundReported_) {
        say(QStringLiteral("sound frames=%1").arg(sound));
        soundReported_ = sound;
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
        if (options_.stamps) {
            latencies_ += r.latenciesMs;
            line += QStringLiteral(" latency_p50=%1 latency_p99=%2 latency_n=%3 latency_startup_max=%4")
                        .arg(percentile(latencies_, 0.5))
                        .arg(percentile(latencies_, 0.99))
                        .arg(latencies_.size())
                        .arg(r.startupLatencyMaxMs);
            // Each beep set beside the picture of the same second: positive, the sound comes later.
            const QVector<int> beeps = beeps_.takeLatenciesMs();
            if (!beeps.isEmpty() && !r.latenciesMs.isEmpty()) {
                const int picture = percentile(r.latenciesMs, 0.5);
                for (int beep : beeps)
                    avOffsets_.append(beep - picture);
            }
            if (!avOffsets_.isEmpty()) {
                QVector<int> spread;
                for (int offset : qAsConst(avOffsets_))
                    spread.append(std::abs(offset));
                line += QStringLiteral(" av_offset_p50=%1 av_offset_abs_p99=%2 av_offset_n=%3")
                            .arg(percentile(avOffsets_, 0.5))
                            .arg(percentile(spread, 0.99))
                            .arg(avOffsets_.size());
            }
        }
        say(line);
    }
    if (!options_.framesDir.isEmpty()) {
        QDir().mkpath(options_.framesDir);
        const auto saved = sink_->takeSaved();
        for (const auto &picture : saved) {
            const QString path =
                QDir(options_.framesDir)
                    .filePath(QStringLiteral("frame-%1.png").arg(picture.first, 6, 10, QLatin1Char('0')));
            if (picture.second.save(path, "PNG")) {
                say(QStringLiteral("saved frame %1").arg(path));
            } else {
                say(QStringLiteral("could not save frame %1").arg(path));
            }
        }
    }
}
