#pragma once

#include "ui/choicedialog.h"

// Asks the host to confirm ending the share; only "退出" accepts.
class QuitShareDialog : public ChoiceDialog {
    Q_OBJECT

public:
    explicit QuitShareDialog(QWidget *parent = nullptr);
};
