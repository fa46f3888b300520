#pragma once

#include <QString>

class QPushButton;
class QVBoxLayout;
class QWidget;

// Style sheet snippets and drawing shared by the windows and dialogs.
namespace uistyle {

// "QPushButton{border-image:url(:/img/<base>.png)} :hover … _hover … :pressed … _press" for the
// given three image names.
QString imageButton(const QString &normal, const QString &hover, const QString &pressed);

// Blue push button and plain (outlined) push button of the dialogs.
QString primaryButton();
QString secondaryButton();

// A vertical layout that fills the widget edge to edge, without spacing.
QVBoxLayout *edgeToEdgeColumn(QWidget *widget);

// A child area named for its form that paints the background its style sheet gives; fixedHeight < 0
// leaves the height to the layout.
QWidget *styledArea(QWidget *parent, const QString &name, const QString &sheet, int fixedHeight = -1);

// The close cross of a blue title bar: 36 × 36, outside the focus chain.
QPushButton *titleCloseButton(QWidget *parent, const QString &name);

// Frameless windows draw a 2-pixel black border of their own unless the system draws one.
void paintFramelessBorder(QWidget *widget);

}  // namespace uistyle
