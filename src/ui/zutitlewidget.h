#pragma once

#include <QObjectList>
#include <QWidget>

class QLabel;
class QPushButton;

// The main window's title bar: logo, name, minimize, maximize/restore and close.
class ZuTitleWidget : public QWidget {
    Q_OBJECT

public:
    explicit ZuTitleWidget(QWidget *parent = nullptr);

    // The controls that stay clickable inside the drag band: close, max, min.
    QObjectList titleObjects() const;
    void showRestoreIcon();
    void showMaximizeIcon();

signals:
    void sigCloseClicked();
    void sigMaxOrNornalClicked();
    void sigMinClicked();

private:
    QLabel *label_title;
    QLabel *label_name;
    QPushButton *minButton;
    QPushButton *maxButton;
    QPushButton *closeButton;
};
