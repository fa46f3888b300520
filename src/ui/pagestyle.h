#pragma once

#include <QSize>
#include <QString>

// Style sheets shared by the host and watch pages.
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

}  // namespace pagestyle
