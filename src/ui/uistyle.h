#pragma once

#include <QString>

class QWidget;
class QPainter;

// Style sheet snippets and drawing shared by the windows and dialogs.
namespace uistyle {

// "QPushButton{border-image:url(:/img/<base>.png)} :hover … _hover … :pressed … _press" for the
// given three image names.
QString imageButton(const QString &normal, const QString &hover, const QString &pressed);

// Blue push button and plain (outlined) push button of the dialogs.
QString primaryButton();
QString secondaryButton();

// Frameless windows draw a 2-pixel black border of their own unless the system draws one.
void paintFramelessBorder(QWidget *widget);

}  // namespace uistyle
