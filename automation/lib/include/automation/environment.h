#pragma once

#include <automation/status.h>

#include <QString>
#include <QtGlobal>

// Where the automation layer's files and sockets live, the settings it takes
// from the environment, and the checks that keep other users out of them.
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

// How much of a directory belongs to this user.
enum class Privacy {
    Private,  // ours, mode 0700: sockets and keys live there
    Owned,    // ours and writable by no one else
};

// Creates path when missing (with the parents it needs, each with mode 0700
// whatever the umask), then checks it with lstat: a directory, not a symbolic link, owned
// by this user, and as private as asked. Nothing is changed on an existing
// directory; one that fails the check is refused with the reason.
Status makeOwnDirectory(const QString& path, Privacy privacy);

// The same check without creating anything.
Status checkOwnDirectory(const QString& path, Privacy privacy);

// Refuses a symbolic link at path, dangling or not: files of the automation
// layer are created and opened where they are named, never at a link's target.
Status refuseSymlink(const QString& path, Error error = Error::StoreFailure);

// The directory of the servers' sockets: $XDG_RUNTIME_DIR/automation, or
// automation-UID under the temporary directory when XDG_RUNTIME_DIR is unset.
// Checked on every call: a private directory of this user or nothing.
Status socketDirectory(QString* directory);

// The local socket on which the server executable listens when activated.
// Client and server derive it from the executable's canonical path.
Status serverSocketPath(const QString& executable, QString* path);

// The local socket on which automation-host, process pid, takes its user's
// answers to pairing requests: PairingSocketPrefix and the pid, in
// socketDirectory().
inline constexpr char PairingSocketPrefix[] = "pairing-";
Status pairingSocketPath(qint64 pid, QString* path);
// $XDG_CONFIG_HOME/automation (~/.config/automation): identity and trust files.
QString configDirectory();

}  // namespace automation
