#pragma once

#include <QSize>
#include <QString>

#include <initializer_list>

class QBoxLayout;
class QPushButton;
class QWidget;

// Style sheets and parts shared by the host and watch pages.
namespace pagestyle {

// The member-list toggle at the side of the picture: its pictures are drawn for this size.
constexpr QSize kMemListButtonSize{20, 48};

// Shown while the member list is visible (folds it away) and while it is hidden (opens it).
QString foldButton();
QString openButton();

// Buttons of the tool rows: white outline on the blue row, blue, red.
QString lightButton();
QString blueButton();
QString redButton();
// A check box in white on the blue tool row.
QString lightCheckBox();
// The watch bar's volume: white on the bar's blue.
QString volumeSlider();

// The panel at the page's right side that holds the member list (reparented into it).
QWidget *memberPanel(QWidget *page, QWidget *list);

// The tool row's buttons, of one size, added to the row in order.
void addToolButtons(QBoxLayout *row, std::initializer_list<QPushButton *> buttons);

}  // namespace pagestyle
