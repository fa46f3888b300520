#pragma once

#include <QDialog>

#include <memory>

#include "rtc/admissionqueue.h"

class QLabel;
class QPushButton;
class FramelessWidgetHelper;

// Asks the host whether a member who joined may watch: its nickname, address and kind of device,
// with refuse, admit and, while others wait behind it, admit all waiting. Closing it refuses, and
// Enter refuses too: nobody is let in by a stray key press.
class AdmitMemberDialog : public QDialog {
    Q_OBJECT

public:
    enum Answer { Refuse = QDialog::Rejected, Admit = QDialog::Accepted, AdmitAll = 2, Withdrawn = 3 };

    explicit AdmitMemberDialog(const AdmissionQueue::Member &member, QWidget *parent = nullptr);
    ~AdmitMemberDialog() override;

    QString memberId() const { return member_.id; }
    // How many wait, this member included.
    void setWaitingCount(int count);
    // The member is not waiting any more (it left, or the share ended): closes without an answer.
    void withdraw() { done(Withdrawn); }

    static QString kindText(AdmissionQueue::Kind kind);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    AdmissionQueue::Member member_;
    QLabel *message_;
    QLabel *others_;
    QPushButton *admitAll_;
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
