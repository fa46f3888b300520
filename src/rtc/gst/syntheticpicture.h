#pragma once

// A moving test picture with large flat regions whose colours survive encoding, so that tests can
// sample a few pixels of the decoded picture and recognise it.

#include <cstdint>
#include <vector>

namespace zuengine {

struct YuvColour {
    uint8_t y, u, v;
};

class SyntheticPicture {
public:
    // Quadrant 0 top left, 1 top right, 2 bottom left, 3 bottom right. The middle band (rows from
    // 3/8 to 5/8 of the height) holds a white block moving across black instead.
    static YuvColour quadrantColour(int quadrant);

    // Fills a packed I420 picture (strides width and width / 2) of even size.
    static void render(int64_t frameIndex, int width, int height, std::vector<uint8_t> &out);
};

}  // namespace zuengine
