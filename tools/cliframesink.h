#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QVector>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "video/videowidgetinterface.h"

// The headless attendee's view: counts the frames it is given, samples a few pixels, reads the
// source's time stamp when asked to, and keeps every Nth frame for saving. renderFrame never waits
// for long and never does file work; the owner collects what it gathered once a second.
class CliFrameSink : public VideoWidgetInterface {
public:
    struct Rgb {
        int r = 0, g = 0, b = 0;
    };
    struct Report {
        int frames = 0;  // since the last report
        qint64 total = 0;
        QSize size;
        Rgb quadrants[4];  // centres of the four quadrants of the last frame
        bool cleared = false;
        QVector<int> latenciesMs;     // since the last report, when stamps are read, after the start-up
        int startupLatencyMaxMs = 0;  // the worst of the start-up's frames
    };

    explicit CliFrameSink(int saveEvery = 0, bool readStamps = false);

    bool renderFrame(std::weak_ptr<VideoFrameInterface> frame) override;

    Report takeReport();
    // The frames kept for saving since the last call, in order, with their frame numbers.
    QVector<QPair<qint64, QImage>> takeSaved();

    // The stamp layout the pattern and the reader agree on: kStampBits blocks of kStampBlock
    // pixels from the left edge of the middle band, one bit each (white 1), holding the low bits
    // of CLOCK_MONOTONIC in milliseconds.
    static constexpr int kStampBits = 24;
    static constexpr int64_t kStartupNs = 1000LL * 1000 * 1000;
    static constexpr int kStampBlock = 24;
    static int stampTop(int height) { return height * 3 / 8 + kStampBlock; }
    static uint32_t nowStampMs();
    // CLOCK_MONOTONIC in nanoseconds, and when the first frame came (0 before).
    static int64_t monotonicNs();
    int64_t firstFrameNs() const { return firstFrameNs_.load(); }

private:
    const int saveEvery_;
    const bool readStamps_;
    std::mutex lock_;
    Report report_;
    QVector<QPair<qint64, QImage>> saved_;
    std::shared_ptr<VideoFrameInterface> shown_;
    std::atomic<int64_t> firstFrameNs_{0};
};
