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
    bool isFullScreenMode() const { return m_fullScreenMode; }
    void setFullScreenMode(bool on) { m_fullScreenMode = on; }
    bool isEnlargedMode() const { return m_enlargedMode; }
    void setEnlargedMode(bool on) { m_enlargedMode = on; }

private:
    bool m_fullScreenMode = false;
    bool m_enlargedMode = false;
};
