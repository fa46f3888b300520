#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class MemberListWidget;
class ReceiveFileDialog;
class RtcManager;
class SignalingClient;
class SoundControl;
class VideoWidgetInterface;
class WatchToolWidget;

// The attendee's page: the host's picture with its tool overlay, the members, the download folder,
// the received files' progress and the quit button. Owns the attendee session manager.
class WatchWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr quint16 kServerPort = 5678;
    static constexpr int kJoinTimeoutMs = 5000;
    // How long the page waits for a host that asks before someone watches to let it in.
    static constexpr int kAdmissionWaitMs = 120000;

    explicit WatchWidget(QWidget *parent = nullptr);
    ~WatchWidget() override;

    void joinShare(const QString &ip, const QString &nickName);
    void setFullScreenMode();
    void setNormalMode();

    // For tests and tools.
    RtcManager *sessionManager() const { return manager_.get(); }
    WatchToolWidget *toolWidget() const { return tool_; }
    std::shared_ptr<VideoWidgetInterface> videoView() const { return view_; }
    MemberListWidget *memberList() const { return memberList_; }
    // Whether the page says that the host has not let it in yet.
    bool waitsForAdmission() const { return admissionTimer_.isActive(); }

signals:
    void sigShareJoined();
    void sigQuitShare();
    void sigJoinShareFail();
    // The host did not let this attendee in within kAdmissionWaitMs; the page has left the share.
    void sigNotAdmitted();
    void sigFullScreenBtnClicked();
    void sigNormalBtnClicked();

private:
    QWidget *buildView();
    QWidget *buildToolRow();
    void onRtcStarted();
    void onRtcStoped();
    void onRtcStartFail();
    void onQuitClicked();
    void onFullScreenBtnClicked();
    void onCtrlMemlistBtnClicked();
    void onRefreshUsersBtnClicked();
    void onReceiveFileBegin();
    void onReceiveFileProgressChanged(QString id, int value);
    void onReceiveFileFail(QString id, QString error);
    void onReceiveDialogClosed();
    void openDownloadFolder();
    void onAdmissionWaiting();
    void onAdmitted();
    void onAdmissionTimeout();
    void clear();
    void onJoinTimeout(const RtcManager *manager);
    void releaseManager();

    QWidget *viewWidget;
    QWidget *toolsWidget;
    QLabel *label_admission;
    SoundControl *sound_;
    QPushButton *pushButton;
    QPushButton *btn_quit;
    QWidget *memwidget;

    MemberListWidget *memberList_;
    std::shared_ptr<VideoWidgetInterface> view_;
    QWidget *viewAsWidget_ = nullptr;
    WatchToolWidget *tool_;
    int memListShown_ = 1;
    std::unique_ptr<RtcManager> manager_;
    std::shared_ptr<SignalingClient> client_;
    std::unique_ptr<ReceiveFileDialog> receiveDialog_;
    bool fullScreen_ = false;
    QTimer admissionTimer_;
};
