#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;
class FramelessWidgetHelper;

// A yes/no question; accept (1) only by the confirm button.
class RequestMessageDialog : public QDialog {
    Q_OBJECT

public:
    explicit RequestMessageDialog(const QString &text);
    ~RequestMessageDialog() override;

    void setOkText(const QString &text);
    void setCancelText(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_btn_ok_clicked();
    void on_btn_cancel_clicked();
    void on_btn_close_clicked();

private:
    QLabel *label_msg;
    QPushButton *btn_ok;
    QPushButton *btn_cancel;
    QPushButton *btn_close;
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
