#pragma once

#include <QWidget>

class QLabel;

// One row of the member list: device icon, nickname and, while the host has not let the member in,
// that it waits.
class MemberItemWidget : public QWidget {
    Q_OBJECT

public:
    explicit MemberItemWidget(QWidget *parent = nullptr);

    void setDeviceType(int type);
    void setName(const QString &name);
    void setSelected(bool on);
    // A member the host has not let in yet.
    void setWaiting(bool on);
    bool isWaiting() const { return waiting_; }

    QString name() const;
    int deviceType() const { return deviceType_; }
    bool isSelected() const { return selected_; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elideName();

    QLabel *label_ico;
    QLabel *label_nackname;
    QLabel *label_state;
    QString name_;
    int deviceType_ = 0;
    bool selected_ = false;
    bool waiting_ = false;
};
