#pragma once

#include <QString>

class QPushButton;
class QVBoxLayout;
class QWidget;

// The style sheets of the interface, with the parts and drawing that the windows and dialogs share;
// the pages' own sheets and parts are in pagestyle. No other file writes a style sheet.
namespace uistyle {

// The interface's colours.
constexpr char kBlue[] = "#5983A5";              // title bars, tool rows, highlights
constexpr char kPanel[] = "#F2F4F8";             // side panels and dialog bodies
constexpr char kDark[] = "#3B3B40";              // behind the pictures
constexpr char kShade[] = "rgba(0, 0, 0, 79%)";  // a bar over a picture
constexpr char kInk[] = "#333840";               // text
constexpr char kGreyInk[] = "#4A4F57";           // quieter text
constexpr char kHint[] = "#8A929C";              // hints and empty lists
constexpr char kBorder[] = "#C9D1DB";            // edges of fields and outlined buttons
constexpr char kBand[] = "#E4E9EF";              // header band and row lines of a table
constexpr char kBandInk[] = "#6A717B";           // text on that band
constexpr char kDone[] = "#3C9A5F";              // a transfer that has finished
constexpr char kWaiting[] = "#D08A1C";           // a member the host has not let in yet
constexpr char kWarning[] = "#FFE08A";           // a warning on the blue tool row
constexpr char kOnDark[] = "#E6E9ED";            // text on the dark page
constexpr char kHeading[] = "#333333";           // the heading of a white panel on the dark page
constexpr char kQuiet[] = "#808080";             // a hint on that panel
constexpr char kLink[] = "#2E6DA4";              // an address to open
constexpr char kSelectedTile[] = "#CDE1F2";
constexpr char kSelectedRow[] = "#DFEDF8";
constexpr char kEdge[] = "#DDE3EA";  // a thin edge, and the empty part of a progress bar

// The program's name as the window titles and the title bar show it, in the user's language.
QString appTitle();

// How a label's text looks besides its colour and size; the flags combine.
enum TextLook { Regular = 0, Bold = 1, Spaced = 2, Clear = 4 /* no background of its own */ };
// A label's text.
QString text(const char *colour, int pixels, int look = Regular);
// A label that shows the picture at path, stretched over the label.
QString picture(const char *path);
// The background of a widget and, unless they paint their own, of everything inside it.
QString fill(const char *colour);
// The background of the widget named name alone.
QString areaFill(const QString &name, const char *colour);
// The loading box named name: white and rounded, with a thin edge.
QString roundedBox(const QString &name);

// "QPushButton{border-image:url(:/img/<base>.png)} :hover … _hover … :pressed … _press" for the
// given three image names.
QString imageButton(const QString &normal, const QString &hover, const QString &pressed);
// Blue push button and plain (outlined) push button of the dialogs.
QString primaryButton();
QString secondaryButton();
// The buttons of a blue button bar: outlined in white (cancel) and white (confirm).
QString outlineOnBlueButton();
QString whiteOnBlueButton();
// The round buttons over a projected screen; the thin ring keeps them visible over a light picture.
QString roundButton();
// An entry field; without textColour the text takes the palette's colour.
QString lineEdit(const char *textColour = nullptr);
// A list that holds rows of tiles: no frame, no selection colour, no focus mark.
QString tileList();
// The rows of a table, a line under each.
QString tableRows();
QString progressBar();

// A vertical layout that fills the widget edge to edge, without spacing.
QVBoxLayout *edgeToEdgeColumn(QWidget *widget);

// A child area named for its form that paints the background its style sheet gives; fixedHeight < 0
// leaves the height to the layout.
QWidget *styledArea(QWidget *parent, const QString &name, const QString &sheet, int fixedHeight = -1);

// The close cross of a blue title bar: 36 × 36, outside the focus chain.
QPushButton *titleCloseButton(QWidget *parent, const QString &name);

// Moves a window so that its middle is over the middle of area.
void centreOver(QWidget *window, const QWidget *area);

// Frameless windows draw a 2-pixel black border of their own unless the system draws one.
void paintFramelessBorder(QWidget *widget);

}  // namespace uistyle
