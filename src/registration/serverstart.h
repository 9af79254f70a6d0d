#pragma once

#include <QString>

// Starting a server executable so that it registers its classes.
namespace registration {

// Starts the program at path as a new process, without arguments, without a
// shell and without waiting for it. The path is taken whole, blanks included;
// a relative path names a file in the current directory (never one found
// through PATH). False, with a sentence saying why in *reason, when the
// program could not be started.
bool StartServer(const QString& path, QString* reason = nullptr);

}  // namespace registration
