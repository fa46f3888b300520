#pragma once

#include "ui/choicedialog.h"

// Asks the host whether a member may project its screen; refuses by itself after 9500 ms.
class RequestShareScreenDialog : public ChoiceDialog {
    Q_OBJECT

public:
    static constexpr int kAutoRefuseMs = 9500;

    explicit RequestShareScreenDialog(QWidget *parent = nullptr);

    void setName(const QString &name);
    int exec() override;

private slots:
    void on_btn_quit_clicked();
};
