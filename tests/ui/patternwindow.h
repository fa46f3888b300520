#pragma once

#include <QColor>
#include <QPainter>
#include <QWidget>

// A top-level window of four flat quadrants (or one colour) to share and look for on the attendee's view.
class PatternWindow : public QWidget {
public:
    PatternWindow(const QString &title, const QRect &geometry, QColor single = QColor()) : single_(single) {
        setWindowTitle(title);
        setGeometry(geometry);
    }
    static QColor quadrant(int q) {
        static const QColor colours[4] = {{220, 40, 40}, {40, 180, 60}, {40, 80, 220}, {240, 200, 30}};
        return colours[q & 3];
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        for (int q = 0; q < 4; ++q)  // a later quadrant covers the overlap of an odd size
            p.fillRect(q % 2 * width() / 2, q / 2 * height() / 2, width() - width() / 2,
                       height() - height() / 2, single_.isValid() ? single_ : quadrant(q));
    }

private:
    QColor single_;
};

inline bool colourNear(const QColor &a, const QColor &b, int tolerance = 50) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}
