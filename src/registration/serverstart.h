#pragma once

#include <QString>

// Starting a server executable so that it registers its classes, and asking
// whether one is registered already.
namespace registration {

// Starts the program at path as a new process, without arguments, without a
// shell and without waiting for it. The path is taken whole, blanks included;
// a relative path names a file in the current directory (never one found
// through PATH). False, with a sentence saying why in *reason, when the
// program could not be started.
bool StartServer(const QString& path, QString* reason = nullptr);

enum class ServerRegistration {
    NotRegistered,  // no class names the file as its server
    Registered,     // some class does
    Unreadable,     // the class registration could not be read
};

// Whether some class is registered with the executable at path as its server:
// the same file, by whatever name, link or relative path it is reached (a
// relative path names a file in the current directory). With Unreadable,
// *reason says why.
ServerRegistration FindServerRegistration(const QString& path, QString* reason = nullptr);

}  // namespace registration
