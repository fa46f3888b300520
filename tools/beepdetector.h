#pragma once

#include <QVector>
#include <cstdint>
#include <mutex>

// Finds where a beeping host's beeps begin in the sound as it is played, and how long after their
// second of CLOCK_MONOTONIC that is: the sound's capture-to-play latency, to set beside the picture's.
class BeepDetector {
public:
    // Engine thread: samples that play from firstSampleNs (CLOCK_MONOTONIC) on.
    void feed(const int16_t *samples, int frames, int channels, int rate, int64_t firstSampleNs);
    // The latencies of the beeps found since the last call, in ms.
    QVector<int> takeLatenciesMs();

private:
    static constexpr int kLoud = 2000;                        // of 32767: the beep is at half scale
    static constexpr int64_t kQuietNs = 300LL * 1000 * 1000;  // silence that comes before a beep

    std::mutex lock_;
    int64_t lastLoudNs_ = 0;
    QVector<int> latenciesMs_;
};
