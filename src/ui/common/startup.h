#pragma once

class QWidget;

namespace common {

// Start-up after the application object exists: the help file (beside the
// executable or installed), message boxes as windows, and the main window shown. Returns
// the main window, which deletes itself when closed.
QWidget* StartCorvane();

}  // namespace common
