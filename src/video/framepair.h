#pragma once

#include <memory>

#include "core/i420planes.h"
#include "video/videoframefactory.h"
#include "video/videoframeinterface.h"

class VideoWidgetInterface;

// The double buffer a session manager keeps per view: the frame the view was last given (current)
// and the one the next picture is written into (spare). A plain value (it lives in QHash tables);
// one thread at a time uses a pair, normally the engine's frame callback.
class FramePair {
public:
    // The whole per-picture step: fill the spare, swap, offer the current frame to view, swap back
    // when the view refuses, so that current is always what the view shows. Returns true when the
    // view took the new frame. Without a view the new frame simply becomes current. Refused planes
    // change nothing and return false.
    bool deliver(const I420Planes &planes, VideoWidgetInterface *view);
    bool deliver(const I420Planes &planes, VideoFrameKind kind, VideoWidgetInterface *view);

    // The two halves, for callers that must take a lock of their own between them.
    bool fillSpare(const I420Planes &planes, VideoFrameKind kind);
    bool swapAndOffer(VideoWidgetInterface *view);

    // Drops both frames (connection lost); a view still holding the current keeps it alive.
    void clear();

    const std::shared_ptr<VideoFrameInterface> &current() const { return current_; }
    const std::shared_ptr<VideoFrameInterface> &spare() const { return spare_; }

private:
    std::shared_ptr<VideoFrameInterface> current_;
    std::shared_ptr<VideoFrameInterface> spare_;
};
