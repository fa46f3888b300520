#pragma once

#include <cstdint>
#include <vector>

#include "rtc/gst/screenframe.h"
#include "rtc/gst/screenimage.h"

namespace zuengine {

// Turns captured pictures into I420: thumbnails that keep the aspect ratio, and stream pictures
// of one fixed size with the source letterboxed into it, so the stream's caps never change.
class ScreenScaler {
public:
    static constexpr int kThumbnailWidth = 480;
    static constexpr int kThumbnailHeight = 270;

    struct Rect {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        bool operator==(const Rect &o) const {
            return x == o.x && y == o.y && width == o.width && height == o.height;
        }
        bool operator!=(const Rect &o) const { return !(*this == o); }
    };

    // Largest size within maxWidth x maxHeight with the picture's aspect ratio, never enlarged.
    static void thumbnailSize(int width, int height, int maxWidth, int maxHeight, int &outWidth,
                              int &outHeight);
    // Where a width x height picture lands in an even-sized canvas: centred, even position and size.
    // Pictures at most one pixel larger than the canvas are cropped instead of scaled.
    static Rect fitRect(int width, int height, int canvasWidth, int canvasHeight);

    // Converts the image to a thumbnail no larger than kThumbnailWidth x kThumbnailHeight.
    void toThumbnail(const ScreenImage &image, ScreenFrame &thumbnail);
    // Draws the image into the canvas (whose size stays), black borders around it.
    void letterbox(const ScreenImage &image, ScreenFrame &canvas);

private:
    std::vector<uint8_t> scaledBgra_;
    ScreenFrame native_;
    Rect lastRect_;
    const ScreenFrame *lastCanvas_ = nullptr;
};

}  // namespace zuengine
