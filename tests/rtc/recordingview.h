#pragma once

#include <QColor>
#include <QSize>
#include <atomic>
#include <memory>
#include <mutex>

#include "video/videowidgetinterface.h"

// A view for tests: counts the frames it takes and keeps the centre colours of the quadrants of
// the last one (painter frames only).
class RecordingView : public VideoWidgetInterface {
public:
    bool renderFrame(std::weak_ptr<VideoFrameInterface> frame) override;

    int frames() const { return m_frames.load(); }
    int clears() const { return m_clears.load(); }
    QSize size() const;
    QColor quadrant(int q) const;

private:
    mutable std::mutex m_lock;
    std::atomic<int> m_frames{0};
    std::atomic<int> m_clears{0};
    QSize m_size;
    QColor m_quadrants[4];
    std::shared_ptr<VideoFrameInterface> m_shown;
};
