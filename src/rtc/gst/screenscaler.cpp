#include "rtc/gst/screenscaler.h"

#include <algorithm>
#include <cmath>

#include <libyuv/convert.h>
#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>

namespace zuengine {

void ScreenScaler::thumbnailSize(int width, int height, int maxWidth, int maxHeight, int &outWidth,
                                 int &outHeight) {
    outWidth = 0;
    outHeight = 0;
    if (width <= 0 || height <= 0)
        return;
    const double scale = std::min({1.0, double(maxWidth) / width, double(maxHeight) / height});
    outWidth = std::clamp(int(std::lround(width * scale)), 1, maxWidth);
    outHeight = std::clamp(int(std::lround(height * scale)), 1, maxHeight);
}

ScreenScaler::Rect ScreenScaler::fitRect(int width, int height, int canvasWidth, int canvasHeight) {
    Rect rect;
    if (width <= 0 || height <= 0 || canvasWidth < 2 || canvasHeight < 2)
        return rect;
    int w = width & ~1;
    int h = height & ~1;
    if (w > canvasWidth || h > canvasHeight || w < 2 || h < 2 ||
        (width < canvasWidth && height < canvasHeight)) {
        const double scale = std::min(double(canvasWidth) / width, double(canvasHeight) / height);
        w = std::clamp(int(std::lround(width * scale)) & ~1, 2, canvasWidth);
        h = std::clamp(int(std::lround(height * scale)) & ~1, 2, canvasHeight);
    }
    rect.width = w;
    rect.height = h;
    rect.x = ((canvasWidth - w) / 2) & ~1;
    rect.y = ((canvasHeight - h) / 2) & ~1;
    return rect;
}

void ScreenScaler::toThumbnail(const ScreenImage &image, ScreenFrame &thumbnail) {
    int w = 0;
    int h = 0;
    thumbnailSize(image.width, image.height, kThumbnailWidth, kThumbnailHeight, w, h);
    thumbnail.resize(w, h);
    if (image.isEmpty())
        return;
    const uint8_t *src = image.data;
    int srcStride = image.stride;
    if (w != image.width || h != image.height) {
        scaledBgra_.resize(static_cast<std::size_t>(w) * h * 4);
        libyuv::ARGBScale(image.data, image.stride, image.width, image.height, scaledBgra_.data(), w * 4, w,
                          h, libyuv::kFilterBox);
        src = scaledBgra_.data();
        srcStride = w * 4;
    }
    libyuv::ARGBToI420(src, srcStride, thumbnail.y(), thumbnail.strideY(), thumbnail.u(),
                       thumbnail.strideUV(), thumbnail.v(), thumbnail.strideUV(), w, h);
}

void ScreenScaler::letterbox(const ScreenImage &image, ScreenFrame &canvas) {
    if (image.isEmpty() || canvas.width() < 2 || canvas.height() < 2)
        return;
    const Rect rect = fitRect(image.width, image.height, canvas.width(), canvas.height());
    if (rect.width == 0)
        return;
    // Borders are painted only when the picture's place changes: the rest of the canvas keeps them.
    if (rect != lastRect_ || &canvas != lastCanvas_) {
        canvas.fillBlack();
        lastRect_ = rect;
        lastCanvas_ = &canvas;
    }
    uint8_t *dstY = canvas.y() + static_cast<std::size_t>(rect.y) * canvas.strideY() + rect.x;
    uint8_t *dstU = canvas.u() + static_cast<std::size_t>(rect.y / 2) * canvas.strideUV() + rect.x / 2;
    uint8_t *dstV = canvas.v() + static_cast<std::size_t>(rect.y / 2) * canvas.strideUV() + rect.x / 2;
    if (rect.width <= image.width && rect.height <= image.height && image.width - rect.width <= 1 &&
        image.height - rect.height <= 1) {
        // Same size, or one odd pixel too many: crop, never scale.
        libyuv::ARGBToI420(image.data, image.stride, dstY, canvas.strideY(), dstU, canvas.strideUV(), dstV,
                           canvas.strideUV(), rect.width, rect.height);
        return;
    }
    native_.resize(image.width, image.height);
    libyuv::ARGBToI420(image.data, image.stride, native_.y(), native_.strideY(), native_.u(),
                       native_.strideUV(), native_.v(), native_.strideUV(), image.width, image.height);
    libyuv::I420Scale(native_.y(), native_.strideY(), native_.u(), native_.strideUV(), native_.v(),
                      native_.strideUV(), image.width, image.height, dstY, canvas.strideY(), dstU,
                      canvas.strideUV(), dstV, canvas.strideUV(), rect.width, rect.height,
                      rect.width > image.width ? libyuv::kFilterBilinear : libyuv::kFilterBox);
}

}  // namespace zuengine
