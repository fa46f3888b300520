#pragma once

#include <memory>

#include "core/i420planes.h"
#include "video/videoframeinterface.h"

// width x height pixels of 4 bytes (B, G, R, A in memory, alpha 255), rows of width x 4 bytes:
// QImage::Format_ARGB32 on a little-endian machine, for the painter view.
class ARGBFrame : public VideoFrameInterface {
public:
    ARGBFrame(uint32_t width, uint32_t height);

    // Null for a zero or oversized width or height.
    static std::shared_ptr<ARGBFrame> create(uint32_t width, uint32_t height);

    uint32_t stride() const { return width() * 4; }

    bool matches(const I420Planes &planes) const;
    // Converts the planes, honouring each plane's pointer and stride; refuses (false, buffer
    // untouched) planes of another size.
    bool fill(const I420Planes &planes);
};
