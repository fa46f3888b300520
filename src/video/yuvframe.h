#pragma once

#include <memory>

#include "core/i420planes.h"
#include "video/videoframeinterface.h"

// Three I420 planes back to back: Y (height rows of yStride), then U and V ((height + 1) / 2 rows
// of their own stride each), for the shader view.
class YUVFrame : public VideoFrameInterface {
public:
    YUVFrame(uint32_t yStride, uint32_t uStride, uint32_t vStride, uint32_t width, uint32_t height);

    // Null when the geometry is not a valid I420 layout (see I420Planes::isValid).
    static std::shared_ptr<YUVFrame> create(uint32_t yStride, uint32_t uStride, uint32_t vStride,
                                            uint32_t width, uint32_t height);
    static std::size_t bufferSize(uint32_t yStride, uint32_t uStride, uint32_t vStride, uint32_t height);

    uint32_t yStride() const { return yStride_; }
    uint32_t uStride() const { return uStride_; }
    uint32_t vStride() const { return vStride_; }
    uint32_t chromaHeight() const { return (height() + 1) / 2; }

    const uint8_t *planeY() const { return data(); }
    const uint8_t *planeU() const { return data() + std::size_t(yStride_) * height(); }
    const uint8_t *planeV() const { return planeU() + std::size_t(uStride_) * chromaHeight(); }

    // True when planes can be copied in as they are: same size and the same three strides.
    bool matches(const I420Planes &planes) const;
    // Copies the three planes; refuses (false, buffer untouched) planes that do not match.
    bool fill(const I420Planes &planes);

private:
    uint32_t yStride_;
    uint32_t uStride_;
    uint32_t vStride_;
};
