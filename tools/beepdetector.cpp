#include "beepdetector.h"

#include <cstdlib>

void BeepDetector::feed(const int16_t *samples, int frames, int channels, int rate, int64_t firstSampleNs) {
    if (channels <= 0 || rate <= 0)
        return;
    std::lock_guard<std::mutex> lock(lock_);
    for (int i = 0; i < frames; ++i) {
        if (std::abs(int(samples[size_t(i) * channels])) < kLoud)
            continue;
        const int64_t at = firstSampleNs + int64_t(i) * 1000000000 / rate;
        // The beep starts on a whole second; a latency of a second or more would read as less.
        if (at - lastLoudNs_ > kQuietNs)
            latenciesMs_.append(int((at % 1000000000) / 1000000));
        lastLoudNs_ = at;
    }
}

QVector<int> BeepDetector::takeLatenciesMs() {
    std::lock_guard<std::mutex> lock(lock_);
    QVector<int> out;
    out.swap(latenciesMs_);
    return out;
}
