#pragma once

#include <automation/status.h>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// Pairing a client with a host without copying identities, and using the
// classes a host serves without installing their servers.
//
// The client connects to automation-host over TLS, takes whatever identity
// the host shows, and asks to be authorized. Both ends then show the same
// six-digit code, derived from both identities and a nonce from each side
// (the client commits to its own before it learns the host's), so that a
// machine in the middle cannot make the two screens agree. The host's user
// compares the codes and accepts (automationctl accept, or the desktop
// notification); only then does the host authorize the client and the
// client record the host in known_hosts. PROTOCOL.md gives the derivation.
namespace automation {

// The code for a pairing, as "482 019". Identities are in their canonical
// form (canonicalIdentity()); the nonces are 32 random bytes each.
QString pairingCode(const QString& clientIdentity, const QString& hostIdentity,
                    const QByteArray& clientNonce, const QByteArray& hostNonce);

// What the client sends before it learns the host's nonce: SHA-256 of its own.
QByteArray pairingCommitment(const QByteArray& clientNonce);

// A comment sent with a request is at most this long.
inline constexpr int MaxPairingComment = 200;

// A fresh nonce: 32 bytes from the system's random source.
QByteArray newPairingNonce();

// A nonce or commitment as the frames carry it, 64 lowercase hexadecimal
// digits, in bytes; empty when the text is not one.
QByteArray pairingBytes(const QString& text);

// A code as a person may type it ("482 019", "482019", "482-019"): its six
// digits, or empty when it is no code.
QString normalizedPairingCode(const QString& text);

// What a pairing came to, when it succeeded.
struct PairingResult {
    QString machine;                 // as given to start(), trimmed
    QString hostIdentity;            // now recorded for machine in known_hosts
    QString replacedIdentity;        // the one recorded for machine before, if another
    bool alreadyAuthorized = false;  // the host knew this client before
};

// The client's side of one pairing, through the Qt event loop. codeShown()
// comes once the code is known (before the host's user can have seen the
// request); finished() exactly once, never from inside start(), unless
// cancel() comes first. Nothing is recorded unless the host's user accepts.
class Pairing : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultWaitMs = 5 * 60 * 1000;

    explicit Pairing(QObject* parent = nullptr);
    ~Pairing() override;
    Q_DISABLE_COPY_MOVE(Pairing)

    // Pairs with automation-host on machine (at hostPort()). comment is
    // shown to the host's user beside the request (at most 200 characters).
    // waitMs bounds the wait for the host's user once the request is in.
    void start(const QString& machine, const QString& comment = QString(),
               int waitMs = DefaultWaitMs);
    // Closes the connection, which withdraws the request.
    void cancel();

Q_SIGNALS:
    void codeShown(const QString& code, const QString& hostIdentity);
    void finished(const automation::Status& status, const automation::PairingResult& result);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The classes automation-host on machine would create for this user, asked
// over TLS as activation is (the host must be known and this user
// authorized). finished() exactly once, never from inside start().
class ClassListing : public QObject {
    Q_OBJECT
public:
    explicit ClassListing(QObject* parent = nullptr);
    ~ClassListing() override;
    Q_DISABLE_COPY_MOVE(ClassListing)

    void start(const QString& machine);
    void cancel();

Q_SIGNALS:
    void finished(const automation::Status& status, const QStringList& classes);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Registers each class for remote activation on machine, at the host's
// default level: a class not registered here gets no local server, one
// registered already keeps its server. Stops at the first failure.
Status importClasses(const QString& machine, const QStringList& classes);

}  // namespace automation

Q_DECLARE_METATYPE(automation::PairingResult)
