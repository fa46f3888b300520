#pragma once

#include <cstdint>
#include <vector>

#include <QColor>

#include "video/i420planes.h"

// An I420 picture of four fields: red top left, green top right, blue bottom left, grey bottom
// right (BT.601 studio-range values), with optional row padding filled with junk bytes.
class TestPicture {
public:
    struct Yuv {
        uint8_t y, u, v;
    };
    static constexpr Yuv kRed{81, 90, 240};
    static constexpr Yuv kGreen{145, 54, 34};
    static constexpr Yuv kBlue{41, 240, 110};
    static constexpr Yuv kGrey{128, 128, 128};

    TestPicture(int width, int height, int padding = 0);
    // A picture of one colour everywhere.
    static TestPicture uniform(int width, int height, Yuv colour, int padding = 0);
    // Left half (x < width / 2) one colour, right half another.
    static TestPicture halves(int width, int height, Yuv left, Yuv right, int padding = 0);

    I420Planes planes() const;
    // The field colour at a picture pixel.
    Yuv at(int x, int y) const;

    // What each path should show for a YUV colour.
    static QColor expectedShader(Yuv c);  // the fragment shader's formula
    static QColor expectedLibyuv(Yuv c);  // BT.601 studio range, as libyuv converts
    static bool near(QColor a, QColor b, int tolerance);

    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    TestPicture(int width, int height, int padding, bool fill);
    void set(int x, int y, Yuv c);

    int m_width;
    int m_height;
    int m_strideY;
    int m_strideC;
    std::vector<uint8_t> m_y, m_u, m_v;
};
