#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/trust.h>

#include "files.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QSysInfo>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <unistd.h>
#include <memory>

namespace automation {

namespace {

constexpr char Base32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr int IdentityChars = 52;  // 256 bits, five to a character
constexpr int GroupSize = 4;
constexpr long ValiditySeconds = 30L * 365 * 24 * 3600;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Number = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

QByteArray drain(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, size);
}

// A fresh EC P-256 key and a self-signed certificate for it, as PEM.
Status generate(QByteArray* keyPem, QByteArray* certificatePem) {
    const auto failed = [](const char* step) {
        return Status::failure(
            Error::StoreFailure,
            QStringLiteral("cannot make an identity: %1 failed").arg(QLatin1String(step)));
    };
    Key key(EVP_EC_gen("P-256"));
    if (!key)
        return failed("key generation");
    Certificate cert(X509_new());
    Number serial(BN_new());
    if (!cert || !serial || !X509_set_version(cert.get(), 2) ||
        !BN_rand(serial.get(), 127, -1, 0) ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) ||
        !X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), ValiditySeconds) ||
        !X509_set_pubkey(cert.get(), key.get()))
        return failed("certificate set-up");
    // The name is for people reading the certificate; trust goes by fingerprint.
    const QByteArray name = QStringLiteral("automation user %1 on %2")
                                .arg(::geteuid())
                                .arg(QSysInfo::machineHostName())
                                .toUtf8()
                                .left(64);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    if (!X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(name.constData()), -1,
                                    -1, 0) ||
        !X509_set_issuer_name(cert.get(), subject) ||
        !X509_sign(cert.get(), key.get(), EVP_sha256()))
        return failed("signing");
    Bio keyBio(BIO_new(BIO_s_mem()));
    Bio certBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !certBio ||
        !PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_X509(certBio.get(), cert.get()))
        return failed("encoding");
    *keyPem = drain(keyBio.get());
    *certificatePem = drain(certBio.get());
    return {};
}

Status parse(const QByteArray& keyPem, const QByteArray& certificatePem, const QString& dir,
             Identity* identity) {
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromData(certificatePem, QSsl::Pem);
    const QSslKey key(keyPem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    if (certificates.isEmpty() || key.isNull())
        return Status::failure(
            Error::StoreFailure,
            QStringLiteral("the identity in %1 cannot be read; move identity.key "
                           "and identity.crt away to make a new one")
                .arg(dir));
    identity->certificate = certificates.first();
    identity->key = key;
    identity->id = identityOf(identity->certificate);
    return {};
}

// Reads the identity, making it first when there is none.
Status readIdentity(const QString& dir, const QString& keyPath, const QString& certPath,
                    Identity* identity) {
    const auto readBoth = [&](QByteArray* keyPem, QByteArray* certPem, bool* complete) {
        bool haveKey = false;
        bool haveCert = false;
        Status s = readTrustedFile(keyPath, keyPem, &haveKey, Readers::OwnerOnly);
        if (s.ok())
            s = readTrustedFile(certPath, certPem, &haveCert);
        *complete = haveKey && haveCert;
        return s;
    };
    QByteArray keyPem;
    QByteArray certPem;
    bool complete = false;
    if (const Status s = readBoth(&keyPem, &certPem, &complete); !s.ok())
        return s;
    if (complete)
        return parse(keyPem, certPem, dir, identity);

    if (const Status s = makeOwnDirectory(dir, Privacy::Owned); !s.ok())
        return s;
    files::Lock lock;
    if (const Status s = lock.acquire(dir + QStringLiteral("/identity.lock"), -1); !s.ok())
        return s;
    // Another process may have made it while we waited.
    if (const Status s = readBoth(&keyPem, &certPem, &complete); !s.ok())
        return s;
    if (!complete) {
        if (const Status s = generate(&keyPem, &certPem); !s.ok())
            return s;
        // The certificate goes last: both files are there once it is.
        if (const Status s = files::replace(keyPath, keyPem); !s.ok())
            return s;
        if (const Status s = files::replace(certPath, certPem); !s.ok())
            return s;
    }
    return parse(keyPem, certPem, dir, identity);
}

}  // namespace

QString identityOf(const QSslCertificate& certificate) {
    if (certificate.isNull())
        return {};
    const QByteArray digest = certificate.digest(QCryptographicHash::Sha256);
    QString text;
    int bits = 0;
    quint32 buffer = 0;
    for (const char byte : digest) {
        buffer = (buffer << 8) | quint8(byte);
        bits += 8;
        while (bits >= 5) {
            text += QLatin1Char(Base32[(buffer >> (bits - 5)) & 31]);
            bits -= 5;
        }
    }
    if (bits > 0)
        text += QLatin1Char(Base32[(buffer << (5 - bits)) & 31]);
    QString grouped;
    for (int i = 0; i < text.size(); i += GroupSize)
        grouped += (i ? QStringLiteral("-") : QString()) + text.mid(i, GroupSize);
    return grouped;
}

QString canonicalIdentity(const QString& text) {
    QString plain;
    for (const QChar c : text) {
        if (c == QLatin1Char('-') || c.isSpace())
            continue;
        const QChar upper = c.toUpper();
        if (!((upper >= QLatin1Char('A') && upper <= QLatin1Char('Z')) ||
              (upper >= QLatin1Char('2') && upper <= QLatin1Char('7'))))
            return {};
        plain += upper;
    }
    if (plain.size() != IdentityChars)
        return {};
    QString grouped;
    for (int i = 0; i < plain.size(); i += GroupSize)
        grouped += (i ? QStringLiteral("-") : QString()) + plain.mid(i, GroupSize);
    return grouped;
}

Status loadIdentity(Identity* identity) {
    const QString dir = configDirectory();
    const QString keyPath = dir + QStringLiteral("/identity.key");
    const QString certPath = dir + QStringLiteral("/identity.crt");
    // Every remote creation needs it: read and decoded again only when the
    // files or their folder have changed.
    static QMutex cacheMutex;
    static QByteArray cachedStamp;
    static Identity cached;
    const auto stampNow = [&] {
        return dir.toUtf8() + '|' + files::stamp(dir) + '|' + files::stamp(keyPath) + '|' +
               files::stamp(certPath);
    };
    QMutexLocker locker(&cacheMutex);
    if (!cachedStamp.isEmpty() && stampNow() == cachedStamp) {
        *identity = cached;
        return {};
    }
    const Status loaded = readIdentity(dir, keyPath, certPath, identity);
    if (loaded.ok()) {
        cachedStamp = stampNow();
        cached = *identity;
    }
    return loaded;
}

QSslConfiguration tlsConfiguration(const Identity& identity) {
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setProtocol(QSsl::TlsV1_3OrLater);
    c.setLocalCertificate(identity.certificate);
    c.setPrivateKey(identity.key);
    // Self-signed on both sides: the certificate is asked for, and pinned
    // against the trust files once the handshake is done.
    c.setPeerVerifyMode(QSslSocket::QueryPeer);
    c.setCaCertificates({});
    return c;
}

}  // namespace automation
