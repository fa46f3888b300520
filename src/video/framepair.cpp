#include "video/framepair.h"

#include <utility>

#include "video/videowidgetinterface.h"

bool FramePair::deliver(const I420Planes &planes, VideoWidgetInterface *view) {
    return deliver(planes, VideoFrameFactory::processKind(), view);
}

bool FramePair::deliver(const I420Planes &planes, VideoFrameKind kind, VideoWidgetInterface *view) {
    if (!fillSpare(planes, kind))
        return false;
    return swapAndOffer(view);
}

bool FramePair::fillSpare(const I420Planes &planes, VideoFrameKind kind) {
    return VideoFrameFactory::fill(m_spare, planes, kind);
}

bool FramePair::swapAndOffer(VideoWidgetInterface *view) {
    std::swap(m_spare, m_current);
    if (!view)
        return false;
    if (view->renderFrame(m_current))
        return true;
    std::swap(m_spare, m_current);
    return false;
}

void FramePair::clear() {
    m_current.reset();
    m_spare.reset();
}
