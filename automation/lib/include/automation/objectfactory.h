#pragma once

#include <automation/calls.h>
#include <automation/status.h>

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace automation {

// Why an object could not be created: the layer's error codes (status.h).
using CreateError = Error;

// A created object. Releasing it (release() or destroying the handle) closes
// its connection, which releases it in the server; the server may then exit
// when it has no objects left.
//
// Calls are late-bound: the handle reads the object's interface once and
// converts QVariant arguments to the types it names. Every asynchronous
// operation calls its done exactly once, through the event loop and never
// from inside the call that started it: with the outcome, with a time-out
// after callTimeoutMs(), or with Disconnected when the object is released or
// its connection ends first.
class ObjectHandle {
public:
    using InterfaceDone = std::function<void(const Status&, const ObjectInterface&)>;
    using CallDone = std::function<void(const CallResult&)>;

    virtual ~ObjectHandle() = default;
    virtual QString className() const = 0;
    virtual bool isValid() const = 0;
    virtual void release() = 0;
    // What the server said about the object when it created it (for the
    // sample server: the class, its process id and machine).
    virtual QString description() const { return QString(); }

    virtual void introspect(InterfaceDone done) = 0;
    virtual void call(const QString& method, const QVariantList& args, CallDone done) = 0;
    // Reads a property; the value is the result's value().
    virtual void readProperty(const QString& name, CallDone done) = 0;
    // Writes a property, converted to its type; done carries no value.
    virtual void writeProperty(const QString& name, const QVariant& value, CallDone done) = 0;
    // The object's signals and property changes, and the end of its connection.
    virtual ObjectEvents* events() = 0;

    virtual void setCallTimeout(int ms) = 0;
    virtual int callTimeout() const = 0;
};

struct CreateResult {
    std::shared_ptr<ObjectHandle> object;  // set on success only
    CreateError error = CreateError::None;
    QString reason;  // human-readable, in English, empty on success

    bool ok() const { return object != nullptr; }
    Status status() const { return {error, reason}; }
};

// Time limits, in milliseconds, of one creation.
struct Timeouts {
    int connectMs = 5000;      // one connection attempt (local socket or TCP), and a TLS handshake
    int activationMs = 10000;  // from request sent (or server started) to the answer
    int totalMs = 20000;       // the whole call
    int callMs = 30000;        // each call on a created object (ObjectHandle::setCallTimeout)
};

// Creates objects asynchronously through the Qt event loop: create() returns at
// once and finished() is emitted exactly once per create(), never from inside
// create() itself. Several creations may be pending at once. Handles belong to
// the thread that created them.
//
// Local activation connects to the local socket of the class's server and,
// when nothing answers there, starts the registered executable with
// -Embedding (only when no one but this user or root could have replaced it)
// and keeps connecting until the activation time-out. Both ends check that
// the other runs as the same user. Remote activation (protocol
// "ncacn_ip_tcp" or none) connects to automation-host on the registered
// machine, at hostPort(), as the class's authentication level says: level
// "1" over plain TCP, every other level over TLS 1.3 with this user's
// identity, sending nothing before the host has shown the identity recorded
// for the machine in known_hosts (or this user's own).
class ObjectFactory : public QObject {
    Q_OBJECT
public:
    explicit ObjectFactory(QObject* parent = nullptr);
    ~ObjectFactory() override;

    void setTimeouts(const Timeouts& timeouts);
    Timeouts timeouts() const;

    // Time-outs used by factories created from now on (tests shorten them).
    static void setDefaultTimeouts(const Timeouts& timeouts);
    static Timeouts defaultTimeouts();

    void create(const QString& className);
    // Creates an object of a class that a running program of this user
    // serves at the local socket socketPath, with no registration and
    // without starting anything (ConnectionRefused when nothing answers).
    void createAt(const QString& socketPath, const QString& className);

    // With local-only set, a class registered for remote activation on
    // another machine is refused (HostRefused) instead of being activated
    // there: automation-host uses this so that it never relays to a third
    // machine. A registration that names this machine itself (its host name,
    // "localhost", a loopback address or one of its addresses) is activated
    // locally.
    void setLocalOnly(bool localOnly);
    bool localOnly() const;

    // automation-host relays its clients' calls: the objects it creates
    // keep their connection as it is, for the host to relay bytes over,
    // instead of making calls of their own.
    void setForRelay(bool forRelay);

    // Abandons a pending create(): finished() is not emitted for it, and an
    // object that arrives later is released at once.
    void cancel();

    bool isBusy() const;

Q_SIGNALS:
    void finished(const automation::CreateResult& result);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Convenience: creates through a local event loop (so windows keep painting)
// and returns when the result is in. Needs a QCoreApplication.
//
// How each failure is reported:
//   NotRegistered       no registration for the name (or class identifier)
//   StoreFailure        the store could not be read; the reason says why
//   ServerStartFailed   the executable is missing or not executable, could not
//                       be started, exited before serving, or closed the
//                       connection without answering (crashed during activation)
//   ServerTimeout       the started server did not answer within activationMs
//   ClassNotServed      the server does not serve the class
//   MachineNotFound     the machine name did not resolve, is blank, or is no
//                       machine name at all (checkMachineName())
//   ConnectionRefused   nothing listens at the host port of the machine
//   ProtocolNotSupported the registered protocol is not "ncacn_ip_tcp" or none
//   HostRefused         automation-host refused (not registered there, or
//                       registered for remote activation there, limits)
//   Timeout             connecting, the TLS handshake, the host's answer or
//                       the whole call took too long
//   ProtocolError       the peer answered something that is not a valid reply,
//                       or the TLS handshake failed
//   Untrusted           the executable or a folder on its path could be
//                       replaced by someone else, the socket folder is not
//                       private, or the identity or known_hosts (or their
//                       folder) is another user's or writable by others
//   PeerRefused         the server's socket is held by another user's process,
//                       or the server refused us as another user
//   UnknownHost         the host's identity is not recorded for the machine;
//                       the reason gives the command that records it
//   NotAuthorized       the host does not know this user's identity; the
//                       reason gives the command to run on the host
//   LevelRefused        the host does not accept the class's level (level
//                       "1" without --allow-anonymous), or the level is unknown
CreateResult createObject(const QString& className, const QString& socketPath = QString());

// Blocking forms of the handle's calls, for tools and tests: each runs a
// local event loop until the outcome is in (bounded by the call time-out).
Status introspectObject(ObjectHandle& object, ObjectInterface* interface);
CallResult callMethod(ObjectHandle& object, const QString& method, const QVariantList& args = {});
CallResult readProperty(ObjectHandle& object, const QString& name);
CallResult writeProperty(ObjectHandle& object, const QString& name, const QVariant& value);

}  // namespace automation

Q_DECLARE_METATYPE(automation::CreateResult)
