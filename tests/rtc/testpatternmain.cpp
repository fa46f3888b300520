// zushare_testpattern_app [fps]: four flat quadrants over DISPLAY's screen and a band with a moving
// block and CliFrameSink's time stamp. Prints "pattern shown WxH" and the colours once painted.

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "cliframesink.h"

namespace {

const QColor kQuadrants[4] = {{220, 40, 40}, {40, 200, 60}, {40, 60, 220}, {230, 210, 40}};

class Pattern : public QWidget {
public:
    explicit Pattern(int fps)
        : QWidget(nullptr,
                  Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setGeometry(QGuiApplication::primaryScreen()->geometry());
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] { update(band()); });
        timer_.start(1000 / fps);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        const int w = width(), h = height(), block = CliFrameSink::kStampBlock;
        for (int q = 0; q < 4; ++q)
            p.fillRect(q % 2 * (w / 2), q / 2 * (h / 2), q % 2 ? w - w / 2 : w / 2, q / 2 ? h - h / 2 : h / 2,
                       kQuadrants[q]);
        p.fillRect(band(), Qt::black);
        const int stampWidth = CliFrameSink::kStampBits * block;
        const int x = stampWidth + 50 + int((paints_ * 16) % std::max(1, w - stampWidth - 200));
        p.fillRect(x, band().top() + band().height() / 4, 120, band().height() / 2, Qt::white);
        const uint32_t stamp = CliFrameSink::nowStampMs();
        for (int bit = 0; bit < CliFrameSink::kStampBits; ++bit)
            if (stamp & (1u << bit))
                p.fillRect(bit * block, CliFrameSink::stampTop(h), block, block, Qt::white);
        if (++paints_ == 4) {  // the first, full picture has reached the screen
            std::printf("pattern shown %dx%d %s %s %s %s\n", w, h, qPrintable(kQuadrants[0].name()),
                        qPrintable(kQuadrants[1].name()), qPrintable(kQuadrants[2].name()),
                        qPrintable(kQuadrants[3].name()));
            std::fflush(stdout);
        }
    }

private:
    QRect band() const { return QRect(0, height() * 3 / 8, width(), height() * 5 / 8 - height() * 3 / 8); }

    QTimer timer_;
    qint64 paints_ = 0;
};

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    Pattern pattern(argc > 1 ? std::max(1, atoi(argv[1])) : 30);
    pattern.show();
    return app.exec();
}
