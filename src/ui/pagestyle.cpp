#include "ui/pagestyle.h"

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
        "border-radius: 4px; font-size: 13px;}"
        "QPushButton:hover{background-color: rgba(255,255,255,0.16);}"
        "QPushButton:pressed{background-color: rgba(0,0,0,0.12);}");
}

QString blueButton() {
    return QStringLiteral(
        "QPushButton{background-color: #3F7BD9; color: white; border: none; border-radius: 4px; font-size: "
        "13px;}"
        "QPushButton:hover{background-color: #5590E6;}"
        "QPushButton:pressed{background-color: #2F64B8;}");
}

QString redButton() {
    return QStringLiteral(
        "QPushButton{background-color: #E0544C; color: white; border: none; border-radius: 4px; font-size: "
        "13px;}"
        "QPushButton:hover{background-color: #EA6A62;}"
        "QPushButton:pressed{background-color: #B8413A;}");
}

}  // namespace pagestyle
