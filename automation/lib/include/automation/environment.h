#pragma once

#include <QString>
#include <QtGlobal>

// Where the automation layer's files and sockets live, and the settings it
// takes from the environment.
namespace automation {

// TCP port of automation-host when AUTOMATION_HOST_PORT does not name another.
inline constexpr quint16 DefaultHostPort = 47610;

// How long a server started with -Embedding stays up with no object and no
// client, when AUTOMATION_SERVER_IDLE_MS does not say otherwise.
inline constexpr int DefaultServerIdleMs = 5000;

// AUTOMATION_HOST_PORT when it holds a port number (1-65535), else the default.
quint16 hostPort();

// AUTOMATION_SERVER_IDLE_MS when it holds a number of milliseconds (>= 0).
int serverIdleMs();

// Creates path (and its parents) when missing, the last part with mode 0700.
// An existing directory is used as it is. False with the reason on failure.
bool makePrivateDirectory(const QString& path, QString* error);

// The directory of the servers' sockets: $XDG_RUNTIME_DIR/automation, or a
// directory of this user's own under the temporary directory when
// XDG_RUNTIME_DIR is unset. Empty, with the reason, when it cannot be made.
QString socketDirectory(QString* error = nullptr);

// The local socket on which the server executable listens when activated.
// Client and server derive it from the executable's canonical path.
QString serverSocketPath(const QString& executable, QString* error = nullptr);

}  // namespace automation
