#pragma once

#include <automation/serverkit.h>
#include <automation/trust.h>
#include <automation/wire.h>

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QIODevice;

namespace automation {

class FrameChannel;

// One pairing request, from its Pair frame until the host's user decides,
// the client goes, or it expires.
struct PairingRequest {
    QString code;      // "482 019", once the client has revealed its nonce
    QString identity;  // the client's
    QString comment;   // as the client sent it, unescaped
    QString address;   // where it came from, for people
    QDateTime since;
};

// The requests of clients that ask to be authorized, and what decides them.
// A request is kept only while its client's connection is open and for at
// most expiryMs; it authorizes nothing until accept(). The desk holds at
// most maxRequests of them (those still exchanging nonces included), at
// most maxPerOrigin from one origin: a flood is refused, it never pushes
// out a request that waits already.
class PairingDesk : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int maxRequests = 16;
        int maxPerOrigin = 2;
        int expiryMs = 10 * 60 * 1000;
        int exchangeMs = 10000;  // from Pair to PairReveal
    };

    PairingDesk(const Limits& limits, const QString& hostIdentity, TrustFile* authorized,
                QObject* parent = nullptr);
    ~PairingDesk() override;

    // Takes over a TLS connection whose first frame was pair. origin counts
    // it against its origin's share; a client known already (authorized) is
    // told so once the codes are known, and nothing is recorded.
    void take(QIODevice* socket, const wire::Message& pair, const QString& clientIdentity,
              const QString& origin, const QString& address, bool authorized);

    QList<PairingRequest> requests() const;
    // Requests held, those still exchanging nonces included.
    int count() const { return int(m_clients.size()); }

    // Authorizes the request's client (for classes, every class when empty)
    // and tells it; NotRegistered when no request has the code.
    Status accept(const QString& code, const QStringList& classes, QString* identity = nullptr);
    Status reject(const QString& code);

Q_SIGNALS:
    // A request waits for the host's user.
    void requested(const automation::PairingRequest& request);
    // It no longer does: decided, withdrawn or expired; why, for the log.
    void ended(const QString& code, const QString& why);
    // A request was turned away before it waited (limits, a bad exchange).
    void refused(const QString& address, const QString& reason);

private:
    class Client;
    Client* find(const QString& code) const;
    void remove(Client* client, const QString& why);

    Limits m_limits;
    QString m_hostIdentity;
    TrustFile* m_authorized;
    QList<Client*> m_clients;
};

// What automationctl's requests, accept and reject talk to: the desk, served
// to processes of the host's own user on a local socket in the private
// runtime folder, as an object with these methods.
class PairingControl : public ServedObject {
    Q_OBJECT
public:
    static constexpr const char* ClassName = "automation.PairingRequests";

    explicit PairingControl(PairingDesk* desk) : m_desk(desk) {}
    QString description() const override;

    // Each request as a map: code, identity, comment, address, age (seconds).
    Q_INVOKABLE QVariantList Requests() const;
    // classes: a list as authorize --classes takes it; empty for every class.
    // Returns the identity it authorized.
    Q_INVOKABLE QString Accept(const QString& code, const QString& classes);
    Q_INVOKABLE void Reject(const QString& code);

private:
    QPointer<PairingDesk> m_desk;
};

}  // namespace automation

Q_DECLARE_METATYPE(automation::PairingRequest)
