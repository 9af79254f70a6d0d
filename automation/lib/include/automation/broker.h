#pragma once

#include <automation/objectfactory.h>
#include <automation/wire.h>

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QIODevice;

namespace automation {

// The outcome of one activation on the serving side.
struct Activation {
    std::shared_ptr<void> object;  // kept until the client releases it or goes
    QString description;
    CreateError error = CreateError::None;
    QString reason;
};

// The serving side of the wire protocol, shared by the servers' ObjectServer
// and automation-host: reads create and release requests from connected
// sockets whose peer has been checked, keeps each connection's objects and
// drops them when the client releases them or disconnects. Once Created has
// gone out, the connection carries calls to that object (serveCalls()) and
// no more frames; it ends, and the object with it, when the calls end. It bounds
// connections, each peer's share of them, objects per connection and the
// time a request may take to arrive. Only a request counts as activity: a
// connection that holds nothing is closed after idleConnectionMs, and one
// that releases an object it does not hold is closed at once.
class Broker : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int maxConnections = 64;
        int maxPerPeer = 32;  // connections one peer may hold; 0 for no share
        int maxObjectsPerConnection = 64;
        int requestMs = 10000;         // a started frame must be complete by then
        int idleConnectionMs = 60000;  // a connection with no object and no request is closed
    };

    explicit Broker(const Limits& limits, QObject* parent = nullptr);
    ~Broker() override;
    Q_DISABLE_COPY_MOVE(Broker)

    // Whether a connection may create a class: ok, or the failure it is
    // answered with.
    using ClassFilter = std::function<Status(const QString& className)>;

    // Takes a connected QLocalSocket or QTcpSocket over. peer names who is
    // at the other end (a process, an identity, an address): connections
    // with the same peer share one peer's limit. Without a filter the
    // connection may create every class.
    void addConnection(QIODevice* socket, const QString& peer, ClassFilter allowed = {});
    int connectionCount() const;
    int connectionCount(const QString& peer) const;

Q_SIGNALS:
    void connectionCountChanged(int count);
    // A request or a connection was turned away.
    void refused(const QString& peer, const QString& reason);
    // A connection's calls ended for a reason other than the client closing
    // it (a stream that is not D-Bus, a stall, a client that does not read).
    void callsEnded(const QString& peer, const QString& reason);

protected:
    using Done = std::function<void(const Activation&)>;

    // Creates an object of className for one request of peer (as given to
    // addConnection()) and calls done once, at once or later. context lives
    // as long as the connection: what the activation leaves running should
    // be its child, so that it goes when the client goes.
    virtual void activate(const QString& peer, const QString& className, QObject* context,
                          Done done) = 0;

    // The connection now carries calls to object: this sends created (the
    // Created frame) on socket and serves the calls that follow. What serves
    // them lives as a child of context; it may take socket over and delete
    // it. It calls ended(reason) once when the calls are over (an empty
    // reason when the client closed the connection); the connection and the
    // object then go.
    virtual void serveCalls(QIODevice* socket, const QByteArray& created,
                            const std::shared_ptr<void>& object, QObject* context,
                            std::function<void(const QString&)> ended) = 0;

    // The classes peer may ask for, as ListClasses answers them (the
    // connection's filter applies besides).
    virtual QStringList servedClasses(const QString& peer);

    // A client asks to pair: socket is handed over, no longer the broker's.
    // Without pairing, the request is refused and the connection closed.
    virtual void pair(QIODevice* socket, const wire::Message& request, const QString& peer);

private:
    class Connection;
    void removeConnection(Connection* connection);

    Limits m_limits;
    QList<Connection*> m_connections;
    QHash<QString, int> m_perPeer;
};

}  // namespace automation
