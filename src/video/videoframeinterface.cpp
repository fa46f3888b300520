#include "video/videoframeinterface.h"

VideoFrameInterface::VideoFrameInterface(std::size_t size, uint32_t width, uint32_t height)
    : data_(new uint8_t[size]), width_(width), height_(height), size_(size) {}

VideoFrameInterface::~VideoFrameInterface() = default;

void VideoFrameInterface::registerMetaType() {
    qRegisterMetaType<std::shared_ptr<VideoFrameInterface>>("std::shared_ptr<VideoFrameInterface>");
}

namespace {
// Whoever uses frames links this file, so queued calls carrying frames work without a set-up call.
const bool g_metaTypeRegistered = (VideoFrameInterface::registerMetaType(), true);
}  // namespace
