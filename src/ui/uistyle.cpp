#include "ui/uistyle.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "core/platformflags.h"

namespace uistyle {

QString appTitle() {
    return QCoreApplication::translate("uistyle", "Zu屏幕共享");
}

QString text(const char *colour, int pixels, int look) {
    QString sheet = QStringLiteral("color: %1; font-size: %2px;").arg(QLatin1String(colour)).arg(pixels);
    if (look & Bold)
        sheet += QStringLiteral(" font-weight: bold;");
    if (look & Spaced)
        sheet += QStringLiteral(" letter-spacing: 4px;");
    if (look & Clear)
        sheet += QStringLiteral(" background: transparent;");
    return sheet;
}

QString picture(const char *path) {
    return QStringLiteral("border-image: url(\"%1\");").arg(QLatin1String(path));
}

QString fill(const char *colour) {
    return QStringLiteral("background-color: %1;").arg(QLatin1String(colour));
}

QString areaFill(const QString &name, const char *colour) {
    return QStringLiteral("#%1{background: %2;}").arg(name, QLatin1String(colour));
}

QString roundedBox(const QString &name) {
    return QStringLiteral("#%1{background: white; border-radius: 20px; border: 1px solid %2;}")
        .arg(name, QLatin1String(kEdge));
}

QString imageButton(const QString &normal, const QString &hover, const QString &pressed) {
    return QStringLiteral(
               "QPushButton{border:none;border-image:url(\"%1\");}"
               "QPushButton:hover{border-image:url(\"%2\");}"
               "QPushButton:pressed{border-image:url(\"%3\");}")
        .arg(normal, hover, pressed);
}

QString primaryButton() {
    return QStringLiteral(
        "QPushButton{background-color:#5983A5;color:white;border:none;border-radius:4px;padding:0 14px;}"
        "QPushButton:hover{background-color:#6B95B8;}"
        "QPushButton:pressed{background-color:#466B8A;}"
        "QPushButton:disabled{background-color:#B8C8D6;color:#EEF2F6;}");
}

QString secondaryButton() {
    return QStringLiteral(
        "QPushButton{background-color:white;color:#4A4F57;border:1px solid #C9D1DB;border-radius:4px;"
        "padding:0 14px;}"
        "QPushButton:hover{color:#5983A5;border-color:#5983A5;}"
        "QPushButton:pressed{background-color:#E6EDF4;}");
}

QString outlineOnBlueButton() {
    return QStringLiteral(
        "QPushButton{background: transparent; color: white; border: 1px solid white; border-radius: 4px;"
        "font-size: 13px;} QPushButton:hover{background: rgba(255,255,255,0.16);}");
}

QString whiteOnBlueButton() {
    return QStringLiteral(
        "QPushButton{background: white; color: #5983A5; border: none; border-radius: 4px; font-size: 13px;"
        "font-weight: bold;} QPushButton:hover{background: #E6EDF4;}"
        "QPushButton:disabled{background: rgba(255,255,255,0.45); color: rgba(89,131,165,0.6);}");
}

QString roundButton() {
    return QStringLiteral(
        "QPushButton{border-radius: 19px; border: 1px solid #C9D1DB; background-color: #F2F4F8;}"
        "QPushButton:hover{background-color: white;}"
        "QPushButton:pressed{background-color: #D6E0EA;}");
}

QString lineEdit(const char *textColour) {
    const QString colour =
        textColour ? QStringLiteral("color: %1;").arg(QLatin1String(textColour)) : QString();
    return QStringLiteral(
               "QLineEdit{background: white; border: 1px solid #C9D1DB; border-radius: 4px; padding: 0 6px;"
               "%1font-size: 14px;} QLineEdit:focus{border-color: #5983A5;}")
        .arg(colour);
}

QString tileList() {
    return QStringLiteral(
        "QListWidget{background: transparent; outline: none;} QListWidget::item{border: none;}"
        "QListWidget::item:hover{background: transparent;}");
}

QString tableRows() {
    return QStringLiteral(
        "QListWidget{background: transparent;}"
        "QListWidget::item{border-bottom: 1px solid #E4E9EF;}");
}

QString progressBar() {
    return QStringLiteral(
        "QProgressBar{background-color: #DDE3EA; border: none; border-radius: 4px;}"
        "QProgressBar::chunk{background-color: #5983A5; border-radius: 4px;}");
}

QVBoxLayout *edgeToEdgeColumn(QWidget *widget) {
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

QWidget *styledArea(QWidget *parent, const QString &name, const QString &sheet, int fixedHeight) {
    auto *area = new QWidget(parent);
    area->setObjectName(name);
    area->setAttribute(Qt::WA_StyledBackground, true);
    area->setStyleSheet(sheet);
    if (fixedHeight >= 0)
        area->setFixedHeight(fixedHeight);
    return area;
}

QPushButton *titleCloseButton(QWidget *parent, const QString &name) {
    auto *button = new QPushButton(parent);
    button->setObjectName(name);
    button->setFixedSize(36, 36);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(QCoreApplication::translate("uistyle", "关闭"));
    button->setStyleSheet(imageButton(":/img/close.png", ":/img/close_hover.png", ":/img/close_press.png"));
    return button;
}

void centreOver(QWidget *window, const QWidget *area) {
    const QPoint middle = area->mapToGlobal(QPoint(area->width() / 2, area->height() / 2));
    window->move(middle - QPoint(window->width() / 2, window->height() / 2));
}

void paintFramelessBorder(QWidget *widget) {
    if (isWin10)
        return;
    widget->setContentsMargins(1, 1, 1, 1);
    QPainter painter(widget);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(widget->rect());
}

}  // namespace uistyle
