#include "recordingview.h"

#include "video/argbframe.h"

bool RecordingView::renderFrame(std::weak_ptr<VideoFrameInterface> frame) {
    std::unique_lock<std::mutex> lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    m_shown = frame.lock();
    if (!m_shown || !dynamic_cast<ARGBFrame *>(m_shown.get())) {
        m_shown.reset();
        ++m_clears;
        return true;
    }
    const int w = int(m_shown->width()), h = int(m_shown->height());
    m_size = QSize(w, h);
    const int xs[4] = {w / 4, w * 3 / 4, w / 4, w * 3 / 4};
    const int ys[4] = {h / 4, h / 4, h * 3 / 4, h * 3 / 4};
    for (int q = 0; q < 4; ++q) {
        const uint8_t *p = m_shown->data() + (size_t(ys[q]) * size_t(w) + size_t(xs[q])) * 4;
        m_quadrants[q] = QColor(p[2], p[1], p[0]);
    }
    ++m_frames;
    return true;
}

QSize RecordingView::size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_size;
}

QColor RecordingView::quadrant(int q) const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_quadrants[q & 3];
}
