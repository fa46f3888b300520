#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>
#include <memory>

#include "beepdetector.h"
#include "wavwriter.h"

class AttendeeRtcManager;
class CliFrameSink;
class RtcManager;
class StdinLines;

// `zushare-cli watch`: joins a share, prints the frame rate and size once a second, saves every
// Nth frame as PNG and receives files into the download folder.
class CliWatcher : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString host;
        quint16 port = 5678;
        QString nickname;
        QString framesDir;
        int saveEvery = 30;
        bool stamps = false;
        int joinTimeoutMs = 5000;
        // Where the host's sound goes (a WAV file); empty: the offer asks for none.
        QString soundPath;
        // The host's sound plays on the default output; "mute", "unmute" and "volume N" (0 to
        // 100) lines on standard input set it.
        bool play = false;
    };

    explicit CliWatcher(const Options &options);
    ~CliWatcher() override;

    void start();
    void stop();

signals:
    void sigFinished(int code);

private:
    static constexpr int kDrainMs = 300;
    void report();
    void watchTransferor();

    Options m_options;
    std::unique_ptr<RtcManager> m_manager;
    AttendeeRtcManager *m_attendee = nullptr;
    std::shared_ptr<CliFrameSink> m_sink;
    void onLine(const QByteArray &line);

    WavWriter m_sound;
    std::unique_ptr<StdinLines> m_lines;
    int m_volume = 100;
    bool m_muted = false;
    BeepDetector m_beeps;
    QVector<int> m_avOffsets;
    qint64 m_soundReported = 0;
    QTimer m_reportTimer;
    QTimer m_joinTimer;
    bool m_started = false;
    bool m_stopping = false;
    bool m_transferorSeen = false;
    bool m_firstFrame = false;
    qint64 m_startNs = 0;
    QVector<int> m_latencies;
};
