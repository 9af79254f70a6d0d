#pragma once

// Start by socket activation: the service manager (systemd, or anything that
// passes sockets the same way) listens for the host and starts it on the
// first connection, handing over the listening sockets.

#include <QList>
#include <QString>

namespace automation {

class Host;

// The listening TCP sockets passed in through LISTEN_FDS and LISTEN_PID; none
// when the host was started by hand. The variables are removed and the
// sockets closed on exec, so that the servers the host starts inherit
// neither. False, with the reason, when a passed descriptor is not a listening
// TCP socket.
bool passedListeningSockets(QList<int>* descriptors, QString* error);

// Ends the program (exit code 0) once host has had no connection for idleMs.
// A client still waiting to be accepted on one of the listening descriptors,
// or one whose handshake is under way, keeps it running; 0 never ends it.
void exitWhenIdle(Host* host, const QList<int>& listening, int idleMs);

}  // namespace automation
