#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

// A known moving picture over the whole X screen: four flat quadrants of fixed colours, and a
// middle band where a white block moves across black beside a row of blocks that stamp the
// painting time (the layout of CliFrameSink) for latency figures.
class TestPatternWidget : public QWidget {
public:
    explicit TestPatternWidget(int fps = 30);

    static QColor quadrantColour(int quadrant);
    qint64 paints() const { return m_paints; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect bandRect() const;

    QTimer m_timer;
    qint64 m_step = 0;
    qint64 m_paints = 0;
};
