#pragma once

#include <cstdint>

namespace zuengine {

// A captured picture in 32-bit BGRX byte order (libyuv calls it "ARGB"), owned by whoever
// captured it and valid until its next capture.
struct ScreenImage {
    uint8_t *data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row

    bool isEmpty() const { return data == nullptr || width <= 0 || height <= 0; }
};

}  // namespace zuengine
