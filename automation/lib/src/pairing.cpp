#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/pairing.h>
#include <automation/trust.h>

#include "channel.h"
#include "transport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QIODevice>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QtEndian>

#include <functional>

namespace automation {

QString pairingCode(const QString& clientIdentity, const QString& hostIdentity,
                    const QByteArray& clientNonce, const QByteArray& hostNonce) {
    const QByteArray input = "automation pairing 1\n" + clientIdentity.toUtf8() + '\n' +
                             hostIdentity.toUtf8() + '\n' + clientNonce.toHex() + '\n' +
                             hostNonce.toHex();
    const QByteArray digest = QCryptographicHash::hash(input, QCryptographicHash::Sha256);
    const quint64 value = qFromBigEndian<quint64>(digest.constData()) % 1000000;
    return QStringLiteral("%1 %2")
        .arg(value / 1000, 3, 10, QLatin1Char('0'))
        .arg(value % 1000, 3, 10, QLatin1Char('0'));
}

QByteArray pairingCommitment(const QByteArray& clientNonce) {
    return QCryptographicHash::hash(clientNonce, QCryptographicHash::Sha256);
}

QByteArray newPairingNonce() {
    QByteArray nonce(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(nonce.data()),
                                          nonce.size() / 4);
    return nonce;
}

QByteArray pairingBytes(const QString& text) {
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    return hex.match(text).hasMatch() ? QByteArray::fromHex(text.toLatin1()) : QByteArray();
}

QString normalizedPairingCode(const QString& text) {
    QString digits = text.trimmed();
    digits.remove(QRegularExpression(QStringLiteral("[\\s-]")));
    static const QRegularExpression six(QStringLiteral("^[0-9]{6}$"));
    return six.match(digits).hasMatch() ? digits : QString();
}

namespace {

constexpr int MaxClasses = 4096;

// One connection to automation-host that exchanges frames, with one clock
// for whatever it waits for and one outcome: finish() runs once, through the
// event loop.
class HostExchange : public QObject {
public:
    using Finish = std::function<void(const Status&)>;

    HostExchange(QObject* parent, Finish finish) : QObject(parent), m_finish(std::move(finish)) {
        m_clock.setSingleShot(true);
        connect(&m_clock, &QTimer::timeout, this, [this] { this->finish(m_expiry); });
    }

    // Connects as this user; ready() runs once the host is checked.
    void open(const QString& machine, HostCheck check, std::function<void()> ready) {
        m_machine = machine.trimmed();
        if (const Status s = checkMachineName(m_machine); !s.ok())
            return finish(s);
        if (const Status s = loadIdentity(&m_identity); !s.ok())
            return finish(s);
        const Timeouts timeouts = ObjectFactory::defaultTimeouts();
        m_transport = tlsTransport(bareMachine(m_machine), hostPort(), m_identity, this, check);
        connect(m_transport, &Transport::failed, this, [this](const Status& s) { finish(s); });
        connect(m_transport, &Transport::ready, this, [this, ready, timeouts] {
            m_channel = new FrameChannel(m_transport->device(), timeouts.activationMs, this);
            connect(m_channel, &FrameChannel::failed, this, [this](const QString& reason) {
                finish(Status::failure(Error::ProtocolError,
                                       QStringLiteral("%1 sent something that is not a valid "
                                                      "answer: %2")
                                           .arg(m_transport->peer(), reason)));
            });
            whenDisconnected(m_transport->device(), this, [this] {
                finish(Status::failure(Error::HostRefused,
                                       QStringLiteral("%1 closed the connection before it "
                                                      "answered")
                                           .arg(m_transport->peer())));
            });
            ready();
        });
        wait(timeouts.connectMs * 2,
             Status::failure(Error::Timeout, QStringLiteral("connecting to automation-host on "
                                                            "%1 took too long")
                                                 .arg(m_machine)));
        m_transport->open();
    }

    void wait(int ms, const Status& expiry) {
        m_expiry = expiry;
        m_clock.start(qMax(1, ms));
    }

    void send(wire::Type type, const QString& className = QString(),
              const QString& text = QString()) {
        wire::Message m;
        m.type = type;
        m.className = className;
        m.text = text;
        m_channel->send(m);
    }

    // The host's answer was not one this exchange expects.
    void unexpected(const wire::Message& m) {
        if (m.type == wire::Type::Failed) {
            const Error error = m.code >= 1 && m.code <= quint8(LastWireError)
                                    ? Error(m.code)
                                    : Error::ProtocolError;
            return finish(Status::failure(error, printable(m.text)));
        }
        finish(Status::failure(Error::ProtocolError,
                               QStringLiteral("%1 sent an unexpected message (type %2)")
                                   .arg(m_transport->peer())
                                   .arg(int(m.type))));
    }

    void finish(const Status& status) {
        if (m_done)
            return;
        m_done = true;
        m_clock.stop();
        if (m_channel)
            m_channel->disconnect(this);
        if (m_transport) {
            m_transport->disconnect(this);
            if (QIODevice* device = m_transport->device())
                device->disconnect(this);
            m_transport->close();
        }
        QMetaObject::invokeMethod(
            this, [this, status] { m_finish(status); }, Qt::QueuedConnection);
    }

    FrameChannel* channel() const { return m_channel; }
    Transport* transport() const { return m_transport; }
    const Identity& identity() const { return m_identity; }
    QString machine() const { return m_machine; }

private:
    Finish m_finish;
    QString m_machine;
    Identity m_identity;
    Transport* m_transport = nullptr;
    FrameChannel* m_channel = nullptr;
    QTimer m_clock;
    Status m_expiry;
    bool m_done = false;
};

}  // namespace

struct Pairing::Private {
    explicit Private(Pairing* pairing) : q(pairing) {}
    Pairing* q;
    QPointer<HostExchange> exchange;
    QByteArray nonce;
    PairingResult result;
    bool waiting = false;  // the request is in, the host's user decides

    void revealed(HostExchange* exchange, const wire::Message& m, int waitMs);
};

Pairing::Pairing(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

Pairing::~Pairing() = default;

void Pairing::cancel() {
    delete d->exchange.data();
}

namespace {

// Records the host for machine, in the place of another identity recorded
// for it: the user has just compared the codes for this one.
Status recordHost(const QString& machine, const QString& identity, QString* replaced) {
    TrustFile hosts(TrustFile::Kind::KnownHosts);
    QList<TrustEntry> entries;
    if (const Status s = hosts.entries(&entries); !s.ok())
        return s;
    const QString key = TrustFile::machineKey(machine);
    for (const TrustEntry& e : std::as_const(entries)) {
        if (TrustFile::machineKey(e.machine) != key || e.identity == identity)
            continue;
        *replaced = e.identity;
        int removed = 0;
        if (const Status s = hosts.remove(machine, e.identity, &removed); !s.ok())
            return s;
    }
    const QString comment =
        QStringLiteral("paired %1").arg(QDate::currentDate().toString(Qt::ISODate));
    return hosts.add({machine, identity, comment});
}

}  // namespace

void Pairing::start(const QString& machine, const QString& comment, int waitMs) {
    cancel();
    d->waiting = false;
    d->result = PairingResult();
    d->result.machine = machine.trimmed();
    d->nonce = newPairingNonce();
    // The outcome comes from inside the exchange: it goes later.
    auto* exchange = new HostExchange(this, [this](const Status& s) {
        d->exchange->deleteLater();
        d->exchange = nullptr;
        Q_EMIT finished(s, d->result);
    });
    d->exchange = exchange;
    const QString said = comment.trimmed().left(MaxPairingComment);
    exchange->open(machine, HostCheck::Any, [this, exchange, said, waitMs] {
        d->result.hostIdentity = exchange->transport()->peerIdentity();
        connect(
            exchange->channel(), &FrameChannel::received, this,
            [this, exchange, waitMs](const wire::Message& m) {
                if (!d->waiting && m.type == wire::Type::PairNonce)
                    return d->revealed(exchange, m, waitMs);
                if (d->waiting && m.type == wire::Type::Paired) {
                    d->result.alreadyAuthorized = m.code == 1;
                    return exchange->finish(recordHost(exchange->machine(), d->result.hostIdentity,
                                                       &d->result.replacedIdentity));
                }
                exchange->unexpected(m);
            });
        exchange->send(wire::Type::Pair, QString::fromLatin1(pairingCommitment(d->nonce).toHex()),
                       said);
        exchange->wait(ObjectFactory::defaultTimeouts().activationMs,
                       Status::failure(Error::Timeout,
                                       QStringLiteral("%1 did not take the pairing request in time")
                                           .arg(exchange->transport()->peer())));
    });
}

// The host has committed to its nonce by sending it; ours goes out only now,
// and with both the code is known.
void Pairing::Private::revealed(HostExchange* exchange, const wire::Message& m, int waitMs) {
    const QByteArray hostNonce = pairingBytes(m.text);
    if (hostNonce.isEmpty())
        return exchange->unexpected(m);
    exchange->send(wire::Type::PairReveal, QString(), QString::fromLatin1(nonce.toHex()));
    waiting = true;
    exchange->wait(waitMs, Status::failure(Error::Timeout,
                                           QStringLiteral("the host's user did not answer within "
                                                          "%1 s; the request was withdrawn")
                                               .arg(waitMs / 1000)));
    Q_EMIT q->codeShown(pairingCode(exchange->identity().id, result.hostIdentity, nonce, hostNonce),
                        result.hostIdentity);
}

struct ClassListing::Private {
    QPointer<HostExchange> exchange;
    QStringList classes;
};

ClassListing::ClassListing(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {}

ClassListing::~ClassListing() = default;

void ClassListing::cancel() {
    delete d->exchange.data();
}

void ClassListing::start(const QString& machine) {
    cancel();
    d->classes.clear();
    auto* exchange = new HostExchange(this, [this](const Status& s) {
        d->exchange->deleteLater();
        d->exchange = nullptr;
        Q_EMIT finished(s, s.ok() ? d->classes : QStringList());
    });
    d->exchange = exchange;
    exchange->open(machine, HostCheck::Pinned, [this, exchange] {
        connect(exchange->channel(), &FrameChannel::received, this,
                [this, exchange](const wire::Message& m) {
                    if (m.type != wire::Type::ClassEntry)
                        return exchange->unexpected(m);
                    if (m.className.isEmpty())
                        return exchange->finish({});
                    if (d->classes.size() >= MaxClasses)
                        return exchange->finish(Status::failure(
                            Error::ProtocolError, QStringLiteral("%1 named more than %2 classes")
                                                      .arg(exchange->transport()->peer())
                                                      .arg(MaxClasses)));
                    d->classes.append(m.className);
                });
        exchange->send(wire::Type::ListClasses);
        exchange->wait(ObjectFactory::defaultTimeouts().activationMs,
                       Status::failure(Error::Timeout, QStringLiteral("%1 did not list its classes "
                                                                      "in time")
                                                           .arg(exchange->transport()->peer())));
    });
}

Status importClasses(const QString& machine, const QStringList& classes) {
    if (const Status s = checkMachineName(machine); !s.ok())
        return s;
    ClassStore store;
    for (const QString& name : classes) {
        if (const Status s = store.registerRemote(name, machine.trimmed()); !s.ok())
            return s;
    }
    return {};
}

}  // namespace automation
