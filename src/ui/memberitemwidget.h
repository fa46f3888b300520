#pragma once

#include <QWidget>

class QLabel;

// One row of the member list: device icon and nickname.
class MemberItemWidget : public QWidget {
    Q_OBJECT

public:
    explicit MemberItemWidget(QWidget *parent = nullptr);

    void setDeviceType(int type);
    void setName(const QString &name);
    void setSelected(bool on);

    QString name() const;
    int deviceType() const { return deviceType_; }
    bool isSelected() const { return selected_; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elideName();

    QLabel *label_ico;
    QLabel *label_nackname;
    QString name_;
    int deviceType_ = 0;
    bool selected_ = false;
};
