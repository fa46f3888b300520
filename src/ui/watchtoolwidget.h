#pragma once

#include <QTimer>
#include <QWidget>

class QPushButton;

// The overlay on the attendee's picture: the member-list toggle at its side and, at the bottom, a
// bar with the full-screen toggle that hides itself in full screen while the mouse stays still.
class WatchToolWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kTickMs = 500;
    static constexpr int kHideAfterTicks = 5;

    explicit WatchToolWidget(QWidget *parent = nullptr);

    void setMemListButtonState(int shown);
    void showNarrowIcon();
    void showFullScreenIcon();

    int idleTicks() const { return idleTicks_; }
    bool barShown() const;

signals:
    void sigFullScrrenButtonClicked();
    void sigCtrlMemListBtnClicked();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void onTimeOut();
    void applyBarState();

    QWidget *widget;
    QPushButton *btn_ctrl_memlist;
    QWidget *widget_empty;
    QWidget *widget_btn_bar;
    QPushButton *btn_fullScrren;
    int idleTicks_ = 0;
    QTimer timer_;
};
