#include "rtc/gst/screenframe.h"

#include <cstring>

namespace zuengine {

void ScreenFrame::resize(int width, int height) {
    if (width == width_ && height == height_)
        return;
    width_ = width > 0 ? width : 0;
    height_ = height > 0 ? height : 0;
    buffer_.assign(static_cast<std::size_t>(strideY()) * height_ +
                       2 * static_cast<std::size_t>(strideUV()) * chromaRows(),
                   0);
}

void ScreenFrame::fillBlack() {
    // Limited-range black, the range libyuv's RGB conversions produce.
    const std::size_t lumaBytes = static_cast<std::size_t>(strideY()) * height_;
    std::memset(buffer_.data(), 16, lumaBytes);
    std::memset(buffer_.data() + lumaBytes, 128, buffer_.size() - lumaBytes);
}

I420Planes ScreenFrame::view() const {
    I420Planes view;
    view.y = y();
    view.u = u();
    view.v = v();
    view.strideY = strideY();
    view.strideU = strideUV();
    view.strideV = strideUV();
    view.width = width_;
    view.height = height_;
    return view;
}

}  // namespace zuengine
