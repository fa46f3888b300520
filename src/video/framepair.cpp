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
    return VideoFrameFactory::fill(spare_, planes, kind);
}

bool FramePair::swapAndOffer(VideoWidgetInterface *view) {
    std::swap(spare_, current_);
    if (!view)
        return false;
    if (view->renderFrame(current_))
        return true;
    std::swap(spare_, current_);
    return false;
}

void FramePair::clear() {
    current_.reset();
    spare_.reset();
}
