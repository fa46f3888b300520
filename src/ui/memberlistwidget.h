#pragma once

#include <QList>
#include <QWidget>

#include <memory>

#include "signaling/signalingtypes.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class SignalingClient;

// Who takes part in the share: the host first, then every user the signaling server reports. In host
// mode each member row has a menu to send it a file or cut it off.
class MemberListWidget : public QWidget {
    Q_OBJECT

public:
    explicit MemberListWidget(QWidget *parent = nullptr);
    ~MemberListWidget() override;

    void setHostMode(bool on);
    bool hostMode() const { return hostMode_; }
    void setSignalingClient(std::shared_ptr<SignalingClient> client);
    QStringList memberIds() const;
    QString nickName(const QString &id) const;

signals:
    void refreshUsersBtnClicked();
    void sigCancelShareClicked(QString id);
    void sigTransferFileClicked(QString id);

public slots:
    void onAlluserRefreshed(QList<SignalingUser> lst);

private slots:
    void on_refreshButton_clicked();
    void on_userlistWidget_customContextMenuRequested(QPoint pos);
    void onTransferFileClicked();
    void onCancelShareClicked();
    void on_userlistWidget_currentItemChanged(QListWidgetItem *current, QListWidgetItem *previous);

private:
    QLabel *label_mem_num;
    QPushButton *refreshButton;
    QListWidget *userlistWidget;
    QWidget *widget_empty;
    QWidget *widget_img;
    QLabel *label_2;
    QLabel *label_msg;

    std::shared_ptr<SignalingClient> client_;
    bool hostMode_ = false;
    QList<SignalingUser> users_;
    QListWidgetItem *menuItem_ = nullptr;
};
