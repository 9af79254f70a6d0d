#pragma once

#include <automation/identity.h>
#include <automation/status.h>

#include <QObject>
#include <QString>

class QIODevice;

namespace automation {

// A client's connection to a server or a host, whatever carries it. open()
// connects and checks who is at the other end; frames may flow only after
// ready(). Exactly one of ready() and failed() follows open(), never from
// inside open() itself.
class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void open() = 0;
    virtual QIODevice* device() const = 0;
    // The peer as reasons name it, e.g. "automation-host on box port 47610".
    virtual QString peer() const = 0;
    // The identity the peer showed (TLS only), once ready.
    virtual QString peerIdentity() const { return QString(); }
    // Closes once what was written has gone out.
    virtual void close() = 0;

Q_SIGNALS:
    // The byte stream is up; the peer is not checked yet (a TLS handshake
    // follows).
    void connected();
    void ready();
    void failed(const automation::Status& status);
    // The peer went away after ready().
    void disconnected();

protected:
    // Emits failed() through the event loop, so never from inside open().
    void fail(const Status& status);
};

// The server's local socket at path; ready only when the server runs as this
// user.
Transport* localTransport(const QString& path, const QString& server, QObject* parent);

// Plain TCP to automation-host: no identity on either side.
Transport* tcpTransport(const QString& machine, quint16 port, QObject* parent);

// Whom a TLS client takes for the host.
enum class HostCheck {
    Pinned,  // the identity checkHostIdentity() trusts for the machine
    Any      // whatever it shows: pairing, which compares codes instead
};

// TLS 1.3 to automation-host with this user's identity; ready only when the
// host passes check.
Transport* tlsTransport(const QString& machine, quint16 port, const Identity& identity,
                        QObject* parent, HostCheck check = HostCheck::Pinned);

// A machine name as given to connect to: without surrounding blanks and
// without the brackets around an IPv6 address.
QString bareMachine(const QString& machine);

}  // namespace automation
