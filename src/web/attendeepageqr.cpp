#include "web/attendeepageqr.h"

#include <qrencode.h>
#include <QPainter>

#include <memory>

namespace {

struct QrCodeDeleter {
    void operator()(QRcode *code) const { QRcode_free(code); }
};

}  // namespace

QVector<bool> AttendeePageQr::modules(const QString &url, int *width) {
    if (width)
        *width = 0;
    const QByteArray text = url.toUtf8();
    if (text.isEmpty())
        return {};
    // Level M survives a smudged or glaring phone screen and keeps a LAN address small.
    std::unique_ptr<QRcode, QrCodeDeleter> code(QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M));
    if (!code || code->width <= 0)
        return {};
    const int n = code->width;
    QVector<bool> out(n * n);
    for (int i = 0; i < n * n; ++i)
        out[i] = code->data[i] & 1;
    if (width)
        *width = n;
    return out;
}

QImage AttendeePageQr::render(const QString &url, int size) {
    int n = 0;
    const QVector<bool> dark = modules(url, &n);
    if (n == 0)
        return {};
    const int total = n + 2 * kQuietZone;
    // Whole pixels per module keep the edges sharp enough for any camera.
    const int scale = qMax(1, size / total);
    const int side = qMax(size, total * scale);
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    const int offset = (side - n * scale) / 2;
    QPainter painter(&image);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (dark[y * n + x])
                painter.fillRect(offset + x * scale, offset + y * scale, scale, scale, Qt::black);
    painter.end();
    return image;
}
