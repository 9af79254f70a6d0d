#pragma once

#include "loglimiter.h"
#include "pairingdesk.h"

#include <automation/broker.h>
#include <automation/identity.h>
#include <automation/trust.h>

#include <QHash>
#include <QHostAddress>
#include <QList>

class QAbstractSocket;
class QSslSocket;
class QTcpServer;

namespace automation {

struct HostOptions {
    Broker::Limits limits{64, 16, 64, 10000, 60000};
    int handshakeMs = 5000;        // from accepting to a checked peer
    bool allowAnonymous = false;   // serve level "1" (plain TCP, no identity)
    QStringList anonymousClasses;  // the class patterns anonymous clients may create
    LogLimiter::Rules logRules;    // refusals and ended calls written per peer and window
    // Objects made through the host: one client's (the anonymous ones'
    // together), and all but the owner's together. A server serves at most
    // Broker::Limits().maxPerPeer connections of the host's process; what
    // the others may not use is kept for the owner.
    int maxObjectsPerPeer = 8;
    int maxObjectsOfOthers = 24;
    // Connections not authenticated yet (and anonymous ones): at most this
    // many of limits.maxConnections; anonymous ones at most half of them.
    int maxUnauthenticated = 32;
    PairingDesk::Limits pairing;
};

// automation-host: accepts activation requests on TCP and activates classes
// registered for local activation on this machine, as this user.
//
// One port serves both kinds of client: the first byte tells a TLS handshake
// (0x16) from a plain frame ('A'). A TLS client is served when it presents
// this user's own identity or one listed in authorized_clients; a plain one
// only with allowAnonymous. Until a client is checked it counts against its
// origin's share (peers.h), afterwards against its identity's. An
// authorized client creates the classes its entry names (every class without
// a list), an anonymous one those of anonymousClasses. Every refusal is one
// line on stderr, peer text escaped, and a peer's repeated refusals are
// summed up.
class Host : public Broker {
    Q_OBJECT
public:
    Host(const HostOptions& options, const Identity& identity, QObject* parent = nullptr);
    ~Host() override;

    Status listen(const QHostAddress& address, quint16 port);
    // A listening socket handed over by the service manager.
    Status adopt(qintptr descriptor);
    QList<QTcpServer*> servers() const { return m_servers; }

    // Connections accepted but not yet admitted (or lingering after a refusal).
    int uncheckedCount() const { return m_uncheckedTotal; }

    // Takes over a connection accepted elsewhere.
    void accept(qintptr descriptor);

    PairingDesk* pairingDesk() const { return m_desk; }

protected:
    void activate(const QString& peer, const QString& className, QObject* context,
                  Done done) override;
    void serveCalls(QIODevice* socket, const QByteArray& created,
                    const std::shared_ptr<void>& object, QObject* context,
                    std::function<void(const QString&)> ended) override;
    QStringList servedClasses(const QString& peer) override;
    void pair(QIODevice* socket, const wire::Message& request, const QString& peer) override;

private:
    class Pending;
    void startTls(Pending* pending);
    void startPlain(Pending* pending);
    void awaitPairing(QSslSocket* socket, Pending* pending, const QString& id,
                      const Status& refusal);
    void admit(QAbstractSocket* socket, Pending* pending, const QString& peer,
               ClassFilter allowed = {});
    void refuse(QIODevice* socket, Pending* pending, Error error, const QString& reason);
    void turnAway(Pending* pending, const QString& reason);
    void drop(Pending* victim);
    int unauthenticatedCount() const;
    // key groups a peer's refusals for the log's limit: its origin until it
    // is checked, what the broker calls it after.
    void log(const QString& key, const QString& peer, const QString& reason);
    void reportTrustProblems();
    std::shared_ptr<void> takeShare(const QString& peer, QString* refusal);

    HostOptions m_options;
    Identity m_identity;
    QSslConfiguration m_tls;
    TrustFile m_authorized;
    QStringList m_reportedProblems;  // of authorized_clients, said once
    LogLimiter m_refusals;
    LogLimiter m_endedCalls;
    QList<QTcpServer*> m_servers;
    QHash<QString, int>
        m_objects;  // per client (anonymous ones together), and "" for all but the owner
    QHash<QString, int> m_unchecked;  // per origin: not yet admitted, or lingering after a refusal
    int m_uncheckedTotal = 0;
    QList<Pending*> m_pending;  // oldest first
    int m_anonymous = 0;        // admitted without authentication
    PairingDesk* m_desk;
};

}  // namespace automation
