#pragma once

#include "ui/fileprogressdialog.h"

// Progress of a file an attendee receives from the host.
class ReceiveFileDialog : public FileProgressDialog {
    Q_OBJECT

public:
    explicit ReceiveFileDialog(QWidget *parent = nullptr);

private slots:
    void on_pushButton_clicked();
    void on_btn_ok_clicked();
};
