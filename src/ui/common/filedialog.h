#pragma once

#include <QString>

#include <optional>

class QWidget;

// Every file dialog of the program goes through getOpenFileName. It shows a
// real QFileDialog (Qt's own, not the platform's), so that tests can find and
// drive it like any other modal window; tests may also answer the next call
// through the one-shot hook below.
namespace common {

// Shows a file-open dialog over parent for one existing file. filter is in
// Qt's syntax ("Name (*.a *.b);;Other (*.c)"); a name typed without a suffix
// gets defaultSuffix. Returns the chosen file's full path, or nothing when the
// user cancelled.
std::optional<QString> getOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                       const QString& defaultSuffix);

// Test hook: the next getOpenFileName shows no dialog and answers fileName;
// std::nullopt answers as if the user had cancelled.
void setNextFileName(std::optional<QString> fileName);
// Forgets an answer that no dialog has taken.
void resetFileDialogHook();

}  // namespace common
