#pragma once

#include <QString>

class QDialog;
class QHBoxLayout;
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
    QHBoxLayout *buttonRow = nullptr;  // made by the first addButton

    static DialogChrome build(QDialog *dialog, const QString &closeName, const QString &titleName = QString(),
                              const QString &titleText = QString());
    // The dialog's message: centred, wrapped, taking the body's free height.
    QLabel *addMessage(const QString &name, const QString &text);
    // A button of the centred row at the foot of the body, after those added before; at least
    // 80 × 30, wider for a longer text. Primary is the blue confirm button, else the outlined one.
    QPushButton *addButton(const QString &name, const QString &text, bool primary);

    // A helper with no maximize/minimize, a 36-pixel drag band and the close button clickable; resize
    // bands are turned off unless resizable.
    static FramelessWidgetHelper *makeHelper(QDialog *dialog, QPushButton *closeButton,
                                             bool resizable = false);
    // Closes (accepts) a transfer's dialog: at once when nothing runs, else once the user, asked over
    // it, confirms that the running transfer may be abandoned. A transfer that ends while the
    // question is up takes the question with it.
    static void closeTransferDialog(QDialog *dialog, bool running);
};
