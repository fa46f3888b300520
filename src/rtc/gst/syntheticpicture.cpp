#include "rtc/gst/syntheticpicture.h"

#include <cstring>

namespace zuengine {

YuvColour SyntheticPicture::quadrantColour(int quadrant) {
    static const YuvColour colours[4] = {
        {81, 90, 240},   // red
        {145, 54, 34},   // green
        {41, 240, 110},  // blue
        {210, 16, 146},  // yellow
    };
    return colours[quadrant & 3];
}

void SyntheticPicture::render(int64_t frameIndex, int width, int height, std::vector<uint8_t> &out) {
    const int cw = width / 2, ch = height / 2;
    out.resize(static_cast<size_t>(width) * height + 2 * static_cast<size_t>(cw) * ch);
    uint8_t *y = out.data();
    uint8_t *u = y + static_cast<size_t>(width) * height;
    uint8_t *v = u + static_cast<size_t>(cw) * ch;
    const int bandTop = height * 3 / 8 / 2 * 2, bandBottom = height * 5 / 8 / 2 * 2;
    const int blockWidth = width / 8 / 2 * 2;
    const int travel = width - blockWidth;
    const int blockLeft = travel > 0 ? static_cast<int>((frameIndex * 8) % travel) / 2 * 2 : 0;
    for (int row = 0; row < height; ++row) {
        uint8_t *line = y + static_cast<size_t>(row) * width;
        if (row >= bandTop && row < bandBottom) {
            std::memset(line, 16, width);
            std::memset(line + blockLeft, 235, blockWidth);
            continue;
        }
        const int q = row < height / 2 ? 0 : 2;
        std::memset(line, quadrantColour(q).y, width / 2);
        std::memset(line + width / 2, quadrantColour(q + 1).y, width - width / 2);
    }
    for (int row = 0; row < ch; ++row) {
        uint8_t *lu = u + static_cast<size_t>(row) * cw;
        uint8_t *lv = v + static_cast<size_t>(row) * cw;
        if (row * 2 >= bandTop && row * 2 < bandBottom) {
            std::memset(lu, 128, cw);
            std::memset(lv, 128, cw);
            continue;
        }
        const int q = row * 2 < height / 2 ? 0 : 2;
        std::memset(lu, quadrantColour(q).u, cw / 2);
        std::memset(lu + cw / 2, quadrantColour(q + 1).u, cw - cw / 2);
        std::memset(lv, quadrantColour(q).v, cw / 2);
        std::memset(lv + cw / 2, quadrantColour(q + 1).v, cw - cw / 2);
    }
}

}  // namespace zuengine
