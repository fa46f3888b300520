#include "video/argbframe.h"

#include <libyuv/convert_argb.h>

ARGBFrame::ARGBFrame(uint32_t width, uint32_t height)
    : VideoFrameInterface(std::size_t(width) * height * 4, width, height) {}

std::shared_ptr<ARGBFrame> ARGBFrame::create(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > uint32_t(I420Planes::kMaxSide) ||
        height > uint32_t(I420Planes::kMaxSide))
        return nullptr;
    return std::make_shared<ARGBFrame>(width, height);
}

bool ARGBFrame::matches(const I420Planes &planes) const {
    return planes.isValid() && uint32_t(planes.width) == width() && uint32_t(planes.height) == height();
}

bool ARGBFrame::fill(const I420Planes &planes) {
    if (!matches(planes))
        return false;
    return libyuv::I420ToARGB(planes.y, planes.strideY, planes.u, planes.strideU, planes.v, planes.strideV,
                              data(), int(stride()), planes.width, planes.height) == 0;
}
