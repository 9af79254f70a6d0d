#pragma once

class QComboBox;
class QLineEdit;
class QListWidget;

// Filling the windows' lists and selecting in their edit fields.
namespace common {

// Replaces the list's items by the remembered machines, selecting none. A
// store that cannot be read leaves the list empty and is reported.
void FillMachines(QListWidget* list);
void FillMachines(QComboBox* combo);

// Append the readable names of the option tables and select "[None]".
void FillProtocols(QComboBox* list);
void FillAuthLevels(QComboBox* list);

// Selects the whole text, so that typing replaces it.
void SelectAllText(QLineEdit* edit);
void SelectAllText(QComboBox* combo);

}  // namespace common
