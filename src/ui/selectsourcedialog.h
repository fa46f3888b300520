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
class ScreenSources;
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
    // Shows the dialog modal to its parent window; the thumbnails follow a moment later.
    void open() override;

    // For tests and tools.
    QList<AppWindowWidget *> thumbnails() const { return thumbnails_; }
    QList<SelectAppWidget_Line *> rows() const { return rows_; }
    int selectedIndex() const { return selectedIndex_; }
    int sourceCount() const { return sourceCount_; }

signals:
    // The captured display or screen cast ended (on Wayland: the user stopped it in the desktop).
    void sigSourceLost();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QWidget *buildTitle();
    QWidget *buildSourceList();
    QWidget *buildButtonBar();
    QPushButton *buildRefreshButton();

    void captureAllWindow();
    void onCapturerLost();
    void appendApp(const QString &title, std::shared_ptr<VideoFrameInterface> frame);
    void onAppSelected();
    void onRefreshClicked();
    void onShareClicked();
    void updateHint();

    QWidget *title_area;
    QLabel *label;
    QListWidget *listWidget;
    QLabel *label_none;
    QWidget *btnarea;
    QPushButton *btn_create;
    QPushButton *btn_cancel;
    QPushButton *refreshButton_;
    int sourceCount_ = 0;
    std::unique_ptr<ScreenSources> sources_;
    bool capturerLost_ = false;
    // Owned by the list view through its items.
    QList<SelectAppWidget_Line *> rows_;
    QList<AppWindowWidget *> thumbnails_;
    int selectedIndex_ = -1;
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
