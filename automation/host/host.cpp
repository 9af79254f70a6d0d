#include "host.h"

#include <automation/classstore.h>
#include <automation/objectfactory.h>
#include <automation/pairing.h>
#include <automation/printable.h>

#include "../lib/src/callhandle.h"
#include "../lib/src/channel.h"
#include "../lib/src/pipe.h"
#include "peers.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QSysInfo>
#include <QTcpServer>
#include <QTextStream>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace automation {

namespace {

constexpr char TlsRecord = 0x16;

// An object made for a client, with the share of the host's objects it takes.
struct Held {
    std::shared_ptr<ObjectHandle> object;
    std::shared_ptr<void> share;
};

class Listener final : public QTcpServer {
public:
    explicit Listener(Host* host) : QTcpServer(host), m_host(host) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_host->accept(descriptor); }

private:
    Host* m_host;
};

// The command that allows className in addition to patterns, when the class
// name can stand in a list as it is.
QString allowCommand(const QString& id, const QStringList& patterns, const QString& className) {
    const QString name = className.trimmed();
    QStringList parsed;
    QString error;
    const bool plain = parseClassPatterns(name, &parsed, &error) &&
                       !name.contains(QRegularExpression(QStringLiteral("[*?,'\\s]")));
    if (!plain)
        return QStringLiteral(
                   "automationctl authorize %1 --classes LIST, with a LIST that "
                   "matches the class")
            .arg(id);
    return QStringLiteral("automationctl authorize %1 --classes '%2'")
        .arg(id, (patterns + QStringList{name}).join(QLatin1Char(',')));
}

}  // namespace

// A connection from its acceptance until its peer is checked (or, refused,
// until it has gone): it holds one of the unauthenticated slots, counted
// for its origin.
class Host::Pending : public QObject {
public:
    Pending(Host* host, qintptr descriptor)
        : QObject(host), origin(originOf(int(descriptor))), m_host(host), m_descriptor(descriptor) {
        ++m_host->m_unchecked[origin.key];
        ++m_host->m_uncheckedTotal;
        m_host->m_pending.append(this);
        deadline.setSingleShot(true);
    }
    ~Pending() override {
        if (m_descriptor >= 0)
            ::close(int(m_descriptor));
        if (--m_host->m_unchecked[origin.key] <= 0)
            m_host->m_unchecked.remove(origin.key);
        --m_host->m_uncheckedTotal;
        m_host->m_pending.removeOne(this);
    }

    // The descriptor passes to the socket that now wraps it.
    qintptr takeDescriptor() { return std::exchange(m_descriptor, -1); }
    qintptr descriptor() const { return m_descriptor; }

    const ClientOrigin origin;
    QTimer deadline;
    QSocketNotifier* notifier = nullptr;
    bool refused = false;           // only waits for the client to read why
    QPointer<QIODevice> lingering;  // the refused connection

private:
    Host* m_host;
    qintptr m_descriptor;
};

Host::Host(const HostOptions& options, const Identity& identity, QObject* parent)
    : Broker(options.limits, parent),
      m_options(options),
      m_identity(identity),
      m_tls(tlsConfiguration(identity)),
      m_authorized(TrustFile::Kind::AuthorizedClients),
      m_refusals(options.logRules,
                 [](const QString& peer, qint64 count, const QString& window) {
                     return QStringLiteral(
                                "automation-host: refused %1 more connections or "
                                "requests from %2 in the last %3")
                         .arg(count)
                         .arg(peer, window);
                 }),
      m_endedCalls(options.logRules,
                   [](const QString& peer, qint64 count, const QString& window) {
                       return QStringLiteral(
                                  "automation-host: calls of %1 ended %2 more times in the last %3")
                           .arg(peer)
                           .arg(count)
                           .arg(window);
                   }),
      m_desk(new PairingDesk(options.pairing, identity.id, &m_authorized, this)) {
    connect(m_desk, &PairingDesk::refused, this,
            [this](const QString& address, const QString& why) { log(address, address, why); });
    connect(m_desk, &PairingDesk::requested, this, [](const PairingRequest& r) {
        const QString digits = normalizedPairingCode(r.code);
        QTextStream(stderr)
            << printable(
                   QStringLiteral("automation-host: pairing request from %1, identity %2%3: code "
                                  "%4. Compare the code with the client's; accept with: "
                                  "automationctl accept %5, or reject with: automationctl reject "
                                  "%5")
                       .arg(r.address, r.identity,
                            r.comment.isEmpty() ? QString()
                                                : QStringLiteral(", comment ") + quoted(r.comment),
                            r.code, digits))
            << Qt::endl;
    });
    connect(m_desk, &PairingDesk::ended, this, [](const QString& code, const QString& why) {
        QTextStream(stderr) << "automation-host: pairing request " << code << ' ' << why
                            << Qt::endl;
    });
    connect(this, &Broker::refused, this,
            [this](const QString& peer, const QString& reason) { log(peer, peer, reason); });
    connect(this, &Broker::callsEnded, this, [this](const QString& peer, const QString& reason) {
        m_endedCalls.write(
            peer, QStringLiteral("automation-host: calls of %1 ended: %2").arg(peer, reason));
    });
}

Host::~Host() {
    // Unchecked connections give their slots back to the tallies, which go
    // before the children do.
    const QObjectList children = this->children();
    for (QObject* child : children)
        delete dynamic_cast<Pending*>(child);
}

Status Host::listen(const QHostAddress& address, quint16 port) {
    auto* server = new Listener(this);
    if (!server->listen(address, port)) {
        const QString error = server->errorString();
        delete server;
        return Status::failure(Error::ConnectionRefused, error);
    }
    m_servers.append(server);
    return {};
}

Status Host::adopt(qintptr descriptor) {
    auto* server = new Listener(this);
    if (!server->setSocketDescriptor(descriptor)) {
        const QString error = server->errorString();
        delete server;
        return Status::failure(Error::ConnectionRefused, error);
    }
    m_servers.append(server);
    return {};
}

void Host::log(const QString& key, const QString& peer, const QString& reason) {
    m_refusals.write(key, QStringLiteral("automation-host: refused %1: %2").arg(peer, reason));
}

// A malformed entry of authorized_clients is named once, not at every
// connection that reads the file.
void Host::reportTrustProblems() {
    const QStringList problems = m_authorized.problems();
    for (const QString& problem : problems) {
        if (!m_reportedProblems.contains(problem))
            QTextStream(stderr) << printable(QStringLiteral("automation-host: %1 %2; the entry is "
                                                            "ignored")
                                                 .arg(m_authorized.path(), problem))
                                << Qt::endl;
    }
    m_reportedProblems = problems;
}

int Host::unauthenticatedCount() const {
    return m_uncheckedTotal + m_anonymous;
}

// Admission before authentication. The unauthenticated connections (before
// their handshake, refused ones lingering, anonymous ones) hold at most
// maxUnauthenticated of the slots, and each origin at most maxPerPeer of
// them; the rest is kept for authenticated clients. When the slots are
// full, a new connection takes the place of an old unauthenticated one
// rather than being refused: first one that was refused already, else the
// oldest of the origin that holds the most, so a flood costs its own
// connections first.
void Host::accept(qintptr descriptor) {
    auto* pending = new Pending(this, descriptor);
    const auto oldest = [this, pending](const std::function<bool(const Pending*)>& which) {
        for (Pending* p : std::as_const(m_pending))
            if (p != pending && which(p))
                return p;
        return static_cast<Pending*>(nullptr);
    };
    const int limit = m_options.limits.maxPerPeer;
    while (limit > 0 && m_unchecked.value(pending->origin.key) > limit) {
        Pending* victim = oldest([pending](const Pending* p) {
            return p->refused && p->origin.key == pending->origin.key;
        });
        if (!victim)
            return turnAway(pending, QStringLiteral("too many unauthenticated connections from %1 "
                                                    "(at most %2)")
                                         .arg(pending->origin.key)
                                         .arg(limit));
        drop(victim);
    }
    while (unauthenticatedCount() > m_options.maxUnauthenticated ||
           m_uncheckedTotal + connectionCount() > m_options.limits.maxConnections) {
        const int most = *std::max_element(m_unchecked.cbegin(), m_unchecked.cend());
        Pending* victim = oldest([](const Pending* p) { return p->refused; });
        if (!victim)
            victim = oldest([this, most](const Pending* p) {
                return m_unchecked.value(p->origin.key) == most;
            });
        if (!victim && unauthenticatedCount() > m_options.maxUnauthenticated)
            return turnAway(pending, QStringLiteral("too many unauthenticated connections (at "
                                                    "most %1)")
                                         .arg(m_options.maxUnauthenticated));
        if (!victim)
            return turnAway(pending, QStringLiteral("too many connections (at most %1)")
                                         .arg(m_options.limits.maxConnections));
        drop(victim);
    }
    connect(&pending->deadline, &QTimer::timeout, pending, [this, pending] {
        turnAway(pending,
                 QStringLiteral("no completed handshake within %1 ms").arg(m_options.handshakeMs));
    });
    pending->deadline.start(m_options.handshakeMs);
    // The first byte tells the protocol; it stays in the kernel's buffer for
    // whoever reads the connection next.
    pending->notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, pending);
    connect(pending->notifier, &QSocketNotifier::activated, pending, [this, pending] {
        char first = 0;
        const ssize_t n = ::recv(int(pending->descriptor()), &first, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        pending->notifier->setEnabled(false);
        if (n <= 0)
            return pending->deleteLater();
        if (first == TlsRecord)
            return startTls(pending);
        if (first == wire::Magic0)
            return startPlain(pending);
        turnAway(pending, QStringLiteral("speaks neither TLS nor the automation protocol"));
    });
}

// Makes room: a refused connection that waits for its client to read why
// goes quietly, a connection before its handshake with a line.
void Host::drop(Pending* victim) {
    if (!victim->refused)
        log(victim->origin.key, victim->origin.shown,
            QStringLiteral("dropped before its handshake to make room: %1 holds %2 "
                           "unauthenticated connections")
                .arg(victim->origin.key)
                .arg(m_unchecked.value(victim->origin.key)));
    delete victim->lingering.data();
    delete victim;
}

void Host::turnAway(Pending* pending, const QString& reason) {
    log(pending->origin.key, pending->origin.shown, reason);
    pending->deleteLater();
}

void Host::startTls(Pending* pending) {
    auto* socket = new QSslSocket(pending);
    socket->setSslConfiguration(m_tls);
    if (!socket->setSocketDescriptor(pending->takeDescriptor()))
        return turnAway(pending, socket->errorString());
    // Handshake flights, requests and answers are small writes: no waiting
    // for the peer's delayed acknowledgements.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QAbstractSocket::errorOccurred, pending,
            [this, pending, socket](QAbstractSocket::SocketError error) {
                socket->disconnect(pending);
                // A client that leaves (one that only fetched our identity,
                // or that does not trust it) was not refused.
                if (error == QAbstractSocket::RemoteHostClosedError)
                    return pending->deleteLater();
                turnAway(pending,
                         QStringLiteral("TLS handshake failed: %1").arg(socket->errorString()));
            });
    connect(socket, &QSslSocket::encrypted, pending, [this, pending, socket] {
        socket->disconnect(pending);
        const QString id = identityOf(socket->peerCertificate());
        if (const Status s = checkClientIdentity(id, m_identity.id, &m_authorized); !s.ok()) {
            reportTrustProblems();
            // One with an identity may ask to pair.
            if (s.error == Error::NotAuthorized && !id.isEmpty())
                return awaitPairing(socket, pending, id, s);
            return refuse(socket, pending, s.error, s.reason);
        }
        QStringList classes;
        if (id != m_identity.id) {
            bool listed = false;
            m_authorized.classesOf(id, &listed, &classes);
            reportTrustProblems();
        }
        ClassFilter allowed;
        if (!classes.isEmpty()) {
            allowed = [id, classes](const QString& className) {
                if (classMatches(classes, className))
                    return Status();
                return Status::failure(
                    Error::NotAuthorized,
                    QStringLiteral("class %1 is not allowed for client identity %2 on %3. The "
                                   "host's user can allow it with: %4")
                        .arg(quoted(className), id, QSysInfo::machineHostName(),
                             allowCommand(id, classes, className)));
            };
        }
        admit(socket, pending, QStringLiteral("identity %1").arg(id), allowed);
    });
    socket->startServerEncryption();
}

// A client this host does not know may ask for nothing but to be paired:
// its first frame decides, within the handshake's time.
void Host::awaitPairing(QSslSocket* socket, Pending* pending, const QString& id,
                        const Status& refusal) {
    auto* channel = new FrameChannel(socket, m_options.limits.requestMs, pending);
    connect(channel, &FrameChannel::failed, pending,
            [this, pending, socket, channel](const QString& reason) {
                channel->disconnect(pending);
                refuse(socket, pending, Error::ProtocolError, reason);
            });
    connect(channel, &FrameChannel::received, pending,
            [this, pending, socket, channel, id, refusal](const wire::Message& m) {
                channel->disconnect(pending);
                socket->disconnect(channel);
                if (m.type != wire::Type::Pair)
                    return refuse(socket, pending, refusal.error, refusal.reason);
                // The channel is still emitting: it goes later, the slot now.
                channel->setParent(nullptr);
                channel->deleteLater();
                const QString origin = pending->origin.key;
                const QString address = pending->origin.shown;
                socket->setParent(nullptr);
                delete pending;
                m_desk->take(socket, m, id, origin, address, false);
            });
}

void Host::startPlain(Pending* pending) {
    auto* socket = new QTcpSocket(pending);
    if (!socket->setSocketDescriptor(pending->takeDescriptor()))
        return turnAway(pending, socket->errorString());
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!m_options.allowAnonymous)
        return refuse(socket, pending, Error::LevelRefused,
                      QStringLiteral("this host accepts no requests without authentication (level "
                                     "1, No Authentication): pick another authentication level, or "
                                     "start automation-host with --allow-anonymous=CLASSES"));
    // Anonymous clients stay in the unauthenticated slots, and keep at most
    // half of them, so that authenticating clients always get through.
    if (m_anonymous >= m_options.maxUnauthenticated / 2)
        return refuse(socket, pending, Error::HostRefused,
                      QStringLiteral("too many anonymous connections (at most %1)")
                          .arg(m_options.maxUnauthenticated / 2));
    ++m_anonymous;
    connect(socket, &QObject::destroyed, this, [this] { --m_anonymous; });
    // They share their origin's slots even when admitted.
    const QStringList classes = m_options.anonymousClasses;
    admit(socket, pending, QStringLiteral("anonymous client from %1").arg(pending->origin.key),
          [classes](const QString& className) {
              if (classMatches(classes, className))
                  return Status();
              return Status::failure(
                  Error::HostRefused,
                  QStringLiteral("class %1 is not allowed for anonymous clients on %2. The "
                                 "host's user can allow it by adding it to the classes of "
                                 "automation-host --allow-anonymous=CLASSES")
                      .arg(quoted(className), QSysInfo::machineHostName()));
          });
}

void Host::admit(QAbstractSocket* socket, Pending* pending, const QString& peer,
                 ClassFilter allowed) {
    socket->setParent(nullptr);
    delete pending;
    addConnection(socket, peer, std::move(allowed));
}

// The reason reaches the client in its own protocol; the connection keeps
// its unchecked slot until it has gone.
void Host::refuse(QIODevice* socket, Pending* pending, Error error, const QString& reason) {
    pending->deadline.stop();
    pending->refused = true;
    pending->lingering = socket;
    log(pending->origin.key, pending->origin.shown, reason);
    // After refuseAndClose(), which cuts every connection the socket had:
    // this one must stay, or the slot is never given back.
    refuseAndClose(socket, error, reason);
    connect(socket, &QObject::destroyed, pending, &QObject::deleteLater);
}

// The objects a client holds through the host count against its share
// from the request on until the object goes: a share taken and given back.
std::shared_ptr<void> Host::takeShare(const QString& peer, QString* refusal) {
    const bool owner = peer == QStringLiteral("identity ") + m_identity.id;
    const QString key =
        peer.startsWith(QLatin1String("anonymous")) ? QStringLiteral("anonymous clients") : peer;
    if (m_objects.value(key) >= m_options.maxObjectsPerPeer) {
        *refusal = QStringLiteral(
                       "%1 hold %2 objects through this host, the most one client may "
                       "(--max-objects-per-peer)")
                       .arg(key == peer ? peer : key)
                       .arg(m_objects.value(key));
        return nullptr;
    }
    if (!owner && m_objects.value(QString()) >= m_options.maxObjectsOfOthers) {
        *refusal = QStringLiteral(
                       "other clients hold %1 objects through this host; the rest of "
                       "its servers' capacity is kept for its owner "
                       "(--max-objects-of-others)")
                       .arg(m_objects.value(QString()));
        return nullptr;
    }
    QStringList keys{key};
    if (!owner)
        keys << QString();
    for (const QString& k : keys)
        ++m_objects[k];
    QPointer<Host> self = this;
    static char share;  // the pointer is a token: only its deleter matters
    return std::shared_ptr<void>(&share, [self, keys](void*) {
        if (!self)
            return;
        for (const QString& k : keys)
            if (--self->m_objects[k] <= 0)
                self->m_objects.remove(k);
    });
}

void Host::activate(const QString& peer, const QString& className, QObject* context, Done done) {
    QString refusal;
    std::shared_ptr<void> share = takeShare(peer, &refusal);
    if (!share)
        return done({nullptr, {}, Error::HostRefused, refusal});
    // Local only: a class registered for remote activation here is refused
    // rather than relayed to a third machine.
    auto* factory = new ObjectFactory(context);
    factory->setLocalOnly(true);
    factory->setForRelay(true);
    connect(factory, &ObjectFactory::finished, context,
            [factory, className, done, share](const CreateResult& result) {
                factory->deleteLater();
                if (result.ok()) {
                    done({std::make_shared<Held>(Held{result.object, share}),
                          result.object->description(),
                          Error::None,
                          {}});
                    return;
                }
                Activation failed;
                failed.error = result.error;
                failed.reason = result.reason;
                if (result.error == Error::NotRegistered) {
                    failed.error = Error::HostRefused;
                    failed.reason = QStringLiteral("class %1 is not registered on %2")
                                        .arg(quoted(className), QSysInfo::machineHostName());
                }
                done(failed);
            });
    factory->create(className);
}

// Classes registered for local activation here: what activate() serves.
QStringList Host::servedClasses(const QString&) {
    QList<ClassRecord> records;
    ClassStore().list(&records);
    QStringList names;
    for (const ClassRecord& r : std::as_const(records))
        if (!r.activation.remote && !r.server.isEmpty())
            names.append(r.name);
    return names;
}

// An authorized client that pairs again (its known_hosts lost, or a second
// name for this machine) learns the codes and that it is known.
void Host::pair(QIODevice* socket, const wire::Message& request, const QString& peer) {
    auto* tls = qobject_cast<QSslSocket*>(socket);
    const QString id = tls ? identityOf(tls->peerCertificate()) : QString();
    if (id.isEmpty()) {
        const QString reason = QStringLiteral(
            "pairing needs TLS: pair at any authentication level but 1 (No Authentication)");
        Q_EMIT refused(peer, reason);
        return refuseAndClose(socket, Error::HostRefused, reason);
    }
    m_desk->take(socket, request, id, peer, originOf(int(tls->socketDescriptor())).shown, true);
}

// The client's connection and the one to the server carry the object's
// D-Bus both ways. Only each message's fixed header is looked at, for its
// length; neither direction holds more than a bounded amount for a side
// that does not read.
void Host::serveCalls(QIODevice* socket, const QByteArray& created,
                      const std::shared_ptr<void>& object, QObject* context,
                      std::function<void(const QString&)> ended) {
    QIODevice* server = relayDevice(static_cast<Held*>(object.get())->object.get());
    if (!server)
        return ended(QStringLiteral("the server's connection is gone"));
    socket->write(created);
    sendNow(socket);
    auto* up = new Pipe(socket, server, true, context);
    auto* down = new Pipe(server, socket, false, context);
    for (Pipe* pipe : {up, down})
        connect(pipe, &Pipe::failed, context, ended);
    whenDisconnected(server, context, [ended] {
        ended(QStringLiteral("the server closed the object's connection"));
    });
}

}  // namespace automation
