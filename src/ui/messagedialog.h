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
    explicit MessageDialog(const QString &text, QWidget *parent = nullptr);
    ~MessageDialog() override;

    QString text() const;

    // Shows text centred over area, modal to area's window, and returns at once; the dialog deletes
    // itself once answered.
    static MessageDialog *openOver(QWidget *area, const QString &text);
    // The same, unless another message opened this way is still up (then null): a peer that repeats a
    // failure must not pile dialogs on top of each other.
    static MessageDialog *openAloneOver(QWidget *area, const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *label;
    QLabel *label_msg;
    QPushButton *btn_ok;
    QPushButton *btn_close;
    std::unique_ptr<FramelessWidgetHelper> helper_;
};
