#include "video/yuvframe.h"

#include <algorithm>
#include <cstring>

YUVFrame::YUVFrame(uint32_t yStride, uint32_t uStride, uint32_t vStride, uint32_t width, uint32_t height)
    : VideoFrameInterface(bufferSize(yStride, uStride, vStride, height), width, height),
      yStride_(yStride),
      uStride_(uStride),
      vStride_(vStride) {}

std::size_t YUVFrame::bufferSize(uint32_t yStride, uint32_t uStride, uint32_t vStride, uint32_t height) {
    return std::size_t(height) * yStride + std::size_t((height + 1) / 2) * (std::size_t(uStride) + vStride);
}

std::shared_ptr<YUVFrame> YUVFrame::create(uint32_t yStride, uint32_t uStride, uint32_t vStride,
                                           uint32_t width, uint32_t height) {
    I420Planes geometry;
    geometry.y = geometry.u = geometry.v = reinterpret_cast<const uint8_t *>(1);
    geometry.width = int(std::min<uint32_t>(width, I420Planes::kMaxSide + 1));
    geometry.height = int(std::min<uint32_t>(height, I420Planes::kMaxSide + 1));
    geometry.strideY = int(std::min<uint32_t>(yStride, 4 * I420Planes::kMaxSide + 1));
    geometry.strideU = int(std::min<uint32_t>(uStride, 4 * I420Planes::kMaxSide + 1));
    geometry.strideV = int(std::min<uint32_t>(vStride, 4 * I420Planes::kMaxSide + 1));
    if (!geometry.isValid())
        return nullptr;
    return std::make_shared<YUVFrame>(yStride, uStride, vStride, width, height);
}

bool YUVFrame::matches(const I420Planes &planes) const {
    return planes.isValid() && uint32_t(planes.width) == width() && uint32_t(planes.height) == height() &&
           uint32_t(planes.strideY) == yStride_ && uint32_t(planes.strideU) == uStride_ &&
           uint32_t(planes.strideV) == vStride_;
}

bool YUVFrame::fill(const I420Planes &planes) {
    if (!matches(planes))
        return false;
    const std::size_t ySize = std::size_t(yStride_) * height();
    const std::size_t uSize = std::size_t(uStride_) * chromaHeight();
    const std::size_t vSize = std::size_t(vStride_) * chromaHeight();
    uint8_t *out = data();
    std::memcpy(out, planes.y, ySize);
    std::memcpy(out + ySize, planes.u, uSize);
    std::memcpy(out + ySize + uSize, planes.v, vSize);
    return true;
}
