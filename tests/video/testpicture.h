#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <QColor>
#include <QSize>

#include "video/i420planes.h"

struct Yuv {
    uint8_t y, u, v;
};
// BT.601 studio-range values.
constexpr Yuv kRed{81, 90, 240}, kGreen{145, 54, 34}, kBlue{41, 240, 110}, kGrey{128, 128, 128};

// An I420 picture, by default of four fields: red top left, green top right, blue bottom left, grey
// bottom right. Rows end in junk bytes: padding of them for Y and U, twice as many for V, so that
// padded pictures have three different strides.
class TestPicture {
public:
    // Every pixel of one colour when only is given.
    explicit TestPicture(QSize size, int padding = 0, const Yuv *only = nullptr)
        : w(size.width()), h(size.height()), sY(w + padding), sU((w + 1) / 2 + padding), sV(sU + padding) {
        m_y.assign(std::size_t(sY) * h, 0xEE);
        m_u.assign(std::size_t(sU) * ((h + 1) / 2), 0x11);
        m_v.assign(std::size_t(sV) * ((h + 1) / 2), 0x33);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool left = x < w / 2, top = y < h / 2;
                const Yuv c = only ? *only : top ? (left ? kRed : kGreen) : (left ? kBlue : kGrey);
                m_y[std::size_t(y) * sY + x] = c.y;
                // The chroma sample of a 2x2 block takes the colour of its top-left pixel.
                if (x % 2 == 0 && y % 2 == 0) {
                    m_u[std::size_t(y / 2) * sU + x / 2] = c.u;
                    m_v[std::size_t(y / 2) * sV + x / 2] = c.v;
                }
            }
    }

    I420Planes planes() const { return I420Planes::of(m_y.data(), m_u.data(), m_v.data(), sY, sU, sV, w, h); }
    // The colour stored for a pixel.
    Yuv at(int x, int y) const {
        const std::size_t c = std::size_t(y / 2);
        return Yuv{m_y[std::size_t(y) * sY + x], m_u[c * sU + x / 2], m_v[c * sV + x / 2]};
    }

    // What each path should show for a YUV colour: the fragment shader's formula, and BT.601
    // studio range as libyuv converts for the painter view.
    static QColor viaShader(Yuv c) {
        const double y = c.y, u = c.u - 127.5, v = c.v - 127.5;
        return rgb(y + 1.402 * v, y - 0.344 * u - 0.714 * v, y + 1.772 * u);
    }
    static QColor viaLibyuv(Yuv c) {
        const double y = 1.164 * (c.y - 16), u = c.u - 128.0, v = c.v - 128.0;
        return rgb(y + 1.596 * v, y - 0.391 * u - 0.813 * v, y + 2.018 * u);
    }
    static bool near(QColor a, QColor b, int tolerance) {
        return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                         std::abs(a.blue() - b.blue())}) <= tolerance;
    }

    const int w, h, sY, sU, sV;

private:
    static QColor rgb(double r, double g, double b) {
        const auto c = [](double v) { return std::clamp(int(std::lround(v)), 0, 255); };
        return QColor(c(r), c(g), c(b));
    }
    std::vector<uint8_t> m_y, m_u, m_v;
};
