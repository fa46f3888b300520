#pragma once

#include <QWidget>

class QPushButton;

// The overlay of the projected-screen window: full screen on/off, enlarge, shrink.
class MobilePhoneToolWidget : public QWidget {
    Q_OBJECT

public:
    explicit MobilePhoneToolWidget(QWidget *parent = nullptr);

    void showNarrowIcon();
    void showFullIcon();
    bool showsNarrowIcon() const { return narrowIcon_; }

signals:
    void sigZoomClicked();
    void sigEnlargeClicked();
    void sigNarrowClicked();

private:
    QWidget *widget;
    QPushButton *btn_zoom;
    QPushButton *btn_enlarge;
    QPushButton *btn_narrow;
    bool narrowIcon_ = false;
};
