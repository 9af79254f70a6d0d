#pragma once

class QWidget;

// Where the windows open, from the layouts' positions in twips.
namespace common {

// Centres the window on its screen (the main window's and the test window's
// load step).
void CentreForm(QWidget* window);

// Places a dialog down and to the right of anchor, the main window that
// opened it, kept on the screen (the wizard's and the properties dialog's
// load step). Without an anchor the screen's corner stands in for it.
void PlaceForm(QWidget* window, const QWidget* anchor);

}  // namespace common
