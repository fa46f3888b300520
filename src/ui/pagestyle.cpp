#include "ui/pagestyle.h"

#include <QBoxLayout>
#include <QPushButton>
#include <QWidget>

#include "ui/uistyle.h"

namespace pagestyle {

QString foldButton() {
    return uistyle::imageButton(":/img/fold_default.png", ":/img/fold_hover.png", ":/img/fold_press.png");
}

QString openButton() {
    return uistyle::imageButton(":/img/open_default.png", ":/img/open_hover.png", ":/img/opend_press.png");
}

QString lightButton() {
    return QStringLiteral(
        "QPushButton{background-color: transparent; color: white; border: 1px solid rgba(255,255,255,0.85);"
        "border-radius: 4px; font-size: 13px; padding: 0 8px;}"
        "QPushButton:hover{background-color: rgba(255,255,255,0.16);}"
        "QPushButton:pressed{background-color: rgba(0,0,0,0.12);}");
}

QString blueButton() {
    return QStringLiteral(
        "QPushButton{background-color: #3F7BD9; color: white; border: none; border-radius: 4px; font-size: "
        "13px; padding: 0 8px;}"
        "QPushButton:hover{background-color: #5590E6;}"
        "QPushButton:pressed{background-color: #2F64B8;}");
}

QString redButton() {
    return QStringLiteral(
        "QPushButton{background-color: #E0544C; color: white; border: none; border-radius: 4px; font-size: "
        "13px; padding: 0 8px;}"
        "QPushButton:hover{background-color: #EA6A62;}"
        "QPushButton:pressed{background-color: #B8413A;}");
}

QString lightCheckBox() {
    return QStringLiteral(
        "QCheckBox{color: white; font-size: 13px; spacing: 6px;}"
        "QCheckBox::indicator{width: 14px; height: 14px; border: 1px solid white; border-radius: 3px;"
        "background: transparent;}"
        "QCheckBox::indicator:checked{background: white; image: url(:/img/check_blue.png);}");
}

QString volumeSlider() {
    return QStringLiteral(
        "QSlider::groove:horizontal{height: 4px; background: rgba(255, 255, 255, 90); border-radius: 2px;}"
        "QSlider::sub-page:horizontal{background: white; border-radius: 2px;}"
        "QSlider::handle:horizontal{width: 12px; margin: -5px 0; background: white; border-radius: 6px;}");
}

QString checkBox() {
    return QStringLiteral("QCheckBox{color: #4A4F57; font-size: 13px; spacing: 6px;}");
}

CreateShareLook createShareLook(bool large) {
    const int height = large ? 48 : 36;
    return {large ? QSize(144, 48) : QSize(105, 36),
            large ? QStringLiteral(":/img/button_max.png") : QStringLiteral(":/img/button_mix.png"),
            height / 3, height - 2};
}

QString createShareButton(const CreateShareLook &look) {
    return QStringLiteral(
               "QPushButton{border:none;background:transparent;color:white;font-size:%1px;padding-left:%2px;"
               "padding-right:2px;}")
        .arg(look.fontSize)
        .arg(look.textLeft);
}

QString hostTile(const QString &name, bool selected) {
    return selected ? QStringLiteral("#%1{background-color: %2; border-radius: 4px;}")
                          .arg(name, QLatin1String(uistyle::kSelectedTile))
                    : uistyle::areaFill(name, "transparent");
}

QString webPanel(const QString &name) {
    return QStringLiteral("#%1{background: white; border-radius: 6px;}").arg(name);
}

QString memberRows() {
    return QStringLiteral(
        "QListWidget{background: transparent; outline: none;}"
        "QListWidget::item{border: none;} QListWidget::item:selected{background: transparent;}");
}

QString memberMenu() {
    return QStringLiteral(
        "QMenu{background-color: white;} QMenu::item{background-color: transparent; padding: 10px 10px;"
        "margin: 0px 0px; color: #0B0B0B;} QMenu::item:selected{color: #5983A5;}");
}

QWidget *memberPanel(QWidget *page, QWidget *list) {
    auto *panel = new QWidget(page);
    panel->setObjectName(QStringLiteral("memwidget"));
    panel->setAttribute(Qt::WA_StyledBackground, true);
    panel->setStyleSheet(uistyle::areaFill(panel->objectName(), uistyle::kPanel));
    panel->setFixedWidth(160);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    list->setParent(panel);
    layout->addWidget(list);
    return panel;
}

void addToolButtons(QBoxLayout *row, std::initializer_list<QPushButton *> buttons) {
    for (QPushButton *b : buttons) {
        // One width for the row, unless a longer text needs more (the sheets keep 8 pixels beside it).
        b->setMinimumWidth(85);
        b->setFixedHeight(32);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        b->setCursor(Qt::PointingHandCursor);
        row->addWidget(b);
    }
}

}  // namespace pagestyle
