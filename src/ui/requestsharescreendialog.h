#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;
class FramelessWidgetHelper;

// Asks the host whether a member may project its screen; refuses by itself after 9500 ms.
class RequestShareScreenDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kAutoRefuseMs = 9500;

    explicit RequestShareScreenDialog(QWidget *parent = nullptr);
    ~RequestShareScreenDialog() override;

    void setName(const QString &name);
    int exec() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_btn_ok_clicked();
    void on_btn_cancel_clicked();
    void on_btn_quit_clicked();

private:
    QLabel *label_msg;
    QPushButton *btn_ok;
    QPushButton *btn_cancel;
    QPushButton *btn_quit;
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
