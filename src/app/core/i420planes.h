#pragma once

#include <cstdint>

// One I420 picture, as the engine delivers it to a view and as the capturer pushes it into the engine:
// three plane pointers with their strides. The planes hold height rows (Y) and (height + 1) / 2 rows
// (U, V) of their stride each, and are only read.
struct I420Planes {
    const uint8_t *y = nullptr;
    const uint8_t *u = nullptr;
    const uint8_t *v = nullptr;
    int strideY = 0;
    int strideU = 0;
    int strideV = 0;
    int width = 0;
    int height = 0;

    // Largest side accepted; keeps every buffer size far inside 32-bit arithmetic.
    static constexpr int kMaxSide = 16384;

    // The planes as the engine's frame callbacks hand them over, argument for argument.
    static I420Planes of(const uint8_t *y, const uint8_t *u, const uint8_t *v, int strideY, int strideU,
                         int strideV, int width, int height) {
        I420Planes planes;
        planes.y = y;
        planes.u = u;
        planes.v = v;
        planes.strideY = strideY;
        planes.strideU = strideU;
        planes.strideV = strideV;
        planes.width = width;
        planes.height = height;
        return planes;
    }

    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return (height + 1) / 2; }

    // Non-null planes, a size of at least 1x1 and at most kMaxSide, and strides that hold a row.
    bool isValid() const {
        return y && u && v && width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
               strideY >= width && strideU >= chromaWidth() && strideV >= chromaWidth() &&
               strideY <= 4 * kMaxSide && strideU <= 4 * kMaxSide && strideV <= 4 * kMaxSide;
    }
};
