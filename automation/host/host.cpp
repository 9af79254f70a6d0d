#include "host.h"

#include <automation/objectfactory.h>
#include <automation/printable.h>

#include "../lib/src/callhandle.h"
#include "../lib/src/channel.h"
#include "../lib/src/pipe.h"

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

namespace automation {

namespace {

constexpr char TlsRecord = 0x16;

class Listener final : public QTcpServer {
public:
    explicit Listener(Host* host) : QTcpServer(host), m_host(host) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_host->accept(descriptor); }

private:
    Host* m_host;
};

QString addressOf(qintptr descriptor, QString* shown) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        *shown = QStringLiteral("an unknown peer");
        return *shown;
    }
    QHostAddress address(reinterpret_cast<sockaddr*>(&storage));
    quint16 port = 0;
    if (storage.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    else if (storage.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
    // An IPv4 client of a dual-stack socket counts as its IPv4 address.
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    if (v4)
        address = QHostAddress(ip4);
    const QString text = address.toString();
    *shown = (address.protocol() == QAbstractSocket::IPv6Protocol
                  ? QLatin1Char('[') + text + QLatin1Char(']')
                  : text) +
             QLatin1Char(':') + QString::number(port);
    return text;
}

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
// until it has gone): it holds one of its address's unchecked slots.
class Host::Pending : public QObject {
public:
    Pending(Host* host, qintptr descriptor)
        : QObject(host), m_host(host), m_descriptor(descriptor) {
        address = addressOf(descriptor, &shown);
        ++m_host->m_unchecked[address];
        ++m_host->m_uncheckedTotal;
        deadline.setSingleShot(true);
    }
    ~Pending() override {
        if (m_descriptor >= 0)
            ::close(int(m_descriptor));
        if (--m_host->m_unchecked[address] <= 0)
            m_host->m_unchecked.remove(address);
        --m_host->m_uncheckedTotal;
    }

    // The descriptor passes to the socket that now wraps it.
    qintptr takeDescriptor() { return std::exchange(m_descriptor, -1); }
    qintptr descriptor() const { return m_descriptor; }

    QString address;
    QString shown;
    QTimer deadline;
    QSocketNotifier* notifier = nullptr;

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
      m_endedCalls(options.logRules, [](const QString& peer, qint64 count, const QString& window) {
          return QStringLiteral("automation-host: calls of %1 ended %2 more times in the last %3")
              .arg(peer)
              .arg(count)
              .arg(window);
      }) {
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

void Host::accept(qintptr descriptor) {
    auto* pending = new Pending(this, descriptor);
    const int limit = m_options.limits.maxPerPeer;
    if (m_uncheckedTotal + connectionCount() > m_options.limits.maxConnections)
        return turnAway(pending, QStringLiteral("too many connections (at most %1)")
                                     .arg(m_options.limits.maxConnections));
    if (limit > 0 && m_unchecked.value(pending->address) > limit)
        return turnAway(pending, QStringLiteral("too many unauthenticated connections from %1 "
                                                "(at most %2)")
                                     .arg(pending->address)
                                     .arg(limit));
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

void Host::turnAway(Pending* pending, const QString& reason) {
    log(pending->address, pending->shown, reason);
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
        if (id.isEmpty())
            return refuse(socket, pending, Error::NotAuthorized,
                          QStringLiteral("the client presented no certificate"));
        bool authorized = id == m_identity.id;
        QStringList classes;
        if (!authorized) {
            const Status s = m_authorized.classesOf(id, &authorized, &classes);
            reportTrustProblems();
            if (!s.ok())
                return refuse(socket, pending, Error::StoreFailure,
                              QStringLiteral("the host cannot read its authorized clients: %1")
                                  .arg(s.reason));
        }
        if (!authorized)
            return refuse(socket, pending, Error::NotAuthorized,
                          QStringLiteral("client identity %1 is not authorized on %2. The host's "
                                         "user can allow it with: automationctl authorize %1")
                              .arg(id, QSysInfo::machineHostName()));
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
    // Anonymous clients share one address's slots even when admitted.
    const QStringList classes = m_options.anonymousClasses;
    admit(socket, pending, QStringLiteral("anonymous client at %1").arg(pending->address),
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
    log(pending->address, pending->shown, reason);
    connect(socket, &QObject::destroyed, pending, &QObject::deleteLater);
    refuseAndClose(socket, error, reason);
}

void Host::activate(const QString& className, QObject* context, Done done) {
    // Local only: a class registered for remote activation here is refused
    // rather than relayed to a third machine.
    auto* factory = new ObjectFactory(context);
    factory->setLocalOnly(true);
    factory->setForRelay(true);
    connect(factory, &ObjectFactory::finished, context,
            [factory, className, done](const CreateResult& result) {
                factory->deleteLater();
                if (result.ok()) {
                    done({result.object, result.object->description(), Error::None, {}});
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

// The client's connection and the one to the server carry the object's
// D-Bus both ways. Only each message's fixed header is looked at, for its
// length; neither direction holds more than a bounded amount for a side
// that does not read.
void Host::serveCalls(QIODevice* socket, const std::shared_ptr<void>& object, QObject* context,
                      std::function<void(const QString&)> ended) {
    QIODevice* server = relayDevice(static_cast<ObjectHandle*>(object.get()));
    if (!server)
        return ended(QStringLiteral("the server's connection is gone"));
    auto* up = new Pipe(socket, server, true, context);
    auto* down = new Pipe(server, socket, false, context);
    for (Pipe* pipe : {up, down})
        connect(pipe, &Pipe::failed, context, ended);
    whenDisconnected(server, context, [ended] {
        ended(QStringLiteral("the server closed the object's connection"));
    });
}

}  // namespace automation
