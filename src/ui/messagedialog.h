#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;
class FramelessWidgetHelper;

// One message and an OK button; every error and warning of the pages.
class MessageDialog : public QDialog {
    Q_OBJECT

public:
    explicit MessageDialog(const QString &text);
    ~MessageDialog() override;

    QString text() const;
    // exec(), unless a message of this kind is already up: a peer that repeats a failure must not
    // pile dialogs on top of each other. Rejected when it was not shown.
    int execAlone();

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_btn_ok_clicked();
    void on_btn_close_clicked();

private:
    QLabel *label;
    QLabel *label_msg;
    QPushButton *btn_ok;
    QPushButton *btn_close;
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
