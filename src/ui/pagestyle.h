#pragma once

#include <QSize>
#include <QString>

#include <initializer_list>

class QBoxLayout;
class QPushButton;
class QWidget;

// The pages' own style sheets and the parts that the host and watch pages share; the colours and
// the sheets of the windows and dialogs are in uistyle.
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
// A check box on the start page's white.
QString checkBox();
// The start page's create-share button, in its small look and the large one shown under the pointer:
// the size its picture is drawn for, the picture, and its white text, which starts right of the
// picture's sign.
struct CreateShareLook {
    QSize size;
    QString picture;
    int fontSize;
    int textLeft;
};
CreateShareLook createShareLook(bool large);
// The style of that text (the button draws the picture itself).
QString createShareButton(const CreateShareLook &look);
// A share's tile on the start page, named name, as it looks selected and not.
QString hostTile(const QString &name, bool selected);
// The white panel with the attendee page's address and code on the dark host page.
QString webPanel(const QString &name);
// The member list's rows, and the menu of a member's row.
QString memberRows();
QString memberMenu();

// The panel at the page's right side that holds the member list (reparented into it).
QWidget *memberPanel(QWidget *page, QWidget *list);

// The tool row's buttons, of one height and at least one width, added to the row in order.
void addToolButtons(QBoxLayout *row, std::initializer_list<QPushButton *> buttons);

}  // namespace pagestyle
