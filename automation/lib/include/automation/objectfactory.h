#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace automation {

// Why an object could not be created.
enum class CreateError {
    None,
    NotRegistered,         // no registration for the class name
    StoreFailure,          // the registration store could not be read
    ServerStartFailed,     // the local server executable could not be started
    ServerTimeout,         // the server did not answer within the activation time-out
    ClassNotServed,        // the server (or host) answered that it does not serve the class
    MachineNotFound,       // the remote machine name did not resolve
    ConnectionRefused,     // nothing listens on the remote machine's host port
    ProtocolNotSupported,  // the registered protocol is not supported here
    HostRefused,           // the remote host refused the activation
    Timeout,               // a connection or the whole call took too long
    ProtocolError,         // the peer answered something that is not a valid reply
};

// A created object. Releasing it (release() or destroying the handle) tells
// the server, which may then exit when it has no objects left.
class ObjectHandle {
public:
    virtual ~ObjectHandle() = default;
    virtual QString className() const = 0;
    virtual bool isValid() const = 0;
    virtual void release() = 0;
};

struct CreateResult {
    std::shared_ptr<ObjectHandle> object;  // set on success only
    CreateError error = CreateError::None;
    QString reason;  // human-readable, in English, empty on success

    bool ok() const { return object != nullptr; }
};

// Time limits, in milliseconds, of one creation.
struct Timeouts {
    int connectMs = 5000;      // one connection attempt (local socket or TCP)
    int activationMs = 10000;  // from request sent (or server started) to the answer
    int totalMs = 20000;       // the whole call
};

// Creates objects asynchronously through the Qt event loop: create() returns at
// once and finished() is emitted exactly once per create(), never from inside
// create() itself.
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
// and returns when the result is in.
CreateResult createObject(const QString& className);

}  // namespace automation

Q_DECLARE_METATYPE(automation::CreateResult)
