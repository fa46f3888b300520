#pragma once

#include "ui/choicedialog.h"

// A yes/no question with changeable button texts; accept (1) only by the confirm button.
class RequestMessageDialog : public ChoiceDialog {
    Q_OBJECT

public:
    explicit RequestMessageDialog(const QString &text, QWidget *parent = nullptr);

    void setOkText(const QString &text);
    void setCancelText(const QString &text);
};
