#pragma once

#include <QHash>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class AdmitMemberDialog;
class AttendeePageServer;
class OriginatorRtcManager;
class QDialog;
class QLabel;
class QPushButton;
class MemberListWidget;
class MobilePhoneScreenWidget;
class MultiTransFileProgressDialog;
class RtcManager;
class ScanServer;
class SignalingClient;
class SettingCheckBox;
class SingleTransFileProgressDialog;

// The host's page while a share runs: the host's address, the members, file transfers, projected
// screens of mobile members and the quit confirmation. Owns the host session manager and the
// discovery responder.
class ShareWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr quint16 kServerPort = 5678;
    static constexpr quint16 kScanPort = 5679;
    static constexpr int kStartPollMs = 200;
    static constexpr int kStartPollLimit = 50;
    // Side of the attendee page's QR code on the host page, in pixels.
    static constexpr int kPageQrSize = 160;

    explicit ShareWidget(QWidget *parent = nullptr);
    ~ShareWidget() override;

    void createShare();
    // Ends a running share without asking (what is shared is gone); false when none runs.
    bool endShare();

    // For tests and tools.
    RtcManager *sessionManager() const { return manager_.get(); }
    MemberListWidget *memberList() const { return memberList_; }
    QWidget *mainArea() const { return widget_main; }
    // Serves the browser attendee's page while a share runs; null otherwise.
    AttendeePageServer *pageServer() const { return pageServer_.get(); }
    // The open question whether a waiting member may watch; null when none is asked.
    AdmitMemberDialog *admitDialog() const { return admitDialog_.get(); }

signals:
    void sigShareCreated();
    void sigQuitShare();
    void sigCreateShareFail();
    void sigSwitchSourceClicked();

private:
    QWidget *buildMainArea();
    QWidget *buildWebPanel();
    QWidget *buildToolRow();
    void checkStarted();
    void onRtcStarted();
    void onRtcStoped();
    void onRtcStartFail();
    void sendToEveryone();
    void onRefreshUsersBtnClicked();
    void askToQuit();
    void onUdpScanServerStarted();
    void onUdpScanServerStartFail();
    void onUdpScanServerStoped();
    void onLocalIp(QString ip);
    void onCencelShareClicked(QString id);
    void onTransferFileClicked(QString id);
    void onSingleTransferFileBegin(QString id);
    void onSingleTransferFileProgressChanged(QString id, int value);
    void onSingleTransferFileFail(QString id, QString error);
    void onRequestShareScreen(QString id);
    void onShareScreenAnswered(const QString &id, const QString &name, int answer);
    void onShareWidgetClosed();
    void onShareScreenClosed(QString id);
    void toggleMemberList();
    void onAskBeforeWatchingClicked(bool ask);
    void onShareSoundClicked(bool on);
    void onAdmissionQueueChanged();
    void onAdmitAnswered(int answer);
    void onAdmitClicked(QString id);

    // Opens a question of the page over its main area, modal to the page's window.
    void openOverMainArea(QDialog *dialog);
    // Lets the manager go once the slot that reported its end has returned.
    void releaseManager();
    // Ends the session and the search responder; the page follows when the session says it stopped.
    void stopShare();
    void setMemListButtonLook(bool shown);
    // Lets the host pick a file and hands it to send, unless a transfer still runs, the dialog is
    // cancelled or the share ended meanwhile.
    void chooseFileToSend(const std::function<void(const QString &path)> &send);
    // A transfer's progress dialog ends the transfer when it closes, and then goes.
    void watchTransferDialog(QDialog *dialog);
    void startPageServer();
    void stopPageServer();
    void showPageAddress(const QString &ip);
    OriginatorRtcManager *host() const;
    // Asks about the first waiting member, one question at a time, in the order they came.
    void askNextWaiting();
    // Lets the open question go (deleted later, no more answers from it); null when none is open.
    AdmitMemberDialog *releaseAdmitDialog();
    void closeAdmitDialog();

    QWidget *widget_main;
    QLabel *label_msg;
    QPushButton *btn_ctrl_memlist;
    QWidget *widget_tools;
    QLabel *label_ip;
    SettingCheckBox *check_admit;
    SettingCheckBox *check_sound;
    QLabel *label_sound;  // the switch is on, but there is no sound to share
    QPushButton *btn_transfer;
    QPushButton *btn_switch;
    QPushButton *btn_quit;
    QWidget *memwidget;
    QWidget *widget_web;
    QLabel *label_web_url;
    QLabel *label_web_qr;

    MemberListWidget *memberList_;
    std::unique_ptr<RtcManager> manager_;
    bool started_ = false;
    std::shared_ptr<SignalingClient> client_;
    std::shared_ptr<ScanServer> responder_;
    std::unique_ptr<AttendeePageServer> pageServer_;
    QString localIp_;
    std::unique_ptr<SingleTransFileProgressDialog> singleDialog_;
    std::unique_ptr<MultiTransFileProgressDialog> multiDialog_;
    std::unique_ptr<AdmitMemberDialog> admitDialog_;
    QHash<QString, std::shared_ptr<MobilePhoneScreenWidget>> shareScreens_;
    bool memListShown_ = true;
    // The member whose share request is being asked about, empty when none is.
    QString askingShareOf_;
};
