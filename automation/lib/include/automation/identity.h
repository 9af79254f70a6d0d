#pragma once

#include <automation/status.h>

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
// (known_hosts) and which clients (authorized_clients) this user trusts
// (<automation/trust.h>, which also checks these files before they are used).
namespace automation {

struct Identity {
    QSslCertificate certificate;
    QSslKey key;
    QString id;  // the readable fingerprint
};

// The user's identity, created (under a lock, so that concurrent first uses
// agree) when there is none. Read as readTrustedFile() reads: a key file that
// others can read, a file or folder that others can write or that is not
// this user's, or a link at either path, is refused.
Status loadIdentity(Identity* identity);

// The readable fingerprint of a certificate; empty for a null one.
QString identityOf(const QSslCertificate& certificate);

// An identity as a user may type it (any case, with or without dashes or
// blanks) in its canonical form; empty when it is not one.
QString canonicalIdentity(const QString& text);

// TLS 1.3 with the user's certificate; the peer's certificate is asked for
// and then checked against the trust files (checkHostIdentity(),
// checkClientIdentity()), not against authorities.
QSslConfiguration tlsConfiguration(const Identity& identity);

}  // namespace automation
