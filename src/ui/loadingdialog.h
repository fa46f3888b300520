#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QMovie;

// The waiting box shown during the main window's loading delays.
class LoadingDialog : public QDialog {
    Q_OBJECT

public:
    explicit LoadingDialog(QWidget *parent = nullptr);
    ~LoadingDialog() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *widget;
    QLabel *label;
    QLabel *label_2;
    std::shared_ptr<QMovie> movie_;
};
