#pragma once

class QWidget;

// Start-up after the application object exists: the application's name and
// icon, the user's language, the help file (beside the executable or
// installed, translated where it is), message boxes as
// windows, and the main window shown. Returns the main window, which deletes
// itself when closed.
QWidget* startCorvane();
