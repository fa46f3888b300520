#pragma once

#include "ui/fileprogressdialog.h"

// Progress of a file the host sends to one member.
class SingleTransFileProgressDialog : public FileProgressDialog {
    Q_OBJECT

public:
    explicit SingleTransFileProgressDialog(QWidget *parent = nullptr);
};
