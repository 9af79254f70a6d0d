#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

namespace automation {

// Who is at the other end of an accepted TCP connection, for counting
// unauthenticated connections fairly: the user that owns the other end when
// it is on this machine (loopback), else the address (IPv4) or the /64
// network (IPv6) it comes from.
struct ClientOrigin {
    QString key;    // e.g. "local user 1000", "address 192.0.2.7", "network 2001:db8:0:1::/64"
    QString shown;  // the address and port, for log lines
};
ClientOrigin originOf(int descriptor);

// The user owning the socket at the other end of a loopback TCP connection,
// as the kernel's socket diagnostics (sock_diag) tell it; nothing when the
// peer is not on loopback or the kernel does not say.
std::optional<uid_t> loopbackPeerUser(int descriptor);

}  // namespace automation
