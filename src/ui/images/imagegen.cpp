// Renders the program's pictures from their SVG sources: imagegen <list> <svg folder> <output folder>.
// The list is images.txt; GIF animations are written by the small encoder below because Qt reads GIF
// but cannot write it.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

#include <cstdio>
#include <vector>

namespace {

QByteArray substitute(QByteArray svg, const QStringList &tokens) {
    for (const QString &t : tokens) {
        const int eq = t.indexOf('=');
        if (eq <= 0)
            continue;
        QString value = t.mid(eq + 1);
        value.replace('_', ' ');
        svg.replace(("{{" + t.left(eq) + "}}").toUtf8(), value.toUtf8());
    }
    return svg;
}

bool render(const QByteArray &svg, int w, int h, QImage *out) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return false;
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, w, h));
    painter.end();
    *out = image.convertToFormat(QImage::Format_ARGB32);
    return true;
}

// LZW stream that only ever emits literal codes: a clear code every 254 pixels keeps the code width
// at 9 bits, which every decoder accepts.
QByteArray lzwLiteral(const std::vector<uchar> &pixels) {
    QByteArray bytes;
    quint32 acc = 0;
    int bits = 0;
    auto put = [&](int code) {
        acc |= quint32(code) << bits;
        bits += 9;
        while (bits >= 8) {
            bytes.append(char(acc & 0xff));
            acc >>= 8;
            bits -= 8;
        }
    };
    int run = 0;
    put(256);
    for (uchar p : pixels) {
        if (run == 254) {
            put(256);
            run = 0;
        }
        put(p);
        ++run;
    }
    put(257);
    if (bits > 0)
        bytes.append(char(acc & 0xff));
    QByteArray blocks;
    for (int i = 0; i < bytes.size(); i += 255) {
        const QByteArray chunk = bytes.mid(i, 255);
        blocks.append(char(chunk.size()));
        blocks.append(chunk);
    }
    blocks.append(char(0));
    return blocks;
}

void le16(QByteArray &b, int v) {
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}

// Frames are drawn in one colour over white, so a palette of 256 steps from white to the darkest
// colour of the drawing represents them exactly.
bool writeGif(const QString &path, const QList<QImage> &frames, int delayMs, QRgb ink) {
    const int w = frames.first().width();
    const int h = frames.first().height();
    QByteArray gif("GIF89a");
    le16(gif, w);
    le16(gif, h);
    gif.append(char(0xf7));  // global table of 256 colours
    gif.append(char(0));
    gif.append(char(0));
    for (int i = 0; i < 256; ++i) {
        const double t = i / 255.0;
        gif.append(char(qRound(255 + (qRed(ink) - 255) * t)));
        gif.append(char(qRound(255 + (qGreen(ink) - 255) * t)));
        gif.append(char(qRound(255 + (qBlue(ink) - 255) * t)));
    }
    gif.append("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    const double range = 255 - qRed(ink);
    for (const QImage &frame : frames) {
        gif.append("\x21\xf9\x04\x00", 4);
        le16(gif, delayMs / 10);
        gif.append(char(0));
        gif.append(char(0));
        gif.append(char(0x2c));
        le16(gif, 0);
        le16(gif, 0);
        le16(gif, w);
        le16(gif, h);
        gif.append(char(0));
        std::vector<uchar> pixels;
        pixels.reserve(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
            for (int x = 0; x < w; ++x)
                pixels.push_back(uchar(qBound(0, qRound((255 - qRed(line[x])) / range * 255), 255)));
        }
        gif.append(char(8));
        gif.append(lzwLiteral(pixels));
    }
    gif.append(char(0x3b));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(gif) == gif.size();
}

}  // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: imagegen <images.txt> <svg folder> <output folder>\n");
        return 2;
    }
    QFile list(QString::fromLocal8Bit(argv[1]));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "imagegen: cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir svgDir(QString::fromLocal8Bit(argv[2]));
    const QDir outDir(QString::fromLocal8Bit(argv[3]));
    QDir().mkpath(outDir.path());
    QTextStream in(&list);
    int failures = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QStringList f = line.split(' ', Qt::SkipEmptyParts);
        if (f.size() < 5) {
            std::fprintf(stderr, "imagegen: bad line: %s\n", qPrintable(line));
            ++failures;
            continue;
        }
        const QString kind = f[0], name = f[1];
        QFile src(svgDir.filePath(f[2]));
        if (!src.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "imagegen: missing source %s\n", qPrintable(f[2]));
            ++failures;
            continue;
        }
        const QByteArray svg = src.readAll();
        const int w = f[3].toInt(), h = f[4].toInt();
        const QStringList tokens = f.mid(5);
        if (kind == "png") {
            QImage image;
            if (!render(substitute(svg, tokens), w, h, &image) || !image.save(outDir.filePath(name), "PNG")) {
                std::fprintf(stderr, "imagegen: cannot make %s\n", qPrintable(name));
                ++failures;
            }
        } else if (kind == "gif") {
            int frames = 12, delay = 80;
            for (const QString &t : tokens) {
                if (t.startsWith("frames="))
                    frames = t.midRef(7).toInt();
                else if (t.startsWith("delay="))
                    delay = t.midRef(6).toInt();
            }
            QList<QImage> images;
            for (int i = 0; i < frames; ++i) {
                QImage image;
                QByteArray frameSvg = svg;
                frameSvg.replace("{{ROT}}", QByteArray::number(360.0 * i / frames));
                if (!render(frameSvg, w, h, &image))
                    break;
                images.append(image);
            }
            if (images.size() != frames ||
                !writeGif(outDir.filePath(name), images, delay, qRgb(0x59, 0x83, 0xA5))) {
                std::fprintf(stderr, "imagegen: cannot make %s\n", qPrintable(name));
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
