#pragma once

#include "app/result.h"

#include <QString>

// Message boxes as windows, and the words the user is told when a routine of
// the core failed.
namespace common {

// Shows every message box of the program as a QMessageBox.
void installMessageBoxes();

// The message that tells the user about a failure.
QString failureText(const app::Failure& failure);

// A reason of the automation layer as a sentence that another may follow:
// with its closing full stop.
QString asSentence(const QString& reason);

// Shows the message for a failure with the flags and title the program uses
// for it; nothing for a repeated one, which the user has seen already.
void reportFailure(const app::Failure& failure);

// Reports the failure of a routine, if it failed; true when it succeeded.
template <typename T>
bool report(const app::Result<T>& result) {
    if (result.failure())
        reportFailure(*result.failure());
    return result.ok();
}

}  // namespace common
