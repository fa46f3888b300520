#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;
class FramelessWidgetHelper;

// Asks the host to confirm ending the share; only "退出" accepts.
class QuitShareDialog : public QDialog {
    Q_OBJECT

public:
    explicit QuitShareDialog(QWidget *parent = nullptr);
    ~QuitShareDialog() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_btn_ok_clicked();
    void on_btn_cancel_clicked();
    void on_closeButton_clicked();

private:
    QLabel *label;
    QPushButton *btn_ok;
    QPushButton *btn_cancel;
    QPushButton *closeButton;
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
