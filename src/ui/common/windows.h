#pragma once

#include <QRect>
#include <QString>
#include <Qt>

class QColor;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPalette;
class QWidget;

// Routines that several windows share.
namespace common {

// Centres the window on its screen (the main window's load step).
void CentreForm(QWidget* window);

// Places a dialog down and to the right of the main window frmServerReg,
// kept on the screen (the wizard's and the properties dialog's load step).
void PlaceForm(QWidget* window);

// Selects the whole text, so that typing replaces it.
void SelectAllText(QLineEdit* edit);
void SelectAllText(QComboBox* combo);

// Replaces the list's items by the remembered machines, selecting none.
void FillMachines(QListWidget* list);
void FillMachines(QComboBox* combo);

// Append the readable names of the option tables and select "[None]".
void FillProtocols(QComboBox* list);
void FillAuthLevels(QComboBox* list);

// Title-bar buttons of the main window and the properties dialog.
inline constexpr Qt::WindowFlags kCloseAndHelpButtons =
    Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint;

// Frames a window as the layouts have them: a dialog window of fixed size
// with only the given title-bar buttons, the icon (none when empty), the
// layout font Arial 8.25, deleted when it closes. The inner parts of its
// composite controls get their accessible names (nameInnerParts), and the
// labels whose "layoutBlue" property is true are drawn in the layout blue,
// kept so when the application's palette changes.
void setupLayoutWindow(QWidget* window, Qt::WindowFlags titleButtons,
                       const QString& icon = QString());

// Sets a font in the way the layouts give them: a family and a point size
// such as 8.25.
void setLayoutFont(QWidget* widget, const QString& family, double pointSize, bool bold = false);

// Context help: every descendant whose "helpTopic" property holds a topic
// number gets that topic of the help file as its What's-This text, and the
// topic's text as its accessible description (its edit field too, when it is
// a composite control), so that a screen reader says what What's-This shows.
// F1 shows the topic of the control with the focus, Shift+F1 starts
// What's-This mode.
void installContextHelp(QWidget* window);

// Gives the inner parts of the window's composite controls the accessible
// names that the layout holds in the control's properties
// "editAccessibleName" (the edit field of a combo box) and
// "listAccessibleName" (the list of a combo box, the tab strip of a tab
// control), where no .ui property can reach them.
void nameInnerParts(QWidget* window);

// Tells assistive technology that a status label shows a new text, so that
// a screen reader reads it without the user moving the focus there.
void announce(QLabel* status);

// A dark colour scheme: the window is darker than the text on it.
bool isDarkScheme(const QPalette& palette);

// The blue of the layouts' highlighted texts on a window of this palette:
// RGB(0, 0, 255) exactly in a light scheme; in a dark one a light azure, as
// light as it must be to read as well as ordinary text should.
QColor layoutBlue(const QPalette& palette);

// Shows every message box of the program as a QMessageBox.
void installMessageBoxes();

}  // namespace common
