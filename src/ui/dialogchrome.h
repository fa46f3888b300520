#pragma once

#include <QString>

class QDialog;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;
class FramelessWidgetHelper;

// The outer form shared by the small frameless dialogs: a blue title bar "widget" 36 pixels high with
// an optional title text and a close button, and a grey body "widget_2".
struct DialogChrome {
    QWidget *titleBar = nullptr;
    QLabel *titleLabel = nullptr;  // only when a title object name was given
    QPushButton *closeButton = nullptr;
    QWidget *body = nullptr;
    QVBoxLayout *bodyLayout = nullptr;

    static DialogChrome build(QDialog *dialog, const QString &closeName, const QString &titleName = QString(),
                              const QString &titleText = QString());
    // A helper with no maximize/minimize, a 36-pixel drag band and the close button clickable; resize
    // bands are turned off unless resizable.
    static FramelessWidgetHelper *makeHelper(QDialog *dialog, QPushButton *closeButton,
                                             bool resizable = false);
    // Asks, centred over the dialog, whether a running transfer may be abandoned; true when confirmed.
    static bool confirmAbandonTransfer(QDialog *dialog);
};
