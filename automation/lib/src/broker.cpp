#include <automation/broker.h>

#include "channel.h"

#include <QAbstractSocket>
#include <QLocalSocket>
#include <QPointer>

#include <map>

namespace automation {

namespace {
constexpr qint64 ReadBufferSize = 64 * 1024;
constexpr int CloseGraceMs = 2000;
}  // namespace

// One client: its socket, its objects and at most one pending request.
class Broker::Connection : public QObject {
public:
    Connection(Broker* broker, QIODevice* socket)
        : m_broker(broker), m_socket(socket), m_channel(socket, broker->m_limits.requestMs, this) {
        socket->setParent(this);
        if (auto* local = qobject_cast<QLocalSocket*>(socket))
            local->setReadBufferSize(ReadBufferSize);
        else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
            tcp->setReadBufferSize(ReadBufferSize);
        m_idle.setSingleShot(true);
        m_idle.setInterval(broker->m_limits.idleConnectionMs);
        connect(&m_idle, &QTimer::timeout, this, [this] { drop(); });
        connect(&m_channel, &FrameChannel::received, this, &Connection::handle);
        connect(&m_channel, &FrameChannel::failed, this, [this](const QString& reason) {
            refuse(CreateError::ProtocolError, reason, true);
        });
        whenDisconnected(socket, this, [this] { drop(); });
        updateIdle();
    }

    // Sends a failure and, when told to, ends the connection after it.
    void refuse(CreateError error, const QString& reason, bool close = false) {
        wire::Message m;
        m.type = wire::Type::Failed;
        m.code = quint8(error);
        m.text = reason;
        m_channel.send(m);
        if (close) {
            m_closing = true;
            closeGracefully(m_socket);
            // A peer that does not take the bytes does not hold us up.
            QTimer::singleShot(CloseGraceMs, this, [this] { drop(); });
        }
    }

    // Ends the connection and everything it holds.
    void drop() {
        if (m_dropped)
            return;
        m_dropped = true;
        m_objects.clear();
        delete m_context;
        // Nothing that still arrives is read: the channel is cut off too.
        m_socket->disconnect();
        closeGracefully(m_socket);
        m_broker->removeConnection(this);
    }

private:
    void handle(const wire::Message& message) {
        if (m_closing || m_dropped)
            return;
        switch (message.type) {
            case wire::Type::Create:
                create(message.className);
                break;
            case wire::Type::Release:
                m_objects.erase(message.objectId);
                break;
            default:
                refuse(CreateError::ProtocolError,
                       QStringLiteral("unexpected message type %1 from a client")
                           .arg(int(message.type)),
                       true);
                return;
        }
        updateIdle();
    }

    void create(const QString& className) {
        if (m_context)
            return refuse(CreateError::HostRefused,
                          QStringLiteral("a request is pending on this connection already"));
        if (int(m_objects.size()) >= m_broker->m_limits.maxObjectsPerConnection)
            return refuse(CreateError::HostRefused,
                          QStringLiteral("this connection holds %1 objects, the most allowed")
                              .arg(m_objects.size()));
        m_context = new QObject(this);
        QPointer<QObject> context = m_context;
        m_broker->activate(className, m_context, [this, context, className](const Activation& a) {
            if (!context)
                return;  // the connection has gone: the object is dropped
            context->deleteLater();
            m_context = nullptr;
            if (!a.object) {
                refuse(a.error, a.reason);
            } else {
                const quint32 id = m_nextId++;
                m_objects.emplace(id, a.object);
                wire::Message m;
                m.type = wire::Type::Created;
                m.objectId = id;
                m.className = className;
                m.text = a.description;
                m_channel.send(m);
            }
            updateIdle();
        });
    }

    void updateIdle() {
        if (m_objects.empty() && !m_context && m_idle.interval() > 0)
            m_idle.start();
        else
            m_idle.stop();
    }

    Broker* m_broker;
    QIODevice* m_socket;
    FrameChannel m_channel;
    QTimer m_idle;
    std::map<quint32, std::shared_ptr<void>> m_objects;
    QPointer<QObject> m_context;  // of the pending request
    quint32 m_nextId = 1;
    bool m_closing = false;
    bool m_dropped = false;
};

Broker::Broker(const Limits& limits, QObject* parent) : QObject(parent), m_limits(limits) {}

Broker::~Broker() {
    // Objects go before the broker whose activate() may have made them.
    qDeleteAll(m_connections);
}

int Broker::connectionCount() const {
    return int(m_connections.size());
}

void Broker::addConnection(QIODevice* socket) {
    auto* connection = new Connection(this, socket);
    m_connections.append(connection);
    if (m_connections.size() > m_limits.maxConnections) {
        connection->refuse(
            CreateError::HostRefused,
            QStringLiteral("too many connections (at most %1)").arg(m_limits.maxConnections), true);
    }
    emit connectionCountChanged(connectionCount());
}

void Broker::removeConnection(Connection* connection) {
    if (!m_connections.removeOne(connection))
        return;
    connection->deleteLater();
    emit connectionCountChanged(connectionCount());
}

}  // namespace automation
