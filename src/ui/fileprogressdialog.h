#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class FramelessWidgetHelper;

// The progress dialog of one file, sent or received; the two concrete dialogs differ in texts and in
// the name of their close button.
class FileProgressDialog : public QDialog {
    Q_OBJECT

public:
    ~FileProgressDialog() override;

    void setProgress(int value);
    int progress() const { return progress_; }
    void setTransferRunning(bool running);

protected:
    FileProgressDialog(QWidget *parent, const QString &closeName, const QString &text);
    void paintEvent(QPaintEvent *event) override;

    QPushButton *closeButton_;
    QLabel *label;
    QProgressBar *progressBar;
    QLabel *label_progress;
    QLabel *label_done;
    QPushButton *btn_ok;

private:
    int progress_ = 0;
    std::unique_ptr<FramelessWidgetHelper> helper_;
    bool running_ = false;
};
