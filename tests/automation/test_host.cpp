// Remote activation through automation-host on loopback, the client's
// failures on the way there, and the host's defences against bad clients.

#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>
#include <automation/wire.h>

#include "processes.h"

#include <testenv.h>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

#include <optional>

using namespace automation;

namespace {

const QString App = QStringLiteral("Server.Application");

void setRemote(const QString& machine, const QString& protocol = QStringLiteral("ncacn_ip_tcp")) {
    QCOMPARE(
        RemoteActivation().SetRemoteActivation(true, App, std::nullopt, machine, protocol, "2"),
        RemoteActivation::Written);
}

QByteArray createRequest(const QString& className) {
    wire::Message m;
    m.type = wire::Type::Create;
    m.className = className;
    return wire::encode(m);
}

// A raw client of the host, for what a well-behaved client never sends.
class RawClient {
public:
    explicit RawClient(quint16 port) { m_socket.connectToHost(QHostAddress::LocalHost, port); }
    bool connected() { return m_socket.waitForConnected(5000); }
    void send(const QByteArray& bytes) {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // The next message from the host, or nothing when it closes first.
    std::optional<wire::Message> reply(int ms = 5000) {
        QElapsedTimer clock;
        clock.start();
        wire::Message m;
        for (;;) {
            m_reader.append(m_socket.readAll());
            const auto status = m_reader.next(&m);
            if (status == wire::FrameReader::Status::Ready)
                return m;
            if (status == wire::FrameReader::Status::Error || clock.elapsed() > ms ||
                (m_socket.state() != QAbstractSocket::ConnectedState &&
                 m_socket.bytesAvailable() == 0))
                return std::nullopt;
            m_socket.waitForReadyRead(50);
        }
    }
    bool closedByHost(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (m_socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < ms) {
            m_socket.readAll();
            m_socket.waitForReadyRead(50);
        }
        return m_socket.state() != QAbstractSocket::ConnectedState;
    }
    void abort() { m_socket.abort(); }

private:
    QTcpSocket m_socket;
    wire::FrameReader m_reader;
};

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
        QTest::newRow("IPv4") << "127.0.0.1:0"
                              << " 127.0.0.1 ";
        QTest::newRow("IPv6") << "[::1]:0"
                              << "\t::1 ";
        QTest::newRow("IPv6 in brackets") << "[::1]:0"
                                          << "[::1]";
    }
    void createThroughHost() {
        QFETCH(QString, listen);
        QFETCH(QString, machine);
        HostProcess host;
        if (!host.start({"--listen", listen})) {
            QVERIFY(listen.startsWith('['));
            QSKIP("no IPv6 loopback here");
        }
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(host.port()));
        setRemote(machine);

        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        const qint64 pid = pidOf(r.object->description());
        QVERIFY2(processAlive(pid), qPrintable(r.object->description()));
        // Releasing goes through the host to the server, which then leaves.
        r.object->release();
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), TestIdleMs + 5000);
        QVERIFY(host.running());
    }

    void clientThatGoesAwayReleases() {
        HostProcess host;
        QVERIFY(host.start());
        RawClient client(host.port());
        QVERIFY(client.connected());
        client.send(createRequest(App));
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
        ScopedXdgEnvironment hostSide;  // the host's machine has a store of its own
        QVERIFY(ClassStore().registerClass(App, "", "/opt/Server.exe"));
        QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt, "192.0.2.7"),
                 RemoteActivation::Written);
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0"}, QProcessEnvironment::systemEnvironment()));
        const quint16 port = host.port();

        for (const QString& name : {App, QStringLiteral("Unknown.Class")}) {
            RawClient client(port);
            QVERIFY(client.connected());
            client.send(createRequest(name));
            const auto reply = client.reply();
            QVERIFY(reply);
            QCOMPARE(reply->type, wire::Type::Failed);
            QCOMPARE(CreateError(reply->code), CreateError::HostRefused);
            QVERIFY2(reply->text.contains(name == App ? "not relayed" : "not registered"),
                     qPrintable(reply->text));
        }
    }

    void refusedPortFailsFast() {
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(closedPort()));
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
        QTcpServer silent;  // accepts and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(silent.serverPort()));
        setRemote("127.0.0.1");
        ObjectFactory::setDefaultTimeouts({1000, 600, 5000});
        QElapsedTimer clock;
        clock.start();
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::Timeout);
        QVERIFY2(r.reason.contains("did not answer") && r.reason.contains("600 ms"),
                 qPrintable(r.reason));
        QVERIFY(clock.elapsed() >= 550 && clock.elapsed() < 3000);
    }

    void unsupportedProtocolFailsAtOnce() {
        setRemote("127.0.0.1", "ncadg_ip_udp");
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::ProtocolNotSupported);
        QVERIFY2(r.reason.contains("not supported") && r.reason.contains("ncadg_ip_udp"),
                 qPrintable(r.reason));
    }

    void hostSurvivesBadClients() {
        HostProcess host;
        QVERIFY(host.start(
            {"--listen", "127.0.0.1:0", "--request-timeout", "500", "--max-connections", "3"}));
        const quint16 port = host.port();
        {
            RawClient garbage(port);
            QVERIFY(garbage.connected());
            garbage.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
            const auto reply = garbage.reply();
            QVERIFY(reply);
            QCOMPARE(CreateError(reply->code), CreateError::ProtocolError);
            QVERIFY(garbage.closedByHost(3000));
        }
        {
            RawClient oversized(port);
            QVERIFY(oversized.connected());
            QByteArray header = createRequest(App).left(wire::HeaderSize);
            header[4] = char(0x7f);  // about 2 GB announced
            oversized.send(header);
            QVERIFY(oversized.closedByHost(3000));
        }
        {
            RawClient slow(port);
            QVERIFY(slow.connected());
            slow.send(createRequest(App).left(10));
            QElapsedTimer clock;
            clock.start();
            QVERIFY(slow.closedByHost(5000));
            QVERIFY(clock.elapsed() < 3000);
        }
        {
            RawClient abrupt(port);
            QVERIFY(abrupt.connected());
            abrupt.send(createRequest(App).left(12));
            abrupt.abort();
        }
        {
            // Three held connections are the most; the fourth is turned away.
            RawClient a(port), b(port), c(port), d(port);
            QVERIFY(a.connected() && b.connected() && c.connected() && d.connected());
            const auto reply = d.reply();
            QVERIFY(reply);
            QCOMPARE(CreateError(reply->code), CreateError::HostRefused);
            QVERIFY2(reply->text.contains("too many connections"), qPrintable(reply->text));
        }
        // After all that, the host still serves.
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(port));
        setRemote("127.0.0.1");
        QTRY_VERIFY_WITH_TIMEOUT(createObject(App).ok(), 5000);
        QVERIFY(host.running());
    }

    void hostCommandLine() {
        QByteArray out;
        QCOMPARE(runProgram(HOST_EXE, {"--help"}, &out), 0);
        QVERIFY2(out.contains(QByteArray::number(DefaultHostPort)) && out.contains("--listen"),
                 out.constData());
        for (const char* bad : {"127.0.0.1", "::1:80", "[::1]", "127.0.0.1:70000", "nohost:1"}) {
            QCOMPARE(runProgram(HOST_EXE, {"--listen", bad}, &out), 2);
            QVERIFY2(out.contains("--listen"), out.constData());
        }
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestHost)
#include "test_host.moc"
