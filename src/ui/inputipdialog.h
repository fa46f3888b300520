#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class FramelessWidgetHelper;

// Asks for the IPv4 address of a share to join; "加入分享" works only for a complete address.
class InputIpDialog : public QDialog {
    Q_OBJECT

public:
    explicit InputIpDialog(QWidget *parent = nullptr);
    ~InputIpDialog() override;

    QString ip() const { return ip_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void onAddressEdited(const QString &text);
    void join();

    QLabel *label;
    QLineEdit *edit_ip;
    QPushButton *btn_join;
    QPushButton *btn_close;
    std::unique_ptr<FramelessWidgetHelper> helper_;
    QString ip_;
};
