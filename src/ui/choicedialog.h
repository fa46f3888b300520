#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;
class FramelessWidgetHelper;

// A yes/no question in the shared dialog frame: the question centred in the body above a centred row
// of cancel and confirm buttons. Only the confirm button accepts (1); cancel and the title close
// button reject (0). The concrete dialogs differ in texts, sizes and form object names.
class ChoiceDialog : public QDialog {
    Q_OBJECT

public:
    ~ChoiceDialog() override;

protected:
    ChoiceDialog(QWidget *parent, const QString &closeName, const QString &messageName, const QString &text,
                 const QString &okText);
    void paintEvent(QPaintEvent *event) override;

    QLabel *message_;
    QPushButton *btn_ok;
    QPushButton *btn_cancel;
    QPushButton *closeButton_;

private:
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
