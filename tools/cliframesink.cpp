#include "cliframesink.h"

#include <time.h>
#include <algorithm>

#include "video/argbframe.h"

namespace {

CliFrameSink::Rgb pixelAt(const VideoFrameInterface &frame, int x, int y) {
    const uint8_t *p = frame.data() + (size_t(y) * frame.width() + size_t(x)) * 4;
    return CliFrameSink::Rgb{p[2], p[1], p[0]};
}

}  // namespace

CliFrameSink::CliFrameSink(int saveEvery, bool readStamps) : saveEvery_(saveEvery), readStamps_(readStamps) {}

int64_t CliFrameSink::monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint32_t CliFrameSink::nowStampMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return uint32_t(ms & ((1u << kStampBits) - 1));
}

bool CliFrameSink::renderFrame(std::weak_ptr<VideoFrameInterface> frame) {
    std::unique_lock<std::mutex> lock(lock_, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    std::shared_ptr<VideoFrameInterface> picture = frame.lock();
    // Only the painter's frames are read here; the headless tool never enables OpenGL.
    if (!picture || !dynamic_cast<ARGBFrame *>(picture.get())) {
        shown_.reset();
        report_.cleared = true;
        return true;
    }
    shown_ = picture;
    if (firstFrameNs_.load() == 0) {
        firstFrameNs_ = monotonicNs();
    }
    const int w = int(picture->width());
    const int h = int(picture->height());
    ++report_.frames;
    ++report_.total;
    report_.size = QSize(w, h);
    report_.cleared = false;
    const int xs[4] = {w / 4, w * 3 / 4, w / 4, w * 3 / 4};
    const int ys[4] = {h / 4, h / 4, h * 3 / 4, h * 3 / 4};
    for (int q = 0; q < 4; ++q) {
        report_.quadrants[q] = pixelAt(*picture, xs[q], ys[q]);
    }
    if (readStamps_ && w >= kStampBits * kStampBlock && h >= 8 * kStampBlock) {
        uint32_t stamp = 0;
        const int y = stampTop(h) + kStampBlock / 2;
        for (int bit = 0; bit < kStampBits; ++bit) {
            const Rgb c = pixelAt(*picture, bit * kStampBlock + kStampBlock / 2, y);
            if (c.r + c.g + c.b > 3 * 128) {
                stamp |= 1u << bit;
            }
        }
        const uint32_t mask = (1u << kStampBits) - 1;
        const int latency = int((nowStampMs() - stamp) & mask);
        // A picture without a readable stamp gives a wrapped, absurd figure; those are left out. The
        // first second is the start-up: the decoder's first frames come out one after another, each
        // later than the last, and are counted apart.
        if (latency < 60000) {
            if (monotonicNs() - firstFrameNs_.load() < kStartupNs) {
                report_.startupLatencyMaxMs = std::max(report_.startupLatencyMaxMs, latency);
            } else {
                report_.latenciesMs.append(latency);
            }
        }
    }
    if (saveEvery_ > 0 && report_.total % saveEvery_ == 1 % saveEvery_ && saved_.size() < 8) {
        QImage image(picture->data(), w, h, int(picture->width() * 4), QImage::Format_ARGB32);
        saved_.append(qMakePair(report_.total, image.copy()));
    }
    return true;
}

CliFrameSink::Report CliFrameSink::takeReport() {
    std::lock_guard<std::mutex> lock(lock_);
    Report out = report_;
    report_.frames = 0;
    report_.latenciesMs.clear();
    return out;
}

QVector<QPair<qint64, QImage>> CliFrameSink::takeSaved() {
    std::lock_guard<std::mutex> lock(lock_);
    QVector<QPair<qint64, QImage>> out;
    out.swap(saved_);
    return out;
}
