#pragma once

class QLabel;
class QWidget;

// What assistive technology needs beyond the layouts' own names.
namespace common {

// Gives the inner parts of the window's composite controls the accessible
// names that the layout holds in the control's properties
// "editAccessibleName" (the edit field of a combo box) and
// "listAccessibleName" (the list of a combo box, the tab strip of a tab
// control), where no .ui property can reach them.
void nameInnerParts(QWidget* window);

// Tells assistive technology that a status label shows a new text, so that
// a screen reader reads it without the user moving the focus there.
void announce(QLabel* status);

}  // namespace common
