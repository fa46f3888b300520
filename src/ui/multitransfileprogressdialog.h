#pragma once

#include <QDialog>
#include <QHash>

#include <memory>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class FramelessWidgetHelper;
class TransferProgressItem;

// Progress of a batch the host sends to every member, one row per member.
class MultiTransFileProgressDialog : public QDialog {
    Q_OBJECT

public:
    explicit MultiTransFileProgressDialog(QWidget *parent = nullptr);
    ~MultiTransFileProgressDialog() override;

    void addMember(const QString &id, const QString &nickName);
    void setMemberProgress(const QString &id, int value);
    void setMemberState(const QString &id, const QString &text);
    void setTransferRunning(bool running);

    int memberCount() const { return rows_.size(); }
    TransferProgressItem *memberRow(const QString &id) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPushButton *btn_close;
    QWidget *widget_3;
    QLabel *label_nickname;
    QLabel *label_progress;
    QListWidget *listWidget;
    std::shared_ptr<FramelessWidgetHelper> helper_;
    QHash<QString, QListWidgetItem *> rows_;
    bool running_ = false;
};
