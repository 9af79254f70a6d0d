#include "pairingdesk.h"

#include <automation/pairing.h>
#include <automation/printable.h>

#include "../lib/src/channel.h"

#include <QCoreApplication>
#include <QIODevice>

namespace automation {

// One client's connection, from its Pair frame on.
class PairingDesk::Client : public QObject {
public:
    Client(PairingDesk* desk, QIODevice* socket, const QString& origin, bool authorized)
        : QObject(desk), socket(socket), origin(origin), authorized(authorized) {
        socket->setParent(this);
        clock.setSingleShot(true);
    }

    QIODevice* socket;
    FrameChannel* channel = nullptr;
    QString origin;
    bool authorized;
    QByteArray commitment;
    QByteArray nonce;
    PairingRequest request;
    bool waiting = false;  // the codes are known; the host's user decides
    QTimer clock;
};

PairingDesk::PairingDesk(const Limits& limits, const QString& hostIdentity, TrustFile* authorized,
                         QObject* parent)
    : QObject(parent), m_limits(limits), m_hostIdentity(hostIdentity), m_authorized(authorized) {}

PairingDesk::~PairingDesk() = default;

void PairingDesk::take(QIODevice* socket, const wire::Message& pair, const QString& clientIdentity,
                       const QString& origin, const QString& address, bool authorized) {
    const auto turnAway = [&](Error error, const QString& reason) {
        Q_EMIT refused(address, reason);
        refuseAndClose(socket, error, reason);
    };
    const QByteArray commitment = pairingBytes(pair.className);
    if (commitment.isEmpty())
        return turnAway(Error::ProtocolError, QStringLiteral("a pairing request without a valid "
                                                             "commitment"));
    if (pair.text.size() > MaxPairingComment)
        return turnAway(Error::ProtocolError,
                        QStringLiteral("a pairing request with a comment longer than %1 characters")
                            .arg(MaxPairingComment));
    const auto fromOrigin = std::count_if(m_clients.cbegin(), m_clients.cend(),
                                          [&](const Client* c) { return c->origin == origin; });
    if (m_clients.size() >= m_limits.maxRequests)
        return turnAway(Error::HostRefused,
                        QStringLiteral("%1 pairing requests wait on this host already, the most it "
                                       "keeps; try again once its user has answered them")
                            .arg(m_clients.size()));
    if (fromOrigin >= m_limits.maxPerOrigin)
        return turnAway(Error::HostRefused,
                        QStringLiteral("%1 pairing requests from %2 wait already (at most %3)")
                            .arg(fromOrigin)
                            .arg(origin)
                            .arg(m_limits.maxPerOrigin));

    auto* client = new Client(this, socket, origin, authorized);
    m_clients.append(client);
    client->commitment = commitment;
    client->request.identity = clientIdentity;
    client->request.comment = pair.text;
    client->request.address = address;
    client->nonce = newPairingNonce();
    client->channel = new FrameChannel(socket, m_limits.exchangeMs, client);
    connect(&client->clock, &QTimer::timeout, client, [this, client] {
        if (!client->waiting) {
            Q_EMIT refused(client->request.address,
                           QStringLiteral("a pairing request whose nonce did not follow in time"));
            return remove(client, QString());
        }
        sendFailure(client->socket, Error::Timeout,
                    QStringLiteral("the pairing request expired: the host's user did not answer "
                                   "within %1 minutes")
                        .arg(m_limits.expiryMs / 60000));
        remove(client, QStringLiteral("expired"));
    });
    whenDisconnected(socket, client, [this, client] {
        remove(client, client->waiting ? QStringLiteral("withdrawn by the client") : QString());
    });
    connect(client->channel, &FrameChannel::failed, client, [this, client](const QString& reason) {
        Q_EMIT refused(client->request.address, reason);
        remove(client, client->waiting ? QStringLiteral("ended: ") + reason : QString());
    });
    connect(client->channel, &FrameChannel::received, client,
            [this, client](const wire::Message& m) {
                const QByteArray theirs = pairingBytes(m.text);
                if (client->waiting || m.type != wire::Type::PairReveal || theirs.isEmpty() ||
                    pairingCommitment(theirs) != client->commitment) {
                    const QString reason =
                        QStringLiteral("a pairing request whose client sent %1")
                            .arg(client->waiting ? QStringLiteral("more after its request")
                                                 : QStringLiteral("a nonce that is not the one it "
                                                                  "committed to"));
                    Q_EMIT refused(client->request.address, reason);
                    return remove(client, client->waiting ? reason : QString());
                }
                client->request.code =
                    pairingCode(client->request.identity, m_hostIdentity, theirs, client->nonce);
                client->request.since = QDateTime::currentDateTimeUtc();
                if (client->authorized) {
                    wire::Message paired;
                    paired.type = wire::Type::Paired;
                    paired.code = 1;
                    paired.text = QStringLiteral("already authorized");
                    client->channel->send(paired);
                    return remove(client, QString());
                }
                // Two requests with one code could not be told apart.
                if (find(client->request.code)) {
                    sendFailure(client->socket, Error::HostRefused,
                                QStringLiteral("another request has the same code; try again"));
                    return remove(client, QString());
                }
                client->waiting = true;
                client->clock.start(m_limits.expiryMs);
                Q_EMIT requested(client->request);
            });
    wire::Message nonce;
    nonce.type = wire::Type::PairNonce;
    nonce.text = QString::fromLatin1(client->nonce.toHex());
    client->channel->send(nonce);
    sendNow(socket);
    client->clock.start(m_limits.exchangeMs);
}

QList<PairingRequest> PairingDesk::requests() const {
    QList<PairingRequest> list;
    for (const Client* c : m_clients)
        if (c->waiting)
            list.append(c->request);
    return list;
}

PairingDesk::Client* PairingDesk::find(const QString& code) const {
    const QString digits = normalizedPairingCode(code);
    for (Client* c : m_clients)
        if (c->waiting && !digits.isEmpty() && normalizedPairingCode(c->request.code) == digits)
            return c;
    return nullptr;
}

static Status noRequest(const QString& code) {
    return Status::failure(Error::NotRegistered,
                           QStringLiteral("no pairing request waits with code %1").arg(code));
}

Status PairingDesk::accept(const QString& code, const QStringList& classes, QString* identity) {
    Client* client = find(code);
    if (!client)
        return noRequest(printable(code));
    const PairingRequest& r = client->request;
    if (identity)
        *identity = r.identity;
    QString comment = QStringLiteral("paired %1 from %2")
                          .arg(QDate::currentDate().toString(Qt::ISODate), r.address);
    const QString said = printable(r.comment).simplified();
    if (!said.isEmpty())
        comment += QStringLiteral(": ") + said;
    if (const Status s = m_authorized->replace({QString(), r.identity, comment, classes}); !s.ok())
        return s;
    wire::Message paired;
    paired.type = wire::Type::Paired;
    client->channel->send(paired);
    remove(client, QStringLiteral("accepted"));
    return {};
}

Status PairingDesk::reject(const QString& code) {
    Client* client = find(code);
    if (!client)
        return noRequest(printable(code));
    sendFailure(client->socket, Error::NotAuthorized,
                QStringLiteral("the host's user rejected the pairing request"));
    remove(client, QStringLiteral("rejected"));
    return {};
}

// The connection closes once what was sent has gone out.
void PairingDesk::remove(Client* client, const QString& why) {
    if (!m_clients.removeOne(client))
        return;
    if (client->waiting)
        Q_EMIT ended(client->request.code, why);
    client->channel->disconnect(client);
    client->socket->disconnect(client);
    client->socket->setParent(nullptr);
    closeGracefully(client->socket);
    client->deleteLater();
}

QString PairingControl::description() const {
    return QStringLiteral("pairing requests of automation-host, process %1")
        .arg(QCoreApplication::applicationPid());
}

QVariantList PairingControl::Requests() const {
    QVariantList list;
    if (!m_desk)
        return list;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const PairingRequest& r : m_desk->requests())
        list.append(QVariantMap{{QStringLiteral("code"), r.code},
                                {QStringLiteral("identity"), r.identity},
                                {QStringLiteral("comment"), r.comment},
                                {QStringLiteral("address"), r.address},
                                {QStringLiteral("age"), qlonglong(r.since.secsTo(now))}});
    return list;
}

QString PairingControl::Accept(const QString& code, const QString& classes) {
    QStringList patterns;
    QString error;
    QString identity;
    if (!classes.trimmed().isEmpty() && !parseClassPatterns(classes, &patterns, &error))
        failCall(QStringLiteral("--classes: ") + error,
                 QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    else if (!m_desk)
        failCall(QStringLiteral("the host is shutting down"));
    else if (const Status s = m_desk->accept(code, patterns, &identity); !s.ok())
        failCall(s.reason);
    return identity;
}

void PairingControl::Reject(const QString& code) {
    if (!m_desk)
        return failCall(QStringLiteral("the host is shutting down"));
    if (const Status s = m_desk->reject(code); !s.ok())
        failCall(s.reason);
}

}  // namespace automation
