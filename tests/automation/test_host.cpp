// Remote activation through automation-host on loopback, run as another
// user with an identity of its own: pairing, the authentication levels, the
// client's failures on the way there, and the host's defences against
// clients that are unknown, anonymous, greedy or malformed.

#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>
#include <automation/trust.h>
#include <automation/wire.h>

#include "processes.h"

#include <testenv.h>

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

#include <map>
#include <optional>

using namespace automation;

namespace {

const QString App = QStringLiteral("Server.Application");

void setRemote(const QString& machine, const QString& level = QStringLiteral("2"),
               const QString& protocol = QStringLiteral("ncacn_ip_tcp")) {
    QCOMPARE(
        RemoteActivation().SetRemoteActivation(true, App, std::nullopt, machine, protocol, level),
        RemoteActivation::Written);
}

void useHost(quint16 port) {
    qputenv("AUTOMATION_HOST_PORT", QByteArray::number(port));
}

QByteArray frame(wire::Type type, const QString& className = App, quint32 id = 0) {
    wire::Message m;
    m.type = type;
    m.className = className;
    m.objectId = id;
    return wire::encode(m);
}

// A client of the host that sends what it is told, for what a well-behaved
// client never sends: over plain TCP, or over TLS with the test's identity.
class RawClient {
public:
    explicit RawClient(quint16 port, bool tls = false,
                       const QHostAddress& from = QHostAddress::LocalHost) {
        m_socket.bind(from, 0);
        if (!tls) {
            m_socket.connectToHost(QHostAddress::LocalHost, port);
            return;
        }
        Identity me;
        if (loadIdentity(&me).ok())
            m_socket.setSslConfiguration(tlsConfiguration(me));
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    }
    bool connected() { return m_socket.waitForConnected(5000); }
    bool encrypted() { return m_socket.waitForEncrypted(5000); }
    void send(const QByteArray& bytes) {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // The next message from the host, or nothing when it closes first.
    std::optional<wire::Message> reply() {
        wire::Message m;
        for (;;) {
            m_reader.append(m_socket.readAll());
            const auto status = m_reader.next(&m);
            if (status == wire::FrameReader::Status::Ready)
                return m;
            if (status == wire::FrameReader::Status::Error ||
                (!m_socket.waitForReadyRead(5000) && m_socket.bytesAvailable() == 0))
                return std::nullopt;
        }
    }
    // The host closes the connection (within limitMs).
    bool closedByHost(int limitMs = 5000) {
        QDeadlineTimer deadline(limitMs);
        while (m_socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            m_socket.readAll();
            m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        return m_socket.state() != QAbstractSocket::ConnectedState;
    }
    bool open() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void abort() { m_socket.abort(); }

private:
    QSslSocket m_socket;
    wire::FrameReader m_reader;
};

// A loopback relay between client and host that keeps every byte it passes.
class Relay : public QTcpServer {
public:
    explicit Relay(quint16 target) : m_target(target) {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = nextPendingConnection()) {
                auto* upstream = new QTcpSocket(client);
                upstream->connectToHost(QHostAddress::LocalHost, m_target);
                const auto pass = [this](QTcpSocket* from, QTcpSocket* to) {
                    const QByteArray bytes = from->readAll();
                    captured += bytes;
                    to->write(bytes);
                };
                connect(client, &QTcpSocket::readyRead, upstream, [=] { pass(client, upstream); });
                connect(upstream, &QTcpSocket::readyRead, client, [=] { pass(upstream, client); });
                connect(upstream, &QTcpSocket::connected, client, [=] { pass(client, upstream); });
                connect(client, &QTcpSocket::disconnected, upstream,
                        &QTcpSocket::disconnectFromHost);
                connect(upstream, &QTcpSocket::disconnected, client,
                        &QTcpSocket::disconnectFromHost);
            }
        });
    }
    QByteArray captured;

private:
    quint16 m_target;
};

bool mentions(const QByteArray& bytes, const QString& text) {
    return bytes.contains(text.toUtf8()) ||
           bytes.contains(QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
}

}  // namespace

class TestHost : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useShortIdleTime(); }
    void init() {
        m_env.emplace();
        ObjectFactory::setDefaultTimeouts(Timeouts());
        QCOMPARE(runProgram(SERVER_EXE), 0);
    }
    void cleanup() {
        m_env.reset();
        qunsetenv("AUTOMATION_HOST_PORT");
    }

    void createThroughHost_data() {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("machine");
        QTest::addColumn<QString>("level");
        QTest::newRow("IPv4, default level") << "127.0.0.1:0"
                                             << " 127.0.0.1 "
                                             << "";
        QTest::newRow("IPv6, Connect") << "[::1]:0"
                                       << "\t::1 "
                                       << "2";
        QTest::newRow("IPv6 in brackets, Packet Privacy") << "[::1]:0"
                                                          << "[::1]"
                                                          << "6";
    }
    void createThroughHost() {
        QFETCH(QString, listen);
        QFETCH(QString, machine);
        QFETCH(QString, level);
        HostProcess host;
        if (!host.start({"--listen", listen})) {
            QVERIFY(listen.startsWith('['));
            QSKIP("no IPv6 loopback here");
        }
        useHost(host.port());
        setRemote(machine, level);

        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        const qint64 pid = pidOf(r.object->description());
        QVERIFY2(processAlive(pid), qPrintable(r.object->description()));
        // The server runs as the host's user, from the host's registration.
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1").arg(pid)).ownerId(), host.home().uid());
        // Releasing goes through the host to the server, which then leaves.
        r.object->release();
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), TestIdleMs + 5000);
        QVERIFY(host.running());
        QVERIFY(!host.errors().contains("not a loopback"));
    }

    // The pairing road as a user takes it, from the tool.
    void automationctlPairsAndCreates() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0"}, {true, false, false}));
        useHost(host.port());
        setRemote("127.0.0.1", "6");
        QByteArray out;
        QCOMPARE(runProgram(automationctl(), {"create", App}, &out), 1);
        const QString record =
            QStringLiteral("automationctl add-host 127.0.0.1 %1").arg(host.identity());
        QVERIFY2(out.contains("UnknownHost") && out.contains(record.toUtf8()), out.constData());

        // Fetched and shown, recorded only with the user's word.
        QCOMPARE(runProgram(automationctl(), {"add-host", "127.0.0.1"}, &out), 1);
        QVERIFY2(out.contains(host.identity().toUtf8()) && out.contains("not recorded"),
                 out.constData());
        QCOMPARE(runProgram(automationctl(), {"create", App}, &out), 1);
        QVERIFY2(out.contains("UnknownHost"), out.constData());
        QCOMPARE(runProgram(automationctl(), {"add-host", "127.0.0.1", "--yes"}, &out), 0);
        QCOMPARE(runProgram(automationctl(), {"hosts"}, &out), 0);
        QCOMPARE(out, ("127.0.0.1 " + host.identity() + '\n').toUtf8());

        // Now the host turns the client away, saying which identity to allow.
        QCOMPARE(runProgram(automationctl(), {"create", App}, &out), 1);
        const QString id = clientIdentity();
        QVERIFY2(out.contains("NotAuthorized") &&
                     out.contains(QStringLiteral("automationctl authorize %1").arg(id).toUtf8()),
                 out.constData());
        QTRY_VERIFY(
            host.errors().contains(QStringLiteral("refused 127.0.0.1:")) &&
            host.errors().contains(QStringLiteral("client identity %1 is not authorized").arg(id)));
        QVERIFY(host.authorize(id));
        QCOMPARE(runProgram(automationctl(), {"create", App}, &out), 0);
        QVERIFY2(out.contains("created Server.Application"), out.constData());

        // Trust withdrawn on either side takes effect at once.
        QCOMPARE(runProgram(automationctl(), {"remove-host", "127.0.0.1"}, &out), 0);
        QCOMPARE(runProgram(automationctl(), {"create", App}, &out), 1);
        QVERIFY2(out.contains("UnknownHost"), out.constData());
    }

    // A trust file that someone else could have replaced is not used: the
    // host serves no one from an authorized_clients in a folder its owner
    // left open to all (whoever wrote the file there), nor does the client
    // trust a known_hosts there. Each names the file; put right, it serves.
    void trustFilesOthersCouldReplaceAreNotUsed_data() {
        QTest::addColumn<QString>("side");
        QTest::addColumn<bool>("planted");  // written by another user
        QTest::newRow("host, file planted by another user") << "host" << true;
        QTest::newRow("host, its own file") << "host" << false;
        QTest::newRow("client") << "client" << false;
    }
    void trustFilesOthersCouldReplaceAreNotUsed() {
        QFETCH(QString, side);
        QFETCH(bool, planted);
        if (planted && !runningAsRoot())
            QSKIP("a second local user needs root");
        const bool onHost = side == "host";
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0"}, {true, true, !onHost}));
        useHost(host.port());
        setRemote("127.0.0.1", "6");
        const QString dir =
            (onHost ? host.home().root() + "/config" : m_env->configHome()) + "/automation";
        const QString file = dir + (onHost ? "/authorized_clients" : "/known_hosts");
        if (onHost) {
            QFile clients(file);
            QVERIFY(clients.open(QIODevice::WriteOnly));
            clients.write(clientIdentity().toUtf8() + '\n');
            clients.close();
            if (!planted)
                host.home().giveAway(file);
        }
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0777) == 0);  // the owner's mistake

        CreateResult r = createObject(App);
        QCOMPARE(r.error, onHost ? CreateError::StoreFailure : CreateError::Untrusted);
        QVERIFY2(r.reason.contains(file + " is not used: its folder " + dir +
                                   " is writable by group or others (mode 0777)"),
                 qPrintable(r.reason));
        if (onHost)
            QTRY_VERIFY(host.errors().contains(file + " is not used"));
        if (planted)
            return;
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
    }

    // Fetching the identity of a host for a machine that has another one
    // recorded shows both, and records it only with the user's word.
    void addHostWarnsOfAnotherIdentity() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0"}, {true, false, false}));
        useHost(host.port());
        const QByteArray old = "AAAA-BBBB-CCCC-DDDD-EEEE-FFFF-GGGG-HHHH-IIII-JJJJ-KKKK-LLLL-MMMM";
        QCOMPARE(runProgram(automationctl(), {"add-host", "127.0.0.1", old}), 0);
        QByteArray out;
        QCOMPARE(runProgram(automationctl(), {"add-host", "127.0.0.1"}, &out), 1);
        const QByteArray shown =
            "recorded: " + old + "\n  new:      " + host.identity().toUtf8() + '\n';
        QVERIFY2(out.contains("warning") && out.contains(shown) && out.contains("not recorded"),
                 out.constData());
        QCOMPARE(runProgram(automationctl(), {"hosts"}, &out), 0);
        QCOMPARE(out, "127.0.0.1 " + old + '\n');
        QCOMPARE(runProgram(automationctl(), {"add-host", "127.0.0.1", "--yes"}, &out), 0);
        QVERIFY2(
            out.contains(shown) && out.contains("recorded 127.0.0.1 " + host.identity().toUtf8()),
            out.constData());
    }

    // A registered machine that is no machine name is neither looked up nor
    // connected to, and the reason shows it escaped, on one line.
    void registeredMachineMustBeAName() {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        useHost(listener.serverPort());
        for (const QString& machine :
             {QStringLiteral("127.0.0.1\nbox"), QStringLiteral("127.0.0.1 x")}) {
            setRemote(machine);  // the component stores the machine as given
            const CreateResult r = createObject(App);
            QCOMPARE(r.error, CreateError::MachineNotFound);
            QVERIFY2(r.reason.contains(quoted(machine) + " is not a machine name") &&
                         !r.reason.contains('\n'),
                     qPrintable(r.reason));
        }
        QVERIFY(!listener.hasPendingConnections());
    }

    // Another program answering on the host's port with an identity of its
    // own gets nothing: not the class name, and no success reported.
    void fakeHostIsRefused() {
        quint16 port = 0;
        QString genuine;
        {
            HostProcess host;
            QVERIFY(host.start());
            port = host.port();
            genuine = host.identity();
        }
        HostProcess fake;  // would serve us, were we to talk to it
        QVERIFY(fake.start({"--listen", QStringLiteral("127.0.0.1:%1").arg(port)},
                           {true, false, true}));
        QVERIFY(fake.identity() != genuine);
        useHost(port);
        setRemote("127.0.0.1", "6");
        QByteArray out;
        QCOMPARE(runProgram(automationctl(), {"create", App}, &out), 1);
        QVERIFY2(out.contains("UnknownHost") && out.contains("impostor") &&
                     out.contains(fake.identity().toUtf8()),
                 out.constData());
    }

    // At Packet Privacy nothing of the request crosses the wire in clear; the
    // same relay sees the class name at No Authentication.
    void privacyHidesTheRequest() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--allow-anonymous=Server.Application"}));
        Relay relay(host.port());
        QVERIFY(relay.listen(QHostAddress::LocalHost, 0));
        useHost(relay.serverPort());

        setRemote("127.0.0.1", "6");
        CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        r.object->release();
        QTRY_VERIFY(relay.captured.size() > 200);
        QVERIFY(!mentions(relay.captured, App));
        QVERIFY(!mentions(relay.captured, QStringLiteral("process")));

        relay.captured.clear();
        setRemote("127.0.0.1", "1");
        r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        QVERIFY(mentions(relay.captured, App));
    }

    void anonymousLevelNeedsTheHostsConsent() {
        setRemote("127.0.0.1", "1");
        {
            HostProcess host;
            QVERIFY(host.start());
            useHost(host.port());
            const CreateResult r = createObject(App);
            QCOMPARE(r.error, CreateError::LevelRefused);
            QVERIFY2(
                r.reason.contains("No Authentication") && r.reason.contains("--allow-anonymous"),
                qPrintable(r.reason));
            QTRY_VERIFY(host.errors().contains("refused 127.0.0.1:"));
        }
        HostProcess open;
        QVERIFY(open.start({"--listen", "127.0.0.1:0", "--allow-anonymous=Server.Application"},
                           {true, false, false}));
        QTRY_VERIFY(open.errors().contains("--allow-anonymous"));
        useHost(open.port());
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
    }

    void unknownLevelSendsNothing() {
        QVERIFY(ClassStore()
                    .update(App,
                            [](ClassRecord& record) {
                                record.activation = {true, "127.0.0.1", "ncacn_ip_tcp", "9"};
                                return true;
                            })
                    .ok());
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        useHost(listener.serverPort());
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::LevelRefused);
        QVERIFY(!listener.hasPendingConnections());
    }

    // One user's client and host need no pairing: the same identity.
    void ownIdentityNeedsNoPairing() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0"}, {true, false, false}));
        QVERIFY(QDir().mkpath(m_env->configHome() + "/automation"));
        for (const char* file : {"identity.key", "identity.crt"}) {
            const QString mine = m_env->configHome() + "/automation/" + file;
            QVERIFY(QFile::copy(host.home().root() + "/config/automation/" + file, mine));
            QVERIFY(QFile::setPermissions(mine, QFile::ReadOwner | QFile::WriteOwner));
        }
        QCOMPARE(clientIdentity(), host.identity());
        useHost(host.port());
        setRemote("127.0.0.1", "6");
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
    }

    void clientThatGoesAwayReleases() {
        HostProcess host;
        QVERIFY(host.start());
        RawClient client(host.port(), true);
        QVERIFY(client.encrypted());
        client.send(frame(wire::Type::Create));
        const auto reply = client.reply();
        QVERIFY(reply);
        QCOMPARE(reply->type, wire::Type::Created);
        const qint64 pid = pidOf(reply->text);
        QVERIFY(processAlive(pid));
        client.abort();
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), TestIdleMs + 5000);
    }

    // The host serves only its own machine's local classes.
    void hostRefusesWhatItWouldRelay() {
        HostProcess host;
        QVERIFY(host.start());
        const QString ctl = host.home().install(automationctl());
        QCOMPARE(host.home().run(ctl, {"set", App, "--remote", "--machine", "192.0.2.7"}), 0);
        for (const QString& name : {App, QStringLiteral("Unknown.Class")}) {
            RawClient client(host.port(), true);
            QVERIFY(client.encrypted());
            client.send(frame(wire::Type::Create, name));
            const auto reply = client.reply();
            QVERIFY(reply);
            QCOMPARE(reply->type, wire::Type::Failed);
            QCOMPARE(CreateError(reply->code), CreateError::HostRefused);
            QVERIFY2(reply->text.contains(name == App ? "not relayed" : "not registered"),
                     qPrintable(reply->text));
        }
    }

    // A peer that holds its share of connections, unauthenticated from one
    // user or authenticated under one identity, leaves room for others
    // (other users' floods: test_admission).
    void fairShare() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--max-connections", "8", "--max-per-peer",
                            "3", "--handshake-timeout", "60000"}));
        useHost(host.port());
        setRemote("127.0.0.1", "6");
        {
            std::vector<std::unique_ptr<RawClient>> idle;
            for (int i = 0; i < 8; ++i) {
                idle.push_back(
                    std::make_unique<RawClient>(host.port(), false, QHostAddress("127.0.0.2")));
                QVERIFY(idle.back()->connected());
            }
            // The first three are held (until the handshake time-out); the
            // rest are turned away at once.
            for (int i = 3; i < 8; ++i)
                QVERIFY(idle[i]->closedByHost());
            for (int i = 0; i < 3; ++i)
                QVERIFY(idle[i]->open());
            QTRY_VERIFY(host.errors().contains(
                QStringLiteral("too many unauthenticated connections from local user %1")
                    .arg(::geteuid())));
        }

        // Identity A takes its three, B is still served.
        const QString configA = m_env->root() + "/a";
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configA));
        QVERIFY(host.recordFor("127.0.0.1"));
        QVERIFY(host.authorize(clientIdentity()));
        QList<CreateResult> held;
        for (int i = 0; i < 3; ++i) {
            held.append(createObject(App));
            QVERIFY2(held.last().ok(), qPrintable(held.last().reason));
        }
        const CreateResult fourth = createObject(App);
        QCOMPARE(fourth.error, CreateError::HostRefused);
        QVERIFY2(fourth.reason.contains("too many connections from identity"),
                 qPrintable(fourth.reason));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_env->configHome()));
        const CreateResult other = createObject(App);
        QVERIFY2(other.ok(), qPrintable(other.reason));
    }

    // Only a live request counts as activity.
    void releasingUnknownObjectsKeepsNothingOpen() {
        HostProcess host;
        QVERIFY(host.start());
        RawClient client(host.port(), true);
        QVERIFY(client.encrypted());
        client.send(frame(wire::Type::Release, QString(), 42));
        const auto reply = client.reply();
        QVERIFY(reply);
        QCOMPARE(CreateError(reply->code), CreateError::ProtocolError);
        QVERIFY(client.closedByHost());
        QTRY_VERIFY(host.errors().contains("release of object 42"));
    }

    void handshakeTimeOut() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--handshake-timeout", "300"}));
        RawClient silent(host.port());
        QVERIFY(silent.connected());
        QVERIFY(silent.closedByHost(10000));
        QTRY_VERIFY(host.errors().contains("no completed handshake within 300 ms"));
    }

    // What a fake host says reaches the terminal escaped: it can neither
    // drive the terminal nor add a line of its own.
    void fakeHostCannotDriveTheTerminal() {
        QTcpServer fake;  // plain, as a host at level 1 is
        QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
        connect(&fake, &QTcpServer::newConnection, &fake, [&fake] {
            QTcpSocket* client = fake.nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, client, [client] {
                client->readAll();
                wire::Message m;
                m.type = wire::Type::Failed;
                m.code = quint8(Error::HostRefused);
                m.text = QStringLiteral("\x1b]0;owned\x07\nautomation-host: all is well");
                client->write(wire::encode(m));
            });
        });
        useHost(fake.serverPort());
        setRemote("127.0.0.1", "1");
        QProcess ctl;
        ctl.setProcessChannelMode(QProcess::MergedChannels);
        ctl.start(automationctl(), {"create", App});
        QTRY_VERIFY_WITH_TIMEOUT(ctl.state() == QProcess::NotRunning, 20000);
        const QByteArray out = ctl.readAll();
        QCOMPARE(ctl.exitCode(), 1);
        QVERIFY2(!out.contains('\x1b') && !out.contains('\x07'), out.constData());
        QVERIFY2(out.contains("\\x1b]0;owned\\x07\\nautomation-host: all is well"),
                 out.constData());
        QCOMPARE(out.trimmed().count('\n'), 0);
    }

    void refusedPortFailsFast() {
        useHost(closedPort());
        setRemote("127.0.0.1");
        QElapsedTimer clock;
        clock.start();
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::ConnectionRefused);
        QVERIFY2(r.reason.contains("127.0.0.1") && r.reason.contains("refused"),
                 qPrintable(r.reason));
        QVERIFY(clock.elapsed() < 2000);
    }

    void silentHostIsGivenUp() {
        QTcpServer silent;  // accepts and never answers, not even a handshake
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        useHost(silent.serverPort());
        setRemote("127.0.0.1");
        ObjectFactory::setDefaultTimeouts({600, 5000, 8000});
        QElapsedTimer clock;
        clock.start();
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::Timeout);
        QVERIFY2(r.reason.contains("TLS handshake") && r.reason.contains("600 ms"),
                 qPrintable(r.reason));
        QVERIFY(clock.elapsed() >= 550 && clock.elapsed() < 4000);
    }

    void unsupportedProtocolFailsAtOnce() {
        setRemote("127.0.0.1", "2", "ncadg_ip_udp");
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::ProtocolNotSupported);
        QVERIFY2(r.reason.contains("not supported") && r.reason.contains("ncadg_ip_udp"),
                 qPrintable(r.reason));
    }

    void hostSurvivesBadClients() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--request-timeout", "500",
                            "--allow-anonymous=Server.Application"}));
        const quint16 port = host.port();
        {
            RawClient garbage(port);
            QVERIFY(garbage.connected());
            garbage.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
            QVERIFY(garbage.closedByHost());
            QTRY_VERIFY(host.errors().contains("speaks neither TLS nor the automation protocol"));
        }
        {
            RawClient oversized(port);
            QVERIFY(oversized.connected());
            QByteArray header = frame(wire::Type::Create).left(wire::HeaderSize);
            header[4] = char(0x7f);  // about 2 GB announced
            oversized.send(header);
            const auto reply = oversized.reply();
            QVERIFY(reply);
            QCOMPARE(CreateError(reply->code), CreateError::ProtocolError);
            QVERIFY(oversized.closedByHost());
        }
        {
            RawClient slow(port);
            QVERIFY(slow.connected());
            slow.send(frame(wire::Type::Create).left(10));
            QVERIFY(slow.closedByHost(5000));
        }
        {
            RawClient abrupt(port);
            QVERIFY(abrupt.connected());
            abrupt.send(frame(wire::Type::Create).left(12));
            abrupt.abort();
        }
        // After all that, the host still serves.
        useHost(port);
        setRemote("127.0.0.1");
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        QVERIFY(host.running());
    }

    void connectionLimit() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--max-connections", "3",
                            "--allow-anonymous=Server.Application"}));
        // Three held connections are the most; the fourth is turned away.
        RawClient a(host.port()), b(host.port()), c(host.port());
        QVERIFY(a.connected() && b.connected() && c.connected());
        for (RawClient* client : {&a, &b, &c}) {
            client->send(frame(wire::Type::Create));
            const auto reply = client->reply();
            QVERIFY(reply);
            QCOMPARE(reply->type, wire::Type::Created);
        }
        RawClient d(host.port());
        QVERIFY(d.connected());
        QVERIFY(d.closedByHost());
        QTRY_VERIFY(host.errors().contains("too many connections (at most 3)"));
    }

    // Peer text in the host's log is quoted and escaped: a class name can
    // neither forge a line of its own nor drive the terminal that shows it.
    void logLinesCannotBeForged_data() {
        QTest::addColumn<bool>("tls");
        QTest::newRow("authenticated, class not registered") << true;
        QTest::newRow("anonymous, class not allowed") << false;
    }
    void logLinesCannotBeForged() {
        QFETCH(bool, tls);
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--allow-anonymous=Server.Application"}));
        const QString forged = QStringLiteral("Forged\nautomation-host: refused X\x1b]0;title\a");
        RawClient client(host.port(), tls);
        QVERIFY(tls ? client.encrypted() : client.connected());
        client.send(frame(wire::Type::Create, forged));
        const auto reply = client.reply();
        QVERIFY(reply);
        QCOMPARE(reply->type, wire::Type::Failed);

        const QString escaped = QStringLiteral(
            "class \"Forged\\nautomation-host: refused X\\x1b]0;title\\x07\" is not ");
        QTRY_VERIFY(host.errors().contains(escaped));
        const QString errors = host.errors();
        QVERIFY2(!errors.contains(QChar(0x1b)) && !errors.contains(QChar(0x07)),
                 qPrintable(errors));
        const QStringList lines = errors.split('\n');
        QCOMPARE(lines.filter("automation-host: refused X").size(), 1);
        const QStringList refusal = lines.filter(escaped);
        QCOMPARE(refusal.size(), 1);
        QVERIFY2(refusal.first().startsWith("automation-host: refused "), qPrintable(errors));
    }

    // A reconnect loop leaves a few lines, not one a connection: a peer's
    // first refusals in full, then one line that counts the rest when the
    // window closes, after which the next refusal is shown again.
    void refusalStormIsSummedUp() {
        HostProcess host;
        host.home().setEnvironment("AUTOMATION_HOST_LOG_WINDOW_MS", "5000");
        QVERIFY(host.start());
        constexpr int Storm = 300;
        constexpr int Burst = 5;
        for (int i = 0; i < Storm; ++i) {
            RawClient client(host.port());
            QVERIFY(client.connected());
            client.send(frame(wire::Type::Create));
            // A LevelRefused answer, or none when turned away; either way
            // the host is done with it.
            if (const auto reply = client.reply())
                QCOMPARE(CreateError(reply->code), CreateError::LevelRefused);
            client.abort();
        }
        const QRegularExpression summary(
            "^automation-host: refused (\\d+) more connections or requests from local user \\d+ "
            "in the last 5 s$",
            QRegularExpression::MultilineOption);
        QTRY_VERIFY_WITH_TIMEOUT(summary.match(host.errors()).hasMatch(), 30000);
        const QString full = QStringLiteral("automation-host: refused 127.0.0.1:");
        QStringList lines = host.errors().split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.filter(full).size() == Burst, qPrintable(lines.join('\n')));
        QCOMPARE(lines.filter(summary).size(), 1);
        QCOMPARE(summary.match(host.errors()).captured(1).toInt(), Storm - Burst);
        QCOMPARE(lines.size(), Burst + 1);

        RawClient late(host.port());
        QVERIFY(late.connected());
        late.send(frame(wire::Type::Create));
        late.reply();  // answered or turned away: refused all the same
        QTRY_COMPARE(host.errors().split('\n').filter(full).size(), Burst + 1);
    }

    // An authorized client limited to some classes, and anonymous clients,
    // create what they may; for the rest they are told what would allow it.
    void classesAllowedPerClient() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--allow-anonymous=test.obj?ct"}));
        QCOMPARE(host.home().run(host.home().install(TEST_SERVER)), 0);  // registers Test.*
        const QString ctl = host.home().install(automationctl());
        const QString id = clientIdentity();
        QCOMPARE(host.home().run(ctl, {"authorize", id, "--classes", "Test.*"}), 0);

        const struct {
            bool tls;
            QString className;
            CreateError error;  // None: served
            QString says;
        } cases[] = {
            {true, "Test.Object", CreateError::None, {}},
            {true, App, CreateError::NotAuthorized,
             QStringLiteral("automationctl authorize %1 --classes 'Test.*,Server.Application'")
                 .arg(id)},
            {false, "TEST.OBJECT", CreateError::None, {}},
            {false, App, CreateError::HostRefused, "--allow-anonymous=CLASSES"},
        };
        for (const auto& c : cases) {
            RawClient client(host.port(), c.tls);
            QVERIFY(c.tls ? client.encrypted() : client.connected());
            client.send(frame(wire::Type::Create, c.className));
            const auto reply = client.reply();
            QVERIFY(reply);
            if (c.error == CreateError::None) {
                QVERIFY2(reply->type == wire::Type::Created, qPrintable(reply->text));
                continue;
            }
            QCOMPARE(reply->type, wire::Type::Failed);
            QCOMPARE(CreateError(reply->code), c.error);
            QVERIFY2(reply->text.contains("class \"Server.Application\" is not allowed") &&
                         reply->text.contains(c.says),
                     qPrintable(reply->text));
        }
        QTRY_VERIFY(host.errors().contains("is not allowed for anonymous clients"));
        QVERIFY(host.errors().contains("is not allowed for client identity " + id));

        // An entry whose option cannot be read allows nothing, and the host
        // says so once, however often the client comes.
        const QString file = host.home().root() + "/config/automation/authorized_clients";
        QFile entry(file);
        QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
        entry.write("classes=Test.* " + id.toUtf8() + "\n");
        entry.close();
        host.home().giveAway(file);
        for (int i = 0; i < 2; ++i) {
            RawClient client(host.port(), true);
            QVERIFY(client.encrypted());
            client.send(frame(wire::Type::Create, "Test.Object"));
            const auto reply = client.reply();
            QVERIFY(reply);
            QCOMPARE(CreateError(reply->code), CreateError::NotAuthorized);
        }
        QTRY_COMPARE(host.errors().split('\n').filter("not authorized").size(), 2);
        const QStringList said = host.errors().split('\n').filter("the entry is ignored");
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.first().contains("line 1: the value of option \"classes\" is not in double "
                                       "quotes"),
                 qPrintable(said.first()));
    }

    void hostCommandLine() {
        QByteArray out;
        if (runningAsRoot()) {
            QCOMPARE(runProgram(HOST_EXE, {"--listen", "127.0.0.1:0"}, &out), 1);
            QVERIFY2(out.contains("refusing to run as root"), out.constData());
        }
        UserHome home;
        const QString exe = home.install(HOST_EXE);
        QCOMPARE(home.run(exe, {"--help"}, &out), 0);
        QVERIFY2(out.contains(QByteArray::number(DefaultHostPort)) && out.contains("--listen") &&
                     out.contains("--allow-anonymous") && out.contains("--max-per-peer"),
                 out.constData());
        for (const char* bad : {"127.0.0.1", "::1:80", "[::1]", "127.0.0.1:70000", "nohost:1"}) {
            QCOMPARE(home.run(exe, {"--listen", bad}, &out), 2);
            QVERIFY2(out.contains("--listen"), out.constData());
        }
        QCOMPARE(home.run(exe, {"--max-per-peer", "0"}, &out), 2);
        // Anonymous clients are served a list of classes, never every class
        // for want of one.
        for (const QStringList& args :
             QList<QStringList>{{"--allow-anonymous"},
                                {"--allow-anonymous", "--listen", "127.0.0.1:0"},
                                {"--allow-anonymous="},
                                {"--allow-anonymous=Server.Application,,Test.*"}}) {
            QCOMPARE(home.run(exe, args, &out), 2);
            QVERIFY2(out.contains("--allow-anonymous=Server.Application,Test.*"), out.constData());
        }

        // An address other machines can reach is said aloud (nothing is
        // sent to it: the host is stopped once it has spoken).
        QProcess wide;
        home.prepare(wide);
        wide.start(exe, {"--listen", "0.0.0.0:0"});
        QByteArray said;
        QTRY_VERIFY((said += wide.readAllStandardError()).contains("0.0.0.0:"));
        QVERIFY2(said.contains("is not a loopback address"), said.constData());
        wide.kill();
        wide.waitForFinished();
    }

    // Every option of --help is in the manual page, with the same default,
    // and the page describes no option the host does not have.
    void helpAndManualAgree() {
        UserHome home;
        QByteArray help;
        QCOMPARE(home.run(home.install(HOST_EXE), {"--help"}, &help), 0);
        QFile page(QStringLiteral(HOST_MANUAL));
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString manual = QString::fromUtf8(page.readAll());
        QVERIFY(manual.contains("AUTOMATION_HOST_LOG_WINDOW_MS"));
        // Option name to its description, from the help's table and from the
        // page's OPTIONS section.
        const auto options = [](const QString& text, const QRegularExpression& heading) {
            std::map<QString, QString> found;
            QString current;
            for (const QString& line : text.split('\n')) {
                if (const auto m = heading.match(line); m.hasMatch()) {
                    current = m.captured(1);
                    found[current] = line.mid(m.capturedEnd(1));
                } else if (line.trimmed().isEmpty() || !line.front().isSpace()) {
                    current.clear();
                } else if (!current.isEmpty()) {
                    found[current] += ' ' + line.trimmed();
                }
            }
            return found;
        };
        const auto inHelp =
            options(QString::fromUtf8(help), QRegularExpression("^  (?:-\\w, )?--([a-z-]+)"));
        const QString section = manual.section("# OPTIONS", 1).section("\n# ", 0, 0);
        const auto inManual =
            options(section, QRegularExpression("^\\*(?:-\\w\\*, \\*)?--([a-z-]+)\\*"));
        QStringList helpNames, manualNames;
        for (const auto& [name, text] : inHelp)
            helpNames << name;
        for (const auto& [name, text] : inManual)
            manualNames << name;
        QCOMPARE(manualNames, helpNames);
        QVERIFY(helpNames.contains("allow-anonymous") && helpNames.contains("help"));
        const QRegularExpression byDefault("\\(default (\\d+)");
        for (const auto& [name, text] : inHelp)
            QVERIFY2(
                byDefault.match(text).captured(1) == byDefault.match(inManual.at(name)).captured(1),
                qPrintable(name + ": " + text + " / " + inManual.at(name)));
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestHost)
#include "test_host.moc"
