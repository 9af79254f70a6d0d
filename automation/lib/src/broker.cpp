#include <automation/broker.h>

#include "channel.h"

#include <QAbstractSocket>
#include <QLocalSocket>
#include <QPointer>

#include <map>

namespace automation {

namespace {
constexpr qint64 ReadBufferSize = 64 * 1024;
}  // namespace

// One client: its socket, its objects and at most one pending request.
class Broker::Connection : public QObject {
public:
    Connection(Broker* broker, QIODevice* socket, const QString& peer, ClassFilter allowed)
        : m_broker(broker),
          m_socket(socket),
          m_peer(peer),
          m_allowed(std::move(allowed)),
          m_channel(socket, broker->m_limits.requestMs, this) {
        socket->setParent(this);
        if (auto* local = qobject_cast<QLocalSocket*>(socket))
            local->setReadBufferSize(ReadBufferSize);
        else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
            tcp->setReadBufferSize(ReadBufferSize);
        m_idle.setSingleShot(true);
        m_idle.setInterval(broker->m_limits.idleConnectionMs);
        connect(&m_idle, &QTimer::timeout, this, [this] { drop(); });
        connect(&m_channel, &FrameChannel::received, this, &Connection::handle);
        connect(&m_channel, &FrameChannel::failed, this,
                [this](const QString& reason) { refuse(Error::ProtocolError, reason, true); });
        whenDisconnected(socket, this, [this] { drop(); });
        m_idle.start();
    }

    QString peer() const { return m_peer; }

    // Sends a failure and, when told to, ends the connection: the socket
    // lingers until the peer has read the reason.
    void refuse(Error error, const QString& reason, bool close = false) {
        emit m_broker->refused(m_peer, reason);
        if (!close) {
            sendFailure(m_socket, error, reason);
            return;
        }
        QIODevice* socket = m_socket;
        drop(false);
        refuseAndClose(socket, error, reason);
    }

    // Ends the connection and everything it holds.
    void drop(bool closeSocket = true) {
        if (m_dropped)
            return;
        m_dropped = true;
        m_objects.clear();
        delete m_context;
        m_channel.disconnect(this);
        // A server that serves calls has taken the socket over.
        if (m_socket) {
            m_socket->disconnect(this);
            // Nothing that still arrives is read: the channel is cut off too.
            m_socket->disconnect(&m_channel);
            if (closeSocket)
                closeGracefully(m_socket);
            else
                m_socket->setParent(nullptr);
        }
        m_broker->removeConnection(this);
    }

private:
    void handle(const wire::Message& message) {
        if (m_dropped)
            return;
        switch (message.type) {
            case wire::Type::Create:
                create(message.className);
                break;
            case wire::Type::Release:
                // Releasing what one does not hold keeps nothing alive.
                if (m_objects.erase(message.objectId) == 0)
                    return refuse(Error::ProtocolError,
                                  QStringLiteral("release of object %1, which this connection does "
                                                 "not hold")
                                      .arg(message.objectId),
                                  true);
                updateIdle();
                break;
            case wire::Type::ListClasses:
                return listClasses();
            case wire::Type::Pair:
                if (m_objects.empty() && !m_context) {
                    QIODevice* socket = m_socket;
                    drop(false);
                    return m_broker->pair(socket, message, m_peer);
                }
                [[fallthrough]];
            default:
                refuse(Error::ProtocolError,
                       QStringLiteral("unexpected message type %1 from a client")
                           .arg(int(message.type)),
                       true);
        }
    }

    void create(const QString& className) {
        if (m_context)
            return refuse(Error::HostRefused,
                          QStringLiteral("a request is pending on this connection already"));
        if (int(m_objects.size()) >= m_broker->m_limits.maxObjectsPerConnection)
            return refuse(Error::HostRefused,
                          QStringLiteral("this connection holds %1 objects, the most allowed")
                              .arg(m_objects.size()));
        if (m_allowed) {
            if (const Status s = m_allowed(className); !s.ok())
                return refuse(s.error, s.reason);
        }
        m_idle.stop();
        m_context = new QObject(this);
        QPointer<QObject> context = m_context;
        m_broker->activate(m_peer, className, m_context,
                           [this, context, className](const Activation& a) {
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
                                   return serveCalls(a.object, wire::encode(m));
                               }
                               updateIdle();
                           });
    }

    void listClasses() {
        if (m_context)
            return refuse(Error::HostRefused,
                          QStringLiteral("a request is pending on this connection already"));
        wire::Message entry;
        entry.type = wire::Type::ClassEntry;
        const QStringList classes = m_broker->servedClasses(m_peer);
        for (const QString& name : classes) {
            if (m_allowed && !m_allowed(name).ok())
                continue;
            entry.className = name;
            m_channel.send(entry);
        }
        entry.className.clear();
        m_channel.send(entry);
        updateIdle();
    }

    // From here on the connection is the object's call channel: no more
    // frames are read. The client sends its first byte of it only after it
    // has read Created, so nothing of it has been read as a frame.
    void serveCalls(const std::shared_ptr<void>& object, const QByteArray& created) {
        if (m_channel.hasPending())
            return refuse(Error::ProtocolError,
                          QStringLiteral("the client sent more before it had its object"), true);
        m_socket->disconnect(&m_channel);
        m_channel.disconnect(this);
        m_idle.stop();
        auto* calls = new QObject(this);
        QPointer<QObject> alive = calls;
        m_broker->serveCalls(m_socket, created, object, calls,
                             [this, alive](const QString& reason) {
                                 if (!alive || m_dropped)
                                     return;
                                 if (!reason.isEmpty())
                                     emit m_broker->callsEnded(m_peer, reason);
                                 QMetaObject::invokeMethod(
                                     this, [this] { drop(); }, Qt::QueuedConnection);
                             });
    }

    // The idle clock runs only while the connection holds nothing.
    void updateIdle() {
        if (m_objects.empty() && !m_context && m_idle.interval() > 0) {
            if (!m_idle.isActive())
                m_idle.start();
        } else {
            m_idle.stop();
        }
    }

    Broker* m_broker;
    QPointer<QIODevice> m_socket;
    QString m_peer;
    ClassFilter m_allowed;
    FrameChannel m_channel;
    QTimer m_idle;
    std::map<quint32, std::shared_ptr<void>> m_objects;
    QPointer<QObject> m_context;  // of the pending request
    quint32 m_nextId = 1;
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

int Broker::connectionCount(const QString& peer) const {
    return m_perPeer.value(peer);
}

void Broker::addConnection(QIODevice* socket, const QString& peer, ClassFilter allowed) {
    QString full;
    if (m_connections.size() >= m_limits.maxConnections)
        full = QStringLiteral("too many connections (at most %1)").arg(m_limits.maxConnections);
    else if (m_limits.maxPerPeer > 0 && m_perPeer.value(peer) >= m_limits.maxPerPeer)
        full = QStringLiteral("too many connections from %1 (at most %2 of %3)")
                   .arg(peer)
                   .arg(m_limits.maxPerPeer)
                   .arg(m_limits.maxConnections);
    if (!full.isEmpty()) {
        emit refused(peer, full);
        refuseAndClose(socket, Error::HostRefused, full);
        return;
    }
    auto* connection = new Connection(this, socket, peer, std::move(allowed));
    m_connections.append(connection);
    ++m_perPeer[peer];
    emit connectionCountChanged(connectionCount());
}

QStringList Broker::servedClasses(const QString&) {
    return {};
}

void Broker::pair(QIODevice* socket, const wire::Message&, const QString& peer) {
    const QString reason = QStringLiteral("pairing is not served here");
    emit refused(peer, reason);
    refuseAndClose(socket, Error::HostRefused, reason);
}

void Broker::removeConnection(Connection* connection) {
    if (!m_connections.removeOne(connection))
        return;
    if (--m_perPeer[connection->peer()] <= 0)
        m_perPeer.remove(connection->peer());
    connection->deleteLater();
    emit connectionCountChanged(connectionCount());
}

}  // namespace automation
