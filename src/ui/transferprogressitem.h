#pragma once

#include <QWidget>

class QLabel;

// One member's row in the batch transfer dialog: nickname and progress text.
class TransferProgressItem : public QWidget {
    Q_OBJECT

public:
    explicit TransferProgressItem(QWidget *parent = nullptr);

    void setTexts(const QString &nickName, const QString &progress);
    void setProgressText(const QString &text);

    QString nickNameText() const;
    QString progressText() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elideName();

    QLabel *label_nickname;
    QLabel *label_progress;
    QString fullName_;
};
