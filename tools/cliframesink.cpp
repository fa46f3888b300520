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

CliFrameSink::CliFrameSink(int saveEvery, bool readStamps)
    : m_saveEvery(saveEvery), m_readStamps(readStamps) {}

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
    std::unique_lock<std::mutex> lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    std::shared_ptr<VideoFrameInterface> picture = frame.lock();
    // Only the painter's frames are read here; the headless tool never enables OpenGL.
    if (!picture || !dynamic_cast<ARGBFrame *>(picture.get())) {
        m_shown.reset();
        m_report.cleared = true;
        return true;
    }
    m_shown = picture;
    if (m_firstFrameNs.load() == 0) {
        m_firstFrameNs = monotonicNs();
    }
    const int w = int(picture->width());
    const int h = int(picture->height());
    ++m_report.frames;
    ++m_report.total;
    m_report.size = QSize(w, h);
    m_report.cleared = false;
    const int xs[4] = {w / 4, w * 3 / 4, w / 4, w * 3 / 4};
    const int ys[4] = {h / 4, h / 4, h * 3 / 4, h * 3 / 4};
    for (int q = 0; q < 4; ++q) {
        m_report.quadrants[q] = pixelAt(*picture, xs[q], ys[q]);
    }
    if (m_readStamps && w >= kStampBits * kStampBlock && h >= 8 * kStampBlock) {
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
            if (monotonicNs() - m_firstFrameNs.load() < kStartupNs) {
                m_report.startupLatencyMaxMs = std::max(m_report.startupLatencyMaxMs, latency);
            } else {
                m_report.latenciesMs.append(latency);
            }
        }
    }
    if (m_saveEvery > 0 && m_report.total % m_saveEvery == 1 % m_saveEvery && m_saved.size() < 8) {
        QImage image(picture->data(), w, h, int(picture->width() * 4), QImage::Format_ARGB32);
        m_saved.append(qMakePair(m_report.total, image.copy()));
    }
    return true;
}

CliFrameSink::Report CliFrameSink::takeReport() {
    std::lock_guard<std::mutex> lock(m_lock);
    Report out = m_report;
    m_report.frames = 0;
    m_report.latenciesMs.clear();
    return out;
}

QVector<QPair<qint64, QImage>> CliFrameSink::takeSaved() {
    std::lock_guard<std::mutex> lock(m_lock);
    QVector<QPair<qint64, QImage>> out;
    out.swap(m_saved);
    return out;
}
