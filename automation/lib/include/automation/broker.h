#pragma once

#include <automation/objectfactory.h>

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
// sockets, keeps each connection's objects and drops them when the client
// releases them or disconnects. It bounds connections, objects per
// connection and the time a request may take to arrive.
class Broker : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int maxConnections = 64;
        int maxObjectsPerConnection = 64;
        int requestMs = 10000;         // a started frame must be complete by then
        int idleConnectionMs = 60000;  // a connection with no object and no request is closed
    };

    explicit Broker(const Limits& limits, QObject* parent = nullptr);
    ~Broker() override;
    Q_DISABLE_COPY_MOVE(Broker)

    // Takes a connected QLocalSocket or QTcpSocket over.
    void addConnection(QIODevice* socket);
    int connectionCount() const;

Q_SIGNALS:
    void connectionCountChanged(int count);

protected:
    using Done = std::function<void(const Activation&)>;

    // Creates an object of className for one request and calls done once,
    // at once or later. context lives as long as the connection: what the
    // activation leaves running should be its child, so that it goes when
    // the client goes.
    virtual void activate(const QString& className, QObject* context, Done done) = 0;

private:
    class Connection;
    void removeConnection(Connection* connection);

    Limits m_limits;
    QList<Connection*> m_connections;
};

}  // namespace automation
