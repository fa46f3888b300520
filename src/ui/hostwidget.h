#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;

// One share found on the LAN: a computer icon labelled with the last number of the host's address.
class HostWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kToolTipDelayMs = 2000;

    explicit HostWidget(QWidget *parent = nullptr);

    void setIp(const QString &ip);
    QString ip() const { return ip_; }
    void setSelected(bool on);
    bool isSelected() const { return selected_; }
    QString labelText() const;

signals:
    void sigClicked();
    void sigDoubleClicked();

private slots:
    void onTimeOut();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QString ip_;
    bool selected_ = false;
    QTimer timer_;
    QLabel *label_ico;
    QLabel *label_ip;
};
