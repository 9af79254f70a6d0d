// Pairing a client with a host by comparing a code, as two users would: the
// host's user answers with automationctl or a desktop notification, and
// the classes are then imported and created on the client with no server
// there. Attacks come from a client the host does not know: other requests
// than pairing, a nonce that is not the one committed to, a flood.
#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/pairing.h>
#include <automation/trust.h>
#include <automation/wire.h>

#include <testenv.h>
#include "processes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSslSocket>
#include <QtTest>

#include <memory>
#include <optional>

using namespace automation;

namespace {

const QString App = QStringLiteral("Server.Application");
const QString Loopback = QStringLiteral("127.0.0.1");

// One client's pairing, followed to its end.
struct ClientPairing {
    Pairing pairing;
    QSignalSpy shown{&pairing, &Pairing::codeShown};
    QSignalSpy finished{&pairing, &Pairing::finished};

    explicit ClientPairing(const QString& comment = QStringLiteral("alice on laptop"),
                           int waitMs = Pairing::DefaultWaitMs) {
        pairing.start(Loopback, comment, waitMs);
    }
    QString code() const { return shown.isEmpty() ? QString() : shown.first().at(0).toString(); }
    Status status() const {
        return finished.isEmpty() ? Status() : finished.first().at(0).value<Status>();
    }
};

// The host user's automationctl; its output.
QByteArray hostCtl(HostProcess& host, const QStringList& args, int* exitCode = nullptr) {
    QByteArray out;
    const int code = host.home().run(host.home().install(automationctl()), args, &out);
    if (exitCode)
        *exitCode = code;
    return out;
}

QJsonArray waitingRequests(HostProcess& host) {
    return QJsonDocument::fromJson(
               hostCtl(host, {QStringLiteral("requests"), QStringLiteral("--json")}))
        .array();
}

bool knownHostsName(const QString& identity) {
    bool found = false;
    TrustFile(TrustFile::Kind::KnownHosts).contains(identity, &found, Loopback);
    return found;
}

// A TLS connection with this user's identity that speaks frames by hand.
struct RawClient {
    QSslSocket socket;
    wire::FrameReader reader;

    bool open(quint16 port) {
        Identity me;
        if (!loadIdentity(&me).ok())
            return false;
        socket.setSslConfiguration(tlsConfiguration(me));
        socket.connectToHostEncrypted(Loopback, port);
        return socket.waitForEncrypted(10000);
    }
    void send(wire::Type type, const QString& className, const QString& text) {
        wire::Message m;
        m.type = type;
        m.className = className;
        m.text = text;
        socket.write(wire::encode(m));
        socket.flush();
    }
    // The next frame; nullopt when the host closed first.
    std::optional<wire::Message> next() {
        wire::Message m;
        while (reader.next(&m) != wire::FrameReader::Status::Ready) {
            if (socket.state() != QAbstractSocket::ConnectedState && !socket.bytesAvailable())
                return std::nullopt;
            if (!socket.bytesAvailable() && !socket.waitForReadyRead(10000))
                return std::nullopt;
            reader.append(socket.readAll());
        }
        return m;
    }
};

// A notification service on a bus of the test's own, as a desktop has one:
// it answers every request with the action it was told to take.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QString action;
    QStringList bodies;
    QDBusConnection bus{QString()};

public Q_SLOTS:
    Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString&,
                             const QString& body, const QStringList& actions, const QVariantMap&,
                             int) {
        bodies.append(body);
        const uint id = uint(bodies.size());
        if (actions.contains(action)) {
            QTimer::singleShot(0, this, [this, id] {
                QDBusMessage signal =
                    QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                               QStringLiteral("org.freedesktop.Notifications"),
                                               QStringLiteral("ActionInvoked"));
                signal << id << action;
                bus.send(signal);
            });
        }
        return id;
    }
    Q_SCRIPTABLE void CloseNotification(uint) {}
};

}  // namespace

class TestPairing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        useShortIdleTime();
        qRegisterMetaType<Status>();
        qRegisterMetaType<PairingResult>();
    }
    void init() { m_env.emplace(); }
    void cleanup() {
        m_host.reset();
        m_env.reset();
        qunsetenv("AUTOMATION_HOST_PORT");
    }

    // The code: six digits, the same for the same inputs, another when any
    // identity or nonce differs, so that a machine in the middle, which
    // talks to each side with its own identity, shows each another code.
    void codeDependsOnEverything() {
        const QString client = QStringLiteral(
            "AAAA-BBBB-CCCC-DDDD-EEEE-FFFF-GGGG-HHHH-IIII-JJJJ-"
            "KKKK-LLLL-MMMM");
        const QString host = QStringLiteral(
            "2222-3333-4444-5555-6666-7777-2222-3333-4444-5555-"
            "6666-7777-2222");
        const QString impostor = QStringLiteral(
            "ZZZZ-3333-4444-5555-6666-7777-2222-3333-4444-"
            "5555-6666-7777-2222");
        const QByteArray nc(32, 'c'), nh(32, 'h');
        const QString code = pairingCode(client, host, nc, nh);
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{3} \\d{3}$")).match(code).hasMatch());
        QCOMPARE(pairingCode(client, host, nc, nh), code);
        QCOMPARE(normalizedPairingCode(QStringLiteral(" %1 ").arg(code)),
                 QString(code).remove(QLatin1Char(' ')));
        const QStringList others{
            pairingCode(client, impostor, nc, nh), pairingCode(impostor, host, nc, nh),
            pairingCode(host, client, nc, nh), pairingCode(client, host, QByteArray(32, 'd'), nh),
            pairingCode(client, host, nc, QByteArray(32, 'i'))};
        for (const QString& other : others)
            QVERIFY2(other != code, qPrintable(other));
        QVERIFY(normalizedPairingCode(QStringLiteral("48201")).isEmpty());
        QVERIFY(normalizedPairingCode(QStringLiteral("482 01x")).isEmpty());
    }

    // The host user's answer decides, and only acceptance records anything,
    // on either side; the client then imports and creates with no server.
    void hostUserDecides_data() {
        QTest::addColumn<QString>("answer");  // accept, accept-limited, reject, expire, withdraw
        QTest::newRow("accepted") << "accept";
        QTest::newRow("accepted for other classes") << "accept-limited";
        QTest::newRow("rejected") << "reject";
        QTest::newRow("expired") << "expire";
        QTest::newRow("withdrawn by the client") << "withdraw";
    }
    void hostUserDecides() {
        QFETCH(QString, answer);
        if (answer == QLatin1String("expire"))
            startHost({}, QStringLiteral("5000"));
        else
            startHost();
        ClientPairing client;
        QTRY_VERIFY_WITH_TIMEOUT(!client.shown.isEmpty() || !client.finished.isEmpty(), 20000);
        QVERIFY2(client.finished.isEmpty(), qPrintable(client.status().reason));
        QCOMPARE(client.shown.first().at(1).toString(), m_host->identity());

        // Both screens show one code, with the client's identity and comment.
        const QJsonArray waiting = waitingRequests(*m_host);
        QCOMPARE(waiting.size(), 1);
        const QJsonObject request = waiting.first().toObject();
        QCOMPARE(request.value("code").toString(), client.code());
        QCOMPARE(request.value("identity").toString(), clientIdentity());
        QCOMPARE(request.value("comment").toString(), QStringLiteral("alice on laptop"));

        // Pending, it authorizes nothing.
        RawClient other;
        QVERIFY(other.open(m_host->port()));
        other.send(wire::Type::Create, App, QString());
        const std::optional<wire::Message> refusal = other.next();
        QVERIFY(refusal && refusal->type == wire::Type::Failed);
        QCOMPARE(Error(refusal->code), Error::NotAuthorized);

        const QString digits = normalizedPairingCode(client.code());
        int exitCode = -1;
        if (answer == QLatin1String("accept"))
            hostCtl(*m_host, {QStringLiteral("accept"), client.code()}, &exitCode);
        else if (answer == QLatin1String("accept-limited"))
            hostCtl(*m_host,
                    {QStringLiteral("accept"), digits, QStringLiteral("--classes"),
                     QStringLiteral("Other.*")},
                    &exitCode);
        else if (answer == QLatin1String("reject"))
            hostCtl(*m_host, {QStringLiteral("reject"), digits}, &exitCode);
        else if (answer == QLatin1String("withdraw"))
            client.pairing.cancel();
        if (answer != QLatin1String("expire") && answer != QLatin1String("withdraw"))
            QCOMPARE(exitCode, 0);

        const bool accepted = answer.startsWith(QLatin1String("accept"));
        if (answer == QLatin1String("withdraw")) {
            QTRY_VERIFY_WITH_TIMEOUT(waitingRequests(*m_host).isEmpty(), 20000);
            QVERIFY(client.finished.isEmpty());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!client.finished.isEmpty(), 20000);
            QCOMPARE(client.status().ok(), accepted);
            if (!accepted)
                QCOMPARE(client.status().error,
                         answer == QLatin1String("reject") ? Error::NotAuthorized : Error::Timeout);
            QVERIFY(waitingRequests(*m_host).isEmpty());
        }
        QCOMPARE(knownHostsName(m_host->identity()), accepted);
        QCOMPARE(hostCtl(*m_host, {QStringLiteral("clients")}).contains(clientIdentity().toUtf8()),
                 accepted);
        if (!accepted) {
            // A decided code is no longer there to accept.
            hostCtl(*m_host, {QStringLiteral("accept"), digits}, &exitCode);
            QCOMPARE(exitCode, 1);
            return;
        }

        // Import: every class the host serves this client, none beyond.
        ClassListing listing;
        QSignalSpy listed(&listing, &ClassListing::finished);
        listing.start(Loopback);
        QTRY_VERIFY_WITH_TIMEOUT(!listed.isEmpty(), 20000);
        QVERIFY(listed.first().at(0).value<Status>().ok());
        const QStringList classes = listed.first().at(1).toStringList();
        QCOMPARE(classes, answer == QLatin1String("accept") ? QStringList{App} : QStringList());
        if (classes.isEmpty())
            return;
        QVERIFY(importClasses(Loopback, classes).ok());
        ClassRecord record;
        QVERIFY(ClassStore().find(App, &record).ok());
        QVERIFY(record.server.isEmpty());
        QCOMPARE(record.activation.machine, Loopback);
        const CreateResult created = createObject(App);
        QVERIFY2(created.ok(), qPrintable(created.reason));

        // Asked for locally, the class has no server here, and says so.
        QVERIFY(ClassStore()
                    .update(App,
                            [](ClassRecord& r) {
                                r.activation.remote = false;
                                return true;
                            })
                    .ok());
        const CreateResult local = createObject(App);
        QCOMPARE(local.error, Error::ServerStartFailed);
        QVERIFY2(local.reason.contains(QLatin1String("no local server")), qPrintable(local.reason));
    }

    // Before it is authorized, a client gets nothing but a pairing request
    // through: a request for an object or for the list of classes is
    // refused, and a nonce other than the one it committed to ends the
    // request before the host's user sees it.
    void unknownClientMayOnlyPair_data() {
        QTest::addColumn<int>("first");  // the frame sent after the handshake
        QTest::addColumn<bool>("badReveal");
        QTest::newRow("create") << int(wire::Type::Create) << false;
        QTest::newRow("list classes") << int(wire::Type::ListClasses) << false;
        QTest::newRow("reveal without request") << int(wire::Type::PairReveal) << false;
        QTest::newRow("pair, then another nonce") << int(wire::Type::Pair) << true;
    }
    void unknownClientMayOnlyPair() {
        QFETCH(int, first);
        QFETCH(bool, badReveal);
        startHost();
        RawClient raw;
        QVERIFY(raw.open(m_host->port()));
        const QByteArray nonce(32, 'n');
        raw.send(
            wire::Type(first),
            first == int(wire::Type::Pair) ? QString::fromLatin1(pairingCommitment(nonce).toHex())
                                           : App,
            first == int(wire::Type::PairReveal) ? QString::fromLatin1(nonce.toHex()) : QString());
        std::optional<wire::Message> answer = raw.next();
        if (badReveal) {
            QVERIFY(answer && answer->type == wire::Type::PairNonce);
            raw.send(wire::Type::PairReveal, QString(),
                     QString::fromLatin1(QByteArray(32, 'x').toHex()));
            QVERIFY(!raw.next());  // closed
        } else {
            QVERIFY(answer);
            QCOMPARE(answer->type, wire::Type::Failed);
            QCOMPARE(Error(answer->code), Error::NotAuthorized);
        }
        QVERIFY(waitingRequests(*m_host).isEmpty());
        QVERIFY(!hostCtl(*m_host, {QStringLiteral("clients")}).contains(clientIdentity().toUtf8()));
    }

    // A flood of requests from one origin gets two places; the request that
    // waited first is still there for the host's user, and accepting it
    // works.
    void floodDoesNotPushOutARequest() {
        startHost();
        ClientPairing real(QStringLiteral("the real one"));
        QTRY_VERIFY_WITH_TIMEOUT(!real.shown.isEmpty(), 20000);
        std::vector<std::unique_ptr<ClientPairing>> flood;
        for (int i = 0; i < 12; ++i)
            flood.push_back(std::make_unique<ClientPairing>(QStringLiteral("flood")));
        const auto settled = [&] {
            return std::all_of(flood.cbegin(), flood.cend(), [](const auto& f) {
                return !f->shown.isEmpty() || !f->finished.isEmpty();
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 30000);
        const auto refused = std::count_if(flood.cbegin(), flood.cend(), [](const auto& f) {
            return !f->finished.isEmpty() && f->status().error == Error::HostRefused;
        });
        QCOMPARE(refused, qsizetype(flood.size()) - 1);
        const QJsonArray waiting = waitingRequests(*m_host);
        QCOMPARE(waiting.size(), 2);
        QCOMPARE(waiting.first().toObject().value("code").toString(), real.code());
        int exitCode = -1;
        hostCtl(*m_host, {QStringLiteral("accept"), real.code()}, &exitCode);
        QCOMPARE(exitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!real.finished.isEmpty(), 20000);
        QVERIFY2(real.status().ok(), qPrintable(real.status().reason));
    }

    // The host's user answers through the desktop's notification: the
    // notification names the code, and its buttons decide.
    void notificationDecides_data() {
        QTest::addColumn<QString>("action");
        QTest::newRow("accept") << "accept";
        QTest::newRow("reject") << "reject";
    }
    void notificationDecides() {
        QFETCH(QString, action);
        // A bus in the host's home, open to the host's user and the test's.
        m_host.emplace();
        const QString busPath = m_host->home().root() + QStringLiteral("/bus");
        QFile config(m_host->home().root() + QStringLiteral("/bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral(
                         "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                         "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                         "busconfig.dtd\"><busconfig><type>session</type><listen>unix:path=%1"
                         "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                         "user=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/><allow "
                         "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                         .arg(busPath)
                         .toUtf8());
        config.close();
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                      QStringLiteral("--config-file=") + config.fileName()});
        QVERIFY(daemon.waitForReadyRead(10000));
        const QString address = QStringLiteral("unix:path=") + busPath;
        FakeNotifications service;
        service.action = action;
        service.bus = QDBusConnection::connectToBus(address, QStringLiteral("notifications"));
        QVERIFY(service.bus.isConnected());
        QVERIFY(service.bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                           &service, QDBusConnection::ExportScriptableSlots));
        QVERIFY(service.bus.registerService(QStringLiteral("org.freedesktop.Notifications")));

        startHost(address);
        ClientPairing client;
        QTRY_VERIFY_WITH_TIMEOUT(!client.finished.isEmpty(), 30000);
        QCOMPARE(service.bodies.size(), 1);
        QVERIFY2(service.bodies.first().contains(client.code()),
                 qPrintable(service.bodies.first()));
        QCOMPARE(client.status().ok(), action == QLatin1String("accept"));
        QCOMPARE(knownHostsName(m_host->identity()), action == QLatin1String("accept"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notifications"));
        daemon.kill();
        daemon.waitForFinished();
    }

private:
    // A host that knows nothing of the client, and whom the client does not
    // know either.
    void startHost(const QString& busAddress = QString(), const QString& expiryMs = QString()) {
        if (!m_host)
            m_host.emplace();
        if (!busAddress.isEmpty())
            m_host->home().setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        if (!expiryMs.isEmpty())
            m_host->home().setEnvironment(QStringLiteral("AUTOMATION_HOST_PAIRING_EXPIRY_MS"),
                                          expiryMs);
        HostProcess::Options options;
        options.recordHost = false;
        options.authorizeClient = false;
        QVERIFY(
            m_host->start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}, options));
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(m_host->port()));
    }

    std::optional<ScopedXdgEnvironment> m_env;
    std::optional<HostProcess> m_host;
};

QTEST_MAIN(TestPairing)
#include "test_pairing.moc"
