#pragma once

#include <QString>
#include <QtGlobal>

// The automation layer's one error convention: an operation that can fail
// returns a Status, a code and an English reason that names what failed and,
// where the user can do something about it, what to do.
namespace automation {

// The codes double as the failure codes on the wire (see PROTOCOL.md), so
// their values never change; new ones go at the end.
enum class Error : quint8 {
    None = 0,
    NotRegistered = 1,         // no registration for the class name
    StoreFailure = 2,          // a store (class registration, identity, trust file) failed
    ServerStartFailed = 3,     // the local server executable could not be started
    ServerTimeout = 4,         // the server did not answer within the activation time-out
    ClassNotServed = 5,        // the server (or host) answered that it does not serve the class
    MachineNotFound = 6,       // the remote machine name did not resolve
    ConnectionRefused = 7,     // nothing listens on the remote machine's host port
    ProtocolNotSupported = 8,  // the registered protocol is not supported here
    HostRefused = 9,           // the remote host refused the activation (limits included)
    Timeout = 10,              // a connection, a handshake or the whole call took too long
    ProtocolError = 11,        // the peer answered something that is not a valid reply
    Untrusted = 12,      // a file or folder others could replace, or a private folder that is not
    PeerRefused = 13,    // the local peer runs as another user
    UnknownHost = 14,    // the host's identity is not the one recorded for the machine
    NotAuthorized = 15,  // the host does not know the client's identity
    LevelRefused = 16,   // the authentication level is not allowed here
    // Calls on a created object; never sent in a Failed frame.
    UnknownMember = 17,     // the object has no such method or property
    InvalidArguments = 18,  // wrong number of arguments, or one of the wrong type
    CallFailed = 19,        // the server answered the call with an error
    Disconnected = 20,      // the object's connection ended before the answer
};
// The last code a Failed frame may carry.
inline constexpr Error LastWireError = Error::LevelRefused;

// The enumerator's name, e.g. "ServerTimeout", for messages and tools.
QString errorName(Error error);

struct Status {
    Error error = Error::None;
    QString reason;  // empty when ok

    bool ok() const { return error == Error::None; }
    explicit operator bool() const { return ok(); }
    static Status failure(Error error, const QString& reason) { return {error, reason}; }
};

}  // namespace automation
