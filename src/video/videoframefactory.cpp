#include "video/videoframefactory.h"

#include <atomic>

#include "core/logger.h"
#include "video/argbframe.h"
#include "video/openglhelper.h"
#include "video/yuvframe.h"

namespace {

// Frames arrive many times a second; one log line per process is enough to explain a blank view.
void logRefusal(const I420Planes &planes) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true) && g_logger)
        g_logger->warn("video frame refused: {}x{} strides {}/{}/{}", planes.width, planes.height,
                       planes.strideY, planes.strideU, planes.strideV);
}

}  // namespace

VideoFrameKind VideoFrameFactory::processKind() {
    return OpenGLHelper::isSupported() ? VideoFrameKind::YUV : VideoFrameKind::ARGB;
}

std::shared_ptr<VideoFrameInterface> VideoFrameFactory::create(const I420Planes &planes,
                                                               VideoFrameKind kind) {
    std::shared_ptr<VideoFrameInterface> frame;
    if (!fill(frame, planes, kind))
        return nullptr;
    return frame;
}

bool VideoFrameFactory::fill(std::shared_ptr<VideoFrameInterface> &slot, const I420Planes &planes,
                             VideoFrameKind kind) {
    if (!planes.isValid()) {
        logRefusal(planes);
        return false;
    }
    // A frame still held elsewhere (a view painting it) must not be written to.
    const bool exclusive = slot && slot.use_count() == 1;
    if (kind == VideoFrameKind::YUV) {
        auto *yuv = exclusive ? dynamic_cast<YUVFrame *>(slot.get()) : nullptr;
        if (!yuv || !yuv->matches(planes)) {
            auto fresh =
                YUVFrame::create(planes.strideY, planes.strideU, planes.strideV, planes.width, planes.height);
            if (!fresh)
                return false;
            yuv = fresh.get();
            slot = std::move(fresh);
        }
        return yuv->fill(planes);
    }
    auto *argb = exclusive ? dynamic_cast<ARGBFrame *>(slot.get()) : nullptr;
    if (!argb || !argb->matches(planes)) {
        auto fresh = ARGBFrame::create(planes.width, planes.height);
        if (!fresh)
            return false;
        argb = fresh.get();
        slot = std::move(fresh);
    }
    return argb->fill(planes);
}
