#pragma once

#include "ui/fileprogressdialog.h"

// Progress of a file an attendee receives from the host.
class ReceiveFileDialog : public FileProgressDialog {
    Q_OBJECT

public:
    explicit ReceiveFileDialog(QWidget *parent = nullptr);
};
