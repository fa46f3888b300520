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

    Options options_;
    std::unique_ptr<RtcManager> manager_;
    AttendeeRtcManager *attendee_ = nullptr;
    std::shared_ptr<CliFrameSink> sink_;
    void onLine(const QByteArray &line);

    WavWriter sound_;
    std::unique_ptr<StdinLines> lines_;
    int volume_ = 100;
    bool muted_ = false;
    BeepDetector beeps_;
    QVector<int> avOffsets_;
    qint64 soundReported_ = 0;
    QTimer reportTimer_;
    QTimer joinTimer_;
    bool started_ = false;
    bool stopping_ = false;
    bool transferorSeen_ = false;
    bool firstFrame_ = false;
    qint64 startNs_ = 0;
    QVector<int> latencies_;
};
