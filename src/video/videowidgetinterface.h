#pragma once

#include <memory>

#include "video/videoframeinterface.h"

// What a session manager sees of a view.
class VideoWidgetInterface {
public:
    virtual ~VideoWidgetInterface();

    // Callable from any thread. Takes the frame when the view's frame lock is free and returns
    // true; returns false at once when a paint holds it. Never waits and never allocates. An
    // expired or empty reference, or a frame of the other kind, clears the view.
    virtual bool renderFrame(std::weak_ptr<VideoFrameInterface> frame) = 0;

    // Kept for the mobile screen page; the views themselves do not read them.
    bool isFullScreenMode() const { return fullScreenMode_; }
    void setFullScreenMode(bool on) { fullScreenMode_ = on; }
    bool isEnlargedMode() const { return enlargedMode_; }
    void setEnlargedMode(bool on) { enlargedMode_ = on; }

private:
    bool fullScreenMode_ = false;
    bool enlargedMode_ = false;
};
