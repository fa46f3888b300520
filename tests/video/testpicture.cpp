#include "testpicture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {
int clamp255(double v) {
    return std::clamp(int(std::lround(v)), 0, 255);
}
}  // namespace

TestPicture::TestPicture(int width, int height, int padding, bool)
    : m_width(width),
      m_height(height),
      m_strideY(width + padding),
      m_strideC((width + 1) / 2 + padding),
      m_y(std::size_t(m_strideY) * height, 0xEE),
      m_u(std::size_t(m_strideC) * ((height + 1) / 2), 0x11),
      m_v(std::size_t(m_strideC) * ((height + 1) / 2), 0x33) {}

TestPicture::TestPicture(int width, int height, int padding) : TestPicture(width, height, padding, true) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool left = x < width / 2;
            const bool top = y < height / 2;
            set(x, y, top ? (left ? kRed : kGreen) : (left ? kBlue : kGrey));
        }
}

TestPicture TestPicture::uniform(int width, int height, Yuv colour, int padding) {
    TestPicture p(width, height, padding, true);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.set(x, y, colour);
    return p;
}

TestPicture TestPicture::halves(int width, int height, Yuv left, Yuv right, int padding) {
    TestPicture p(width, height, padding, true);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.set(x, y, x < width / 2 ? left : right);
    return p;
}

void TestPicture::set(int x, int y, Yuv c) {
    m_y[std::size_t(y) * m_strideY + x] = c.y;
    // The chroma sample of a 2x2 block takes the colour of its top-left pixel.
    if (x % 2 == 0 && y % 2 == 0) {
        m_u[std::size_t(y / 2) * m_strideC + x / 2] = c.u;
        m_v[std::size_t(y / 2) * m_strideC + x / 2] = c.v;
    }
}

TestPicture::Yuv TestPicture::at(int x, int y) const {
    return Yuv{m_y[std::size_t(y) * m_strideY + x], m_u[std::size_t(y / 2) * m_strideC + x / 2],
               m_v[std::size_t(y / 2) * m_strideC + x / 2]};
}

I420Planes TestPicture::planes() const {
    I420Planes p;
    p.y = m_y.data();
    p.u = m_u.data();
    p.v = m_v.data();
    p.strideY = m_strideY;
    p.strideU = m_strideC;
    p.strideV = m_strideC;
    p.width = m_width;
    p.height = m_height;
    return p;
}

QColor TestPicture::expectedShader(Yuv c) {
    const double y = c.y / 255.0, u = c.u / 255.0 - 0.5, v = c.v / 255.0 - 0.5;
    return QColor(clamp255((y + 1.402 * v) * 255), clamp255((y - 0.344 * u - 0.714 * v) * 255),
                  clamp255((y + 1.772 * u) * 255));
}

QColor TestPicture::expectedLibyuv(Yuv c) {
    const double y = 1.164 * (c.y - 16), u = c.u - 128.0, v = c.v - 128.0;
    return QColor(clamp255(y + 1.596 * v), clamp255(y - 0.391 * u - 0.813 * v), clamp255(y + 2.018 * u));
}

bool TestPicture::near(QColor a, QColor b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}
