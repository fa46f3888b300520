#pragma once

#include <QList>
#include <QSet>
#include <QWidget>

#include <memory>

#include "signaling/signalingtypes.h"

class QLabel;
class QLayout;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class SignalingClient;

// Who takes part in the share: the host first, then every user the signaling server reports. In host
// mode each member row has a menu to send it a file (or let it in while it waits) or cut it off.
class MemberListWidget : public QWidget {
    Q_OBJECT

public:
    explicit MemberListWidget(QWidget *parent = nullptr);
    ~MemberListWidget() override;

    void setHostMode(bool on);
    void setSignalingClient(std::shared_ptr<SignalingClient> client);
    QStringList memberIds() const;
    QString nickName(const QString &id) const;
    // The members the host has not let in yet; their rows say so and offer to admit them.
    void setWaiting(const QSet<QString> &ids);
    QSet<QString> waiting() const { return waiting_; }

signals:
    void refreshUsersBtnClicked();
    void sigCancelShareClicked(QString id);
    void sigTransferFileClicked(QString id);
    void sigAdmitClicked(QString id);

public slots:
    void onAlluserRefreshed(QList<SignalingUser> lst);

private slots:
    // The host's menu of the member row at pos.
    void showMemberMenu(QPoint pos);

private:
    QLayout *buildHeader();
    QWidget *buildEmptyState();
    void onTransferFileClicked();
    void onCancelShareClicked();
    void onAdmitClicked();
    void onCurrentRowChanged(QListWidgetItem *current, QListWidgetItem *previous);
    // The member of the row the menu was opened on; empty when that row is gone.
    QString menuMember() const;

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
    QSet<QString> waiting_;
    QListWidgetItem *menuItem_ = nullptr;
};
