#include "testpatternwidget.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "cliframesink.h"

TestPatternWidget::TestPatternWidget(int fps)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(QGuiApplication::primaryScreen()->geometry());
    m_timer.setInterval(1000 / fps);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        ++m_step;
        update(bandRect());
    });
    m_timer.start();
}

QColor TestPatternWidget::quadrantColour(int quadrant) {
    static const QColor colours[4] = {QColor(220, 40, 40), QColor(40, 200, 60), QColor(40, 60, 220),
                                      QColor(230, 210, 40)};
    return colours[quadrant & 3];
}

QRect TestPatternWidget::bandRect() const {
    const int top = height() * 3 / 8;
    return QRect(0, top, width(), height() * 5 / 8 - top);
}

void TestPatternWidget::paintEvent(QPaintEvent *) {
    ++m_paints;
    QPainter p(this);
    const int w = width(), h = height();
    p.fillRect(0, 0, w / 2, h / 2, quadrantColour(0));
    p.fillRect(w / 2, 0, w - w / 2, h / 2, quadrantColour(1));
    p.fillRect(0, h / 2, w / 2, h - h / 2, quadrantColour(2));
    p.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, quadrantColour(3));
    const QRect band = bandRect();
    p.fillRect(band, Qt::black);
    const int stampWidth = CliFrameSink::kStampBits * CliFrameSink::kStampBlock;
    const int travel = std::max(1, w - stampWidth - 200);
    const int x = stampWidth + 50 + int((m_step * 16) % travel);
    p.fillRect(x, band.top() + band.height() / 4, 120, band.height() / 2, Qt::white);
    const uint32_t stamp = CliFrameSink::nowStampMs();
    const int top = CliFrameSink::stampTop(h);
    for (int bit = 0; bit < CliFrameSink::kStampBits; ++bit) {
        if (stamp & (1u << bit)) {
            p.fillRect(bit * CliFrameSink::kStampBlock, top, CliFrameSink::kStampBlock,
                       CliFrameSink::kStampBlock, Qt::white);
        }
    }
}
