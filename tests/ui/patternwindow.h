#pragma once

#include <QColor>
#include <QPainter>
#include <QWidget>

// A plain top-level window with four flat quadrants (or one colour) that a test shares and then
// looks for on the attendee's view.
class PatternWindow : public QWidget {
public:
    explicit PatternWindow(const QString &title, QColor single = QColor()) : single_(single) {
        setWindowTitle(title);
        setAttribute(Qt::WA_OpaquePaintEvent, true);
    }
    static QColor quadrant(int q) {
        static const QColor colours[4] = {QColor(220, 40, 40), QColor(40, 180, 60), QColor(40, 80, 220),
                                          QColor(240, 200, 30)};
        return colours[q & 3];
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        const int w = width() / 2, h = height() / 2;
        for (int q = 0; q < 4; ++q)
            p.fillRect(QRect(q % 2 ? w : 0, q / 2 ? h : 0, q % 2 ? width() - w : w, q / 2 ? height() - h : h),
                       single_.isValid() ? single_ : quadrant(q));
    }

private:
    QColor single_;
};

inline bool colourNear(const QColor &a, const QColor &b, int tolerance = 50) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}
