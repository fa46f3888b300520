#pragma once

#include <cstdint>
#include <vector>

#include "rtc/gst/videofeed.h"

namespace zuengine {

// An owned I420 picture with its three planes back to back; chroma planes have (height + 1) / 2
// rows of (width + 1) / 2 bytes, so odd sizes are fine.
class ScreenFrame {
public:
    ScreenFrame() = default;
    ScreenFrame(int width, int height) { resize(width, height); }

    // Keeps the contents only when the size stays the same.
    void resize(int width, int height);
    void fillBlack();

    int width() const { return width_; }
    int height() const { return height_; }
    int strideY() const { return width_; }
    int strideUV() const { return (width_ + 1) / 2; }
    int chromaRows() const { return (height_ + 1) / 2; }
    std::size_t byteSize() const { return buffer_.size(); }

    uint8_t *y() { return buffer_.data(); }
    uint8_t *u() { return buffer_.data() + static_cast<std::size_t>(strideY()) * height_; }
    uint8_t *v() { return u() + static_cast<std::size_t>(strideUV()) * chromaRows(); }
    const uint8_t *y() const { return buffer_.data(); }
    const uint8_t *u() const { return buffer_.data() + static_cast<std::size_t>(strideY()) * height_; }
    const uint8_t *v() const { return u() + static_cast<std::size_t>(strideUV()) * chromaRows(); }

    I420Planes view() const;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace zuengine
