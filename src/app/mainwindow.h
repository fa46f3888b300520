#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

class QGridLayout;
class QVBoxLayout;
class FramelessWidgetHelper;
class LoadingDialog;
class MainWidget;
class SelectSourceDialog;
class ShareWidget;
class WatchWidget;
class ZuTitleWidget;

// The one top-level window: the title bar above the start, host or watch page, the loading delays
// between them, the source dialogs and the window states of a frameless window.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kLoadingDelayMs = 3000;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // For tests and the screenshot program.
    MainWidget *startPage() const { return mainWidget_.get(); }
    ShareWidget *hostPage() const { return shareWidget_.get(); }
    WatchWidget *watchPage() const { return watchWidget_.get(); }
    QWidget *currentPage() const { return currentPage_.get(); }
    ZuTitleWidget *titleBar() const { return titleWidget_.get(); }
    LoadingDialog *loadingDialog() const { return loadingDialog_.get(); }
    SelectSourceDialog *selectSourceDialog() const { return selectSourceDialog_.get(); }
    SelectSourceDialog *switchSourceDialog() const { return switchSourceDialog_.get(); }
    QWidget *titleArea() const { return title_area; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QWidget *buildForm();
    void buildTitleBar();
    void buildPages();
    void onMaxOrNormalBtnClicked();
    void onShareCreated();
    void onCreateShareFail();
    void onJoinShareClicked(QString ip, QString nickName);
    void onShareJoined();
    void onJoinShareFail();
    void onNotAdmitted();
    void onShareExited();
    void onCreateShareClicked();
    void onSwitchSourceClicked();
    void onScreenSourceLost();
    void showSelectSourceDialog();
    void showSwitchSourceDialog();
    void joinShare();
    void switchTo(const std::shared_ptr<QWidget> &page);
    // Shows the loading dialog for kLoadingDelayMs, then goes on with next.
    void runLoading(void (MainWindow::*next)());

    // The form.
    QWidget *centralwidget;
    QGridLayout *gridLayout;
    QVBoxLayout *verticalLayout;
    QWidget *title_area;
    QWidget *main_area;

    std::shared_ptr<ZuTitleWidget> titleWidget_;
    QGridLayout *pageLayout_ = nullptr;
    std::shared_ptr<MainWidget> mainWidget_;
    std::unique_ptr<LoadingDialog> loadingDialog_;
    std::unique_ptr<SelectSourceDialog> selectSourceDialog_;
    std::unique_ptr<SelectSourceDialog> switchSourceDialog_;
    std::shared_ptr<ShareWidget> shareWidget_;
    std::shared_ptr<WatchWidget> watchWidget_;
    std::shared_ptr<QWidget> currentPage_;
    std::unique_ptr<FramelessWidgetHelper> helper_;
    QString joinIp_;
    QString joinNickName_;
};
