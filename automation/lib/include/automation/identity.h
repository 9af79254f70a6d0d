#pragma once

#include <automation/status.h>

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>
#include <QStringList>

// Who a user of the automation layer is on the network, and whom they trust.
//
// Each user has a key pair and a self-signed certificate under
// configDirectory() (identity.key, identity.crt, both 0600), made on first
// need. The identity is the SHA-256 fingerprint of the certificate, written
// as thirteen groups of four letters and digits so that people can read it
// aloud and compare it. The trust files beside them say which hosts
// (known_hosts) and which clients (authorized_clients) this user trusts.
namespace automation {

struct Identity {
    QSslCertificate certificate;
    QSslKey key;
    QString id;  // the readable fingerprint
};

// The user's identity, created (under a lock, so that concurrent first uses
// agree) when there is none. A key file that others can read, or a link at
// either path, is refused.
Status loadIdentity(Identity* identity);

// The readable fingerprint of a certificate; empty for a null one.
QString identityOf(const QSslCertificate& certificate);

// An identity as a user may type it (any case, with or without dashes or
// blanks) in its canonical form; empty when it is not one.
QString canonicalIdentity(const QString& text);

// TLS 1.3 with the user's certificate; the peer's certificate is asked for
// and then checked against the trust files, not against authorities.
QSslConfiguration tlsConfiguration(const Identity& identity);

// One line of a trust file: for known_hosts a machine and a host identity,
// for authorized_clients an identity (machine empty), which may be limited
// to some classes. The comment is the rest of the line.
struct TrustEntry {
    QString machine;
    QString identity;
    QString comment;
    QStringList classes{};  // patterns of the classes it may create; empty for every class

    friend bool operator==(const TrustEntry&, const TrustEntry&) = default;
};

// A list of class patterns as written on a command line and in
// authorized_clients: "Server.Application,Office.*". A pattern is a class
// name in which * stands for any run of characters and ? for one; blanks
// around it are dropped. A list with an empty pattern, or one that holds a
// double quote, a control character or a leading '-', is refused with the
// reason in *error.
bool parseClassPatterns(const QString& list, QStringList* patterns, QString* error);

// Whether className matches one of the patterns, compared as class names
// are: without regard to case and surrounding blanks.
bool classMatches(const QStringList& patterns, const QString& className);

// A trust file: one entry a line, blank lines and lines starting with # are
// skipped, as are lines that do not hold an identity. Read again whenever it
// has changed; written whole to a new file that then replaces it.
//
// An authorized_clients entry may start with options, as in
//   classes="Server.Application,Office.*" IDENTITY [comment]
// which limit what the identity may create. An entry whose options cannot
// be read is left out (never read as allowing every class) and named in
// problems().
class TrustFile {
public:
    enum class Kind { KnownHosts, AuthorizedClients };
    explicit TrustFile(Kind kind);

    QString path() const;

    // The entries; a missing file has none.
    Status entries(QList<TrustEntry>* entries);

    // Whether identity is trusted (for known_hosts: recorded for machine).
    // A missing file trusts no one.
    Status contains(const QString& identity, bool* found, const QString& machine = QString());

    // Adds an entry unless it is there already (then *added is false).
    Status add(const TrustEntry& entry, bool* added = nullptr);

    // authorized_clients: puts entry in the place of the identity's entries
    // (readable or not), or at the end when there are none. An entry without
    // a comment keeps the one the identity had.
    Status replace(const TrustEntry& entry);

    // The classes identity may create: *found is false when it has no
    // entry, and *classes empty when it may create every class (several
    // entries add up).
    Status classesOf(const QString& identity, bool* found, QStringList* classes);

    // The lines left out at the last reading, as "line N: why".
    QStringList problems() const { return m_problems; }

    // Removes the entries that match: for known_hosts every entry of the
    // machine, or only the one with identity when it is given.
    Status remove(const QString& machineOrIdentity, const QString& identity, int* removed);

    static QString machineKey(const QString& machine);

private:
    Status reload();

    Kind m_kind;
    QList<TrustEntry> m_entries;
    QStringList m_problems;
    QByteArray m_stamp;  // what the file looked like when read
};

}  // namespace automation
