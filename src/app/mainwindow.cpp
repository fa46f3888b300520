#include "mainwindow.h"

#include <QLabel>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    if (objectName().isEmpty()) {
        setObjectName("MainWindow");
    }
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    resize(943, 524);
    setMinimumSize(900, 480);
    setWindowTitle(QStringLiteral("Zu屏幕共享"));
    auto *label = new QLabel(QStringLiteral("Zu屏幕共享"), this);
    label->setAlignment(Qt::AlignCenter);
    setCentralWidget(label);
}
