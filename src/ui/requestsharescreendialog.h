#pragma once

#include <QTimer>

#include "ui/choicedialog.h"

// Asks the host whether a member may project its screen; refuses by itself after 9500 ms.
class RequestShareScreenDialog : public ChoiceDialog {
    Q_OBJECT

public:
    static constexpr int kAutoRefuseMs = 9500;

    explicit RequestShareScreenDialog(QWidget *parent = nullptr);

    void setName(const QString &name);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer autoRefuse_;
};
