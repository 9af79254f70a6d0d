#pragma once

#include "app/result.h"

#include <QString>

// Starting a server executable so that it registers its classes, and asking
// whether one is registered already.
namespace registration {

// Starts the program at path as a new process, without arguments, without a
// shell and without waiting for it. The path is taken whole, blanks included;
// a relative path names a file in the current directory (never one found
// through PATH). A ServerNotStarted failure, its reason a sentence saying
// why, when the program could not be started.
app::Result<> startServer(const QString& path);

// Whether some class is registered with the executable at path as its server:
// the same file, by whatever name, link or relative path it is reached (a
// relative path names a file in the current directory). A
// RegistrationUnreadable failure when the class registration could not be read.
app::Result<bool> isServerRegistered(const QString& path);

}  // namespace registration
