#pragma once

#include <QDialog>
#include <QList>

#include <cstdint>
#include <memory>

class QLabel;
class QListWidget;
class QPushButton;
class AppWindowWidget;
class FramelessWidgetHelper;
class SelectAppWidget_Line;
class VideoFrameInterface;

// Chooses what the host shares: every screen and window as a live thumbnail; "共享" switches the
// capturer to the chosen one.
class SelectSourceDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kCaptureDelayMs = 100;

    explicit SelectSourceDialog(QWidget *parent = nullptr);
    ~SelectSourceDialog() override;

    // The program's own windows (native ids) that must never be offered; clears the list.
    void setExcludedWindows(const QList<uint64_t> &ids);
    // On Wayland, the next setExcludedWindows opens the desktop's picker again, whatever was chosen
    // or remembered before.
    void chooseAgain();
    int exec() override;

    // For tests and tools.
    QList<AppWindowWidget *> thumbnails() const { return thumbnails_; }
    QList<SelectAppWidget_Line *> rows() const { return rows_; }
    int selectedIndex() const { return selectedIndex_; }
    int sourceCount() const { return sourceCount_; }
    int capturer() const { return capturer_; }
    QPushButton *refreshButton() const { return refreshButton_; }

signals:
    void sigRready();
    // The captured display or screen cast ended (on Wayland: the user stopped it in the desktop).
    void sigSourceLost();

private slots:
    void on_btn_cancel_clicked();
    void on_btn_create_clicked();
    void onAppSelected();
    void onRefreshBtnClicked();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Q_INVOKABLE void captureAllWindow();
    Q_INVOKABLE void onCapturerLost();
    static void onSourceLost(void *userData);
    Q_INVOKABLE void appendApp(QString title, std::shared_ptr<VideoFrameInterface> frame);
    void updateHint();

    static void onSourceCaptured(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int strideY,
                                 int strideU, int strideV, int, int width, int height, int, int,
                                 const char *title, void *userData);

    QWidget *title_area;
    QLabel *label;
    QListWidget *listWidget;
    QLabel *label_none;
    QWidget *btnarea;
    QPushButton *btn_create;
    QPushButton *btn_cancel;
    QPushButton *refreshButton_;
    int sourceCount_ = 0;
    int capturer_ = 0;
    bool capturerLost_ = false;
    // Owned by the list view through its items.
    QList<SelectAppWidget_Line *> rows_;
    QList<AppWindowWidget *> thumbnails_;
    int selectedIndex_ = -1;
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
