// automation-host started by socket activation, as the systemd user units do:
// it serves on the socket it is handed, keeps it from the servers it starts,
// and leaves once no client has been connected for a while.

#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>
#include <automation/wire.h>

#include "processes.h"

#include <testenv.h>

#include <QTcpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

using namespace automation;

namespace {

const QString App = QStringLiteral("Server.Application");

// A listening loopback socket made the way a service manager makes it:
// inheritable, so that the host started next is handed it.
class ListeningSocket {
public:
    ListeningSocket() {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) < 0 ||
            listen(m_fd, 16) < 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) < 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~ListeningSocket() { close(m_fd); }
    Q_DISABLE_COPY_MOVE(ListeningSocket)

    int fd() const { return m_fd; }
    quint16 port() const { return m_port; }
    // How the socket shows in /proc/<pid>/fd of a process that holds it.
    QString procLink() const {
        struct stat s {};
        fstat(m_fd, &s);
        return QStringLiteral("socket:[%1]").arg(s.st_ino);
    }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

// Starts automation-host the way systemd does for automation-host.socket,
// with descriptor `passed` as its listening socket, as the user of home (the
// host refuses root). Every start of the host in this file goes through here.
void launchActivatedHost(QProcess& host, UserHome& home, int passed, const QStringList& args = {}) {
    home.prepare(host);
    host.start(home.install(QStringLiteral(SOCKET_ACTIVATE)),
               QStringList{QString::number(passed), home.install(QStringLiteral(HOST_EXE))} + args);
}

// Launches the host and waits until it says it listens on the passed socket.
bool startActivatedHost(QProcess& host, UserHome& home, int passed, const QStringList& args) {
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    launchActivatedHost(host, home, passed, args);
    if (!host.waitForStarted(10000))
        return false;
    while (host.waitForReadyRead(30000)) {
        if (host.readAll().contains("listening on 127.0.0.1:"))
            return true;
    }
    return false;
}

// Pairs the test's user with the host's user for 127.0.0.1, as a user pairs
// two machines.
bool pair(UserHome& home) {
    const QString ctl = home.install(automationctl());
    QByteArray hostIdentity;
    if (home.run(ctl, {QStringLiteral("identity")}, &hostIdentity) != 0)
        return false;
    return runProgram(automationctl(), {QStringLiteral("add-host"), QStringLiteral("127.0.0.1"),
                                        QString::fromUtf8(hostIdentity).trimmed()}) == 0 &&
           home.run(ctl, {QStringLiteral("authorize"), clientIdentity()}) == 0;
}

// The host ends by itself, cleanly. The event loop runs meanwhile, so that
// this side's connections finish closing.
bool leftByItself(QProcess& host) {
    QSignalSpy finished(&host, &QProcess::finished);
    return (host.state() == QProcess::NotRunning || finished.wait(60000)) &&
           host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0;
}

// A client that connects before the host runs: the kernel queues it on the
// listening socket until the host takes it.
bool connectRaw(QTcpSocket& client, quint16 port) {
    client.connectToHost(QHostAddress::LocalHost, port);
    return client.waitForConnected(10000);
}

}  // namespace

class TestSocketActivation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { useShortIdleTime(); }
    void init() { m_env.emplace(); }
    void cleanup() {
        m_env.reset();
        qunsetenv("AUTOMATION_HOST_PORT");
    }

    void createsThroughThePassedSocket() {
        // The class is registered on both sides: here it is set to be activated
        // through the host, which activates it locally as its own user.
        QCOMPARE(runProgram(SERVER_EXE), 0);
        UserHome home;
        QCOMPARE(home.run(home.install(QStringLiteral(SERVER_EXE))), 0);
        QVERIFY(pair(home));
        ListeningSocket listening;
        QVERIFY(listening.port() != 0);
        QTcpSocket early;
        QVERIFY(connectRaw(early, listening.port()));
        QProcess host;
        QVERIFY(startActivatedHost(host, home, listening.fd(), {"--exit-idle-time", "300"}));

        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(listening.port()));
        QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt, "127.0.0.1",
                                                        "ncacn_ip_tcp", "2"),
                 RemoteActivation::Written);
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        const qint64 server = pidOf(r.object->description());
        QVERIFY(processAlive(server));

        // The server the host started inherits neither the activation
        // variables nor the listening socket.
        QFile environ(QStringLiteral("/proc/%1/environ").arg(server));
        QVERIFY(environ.open(QIODevice::ReadOnly));
        const QByteArray variables = environ.readAll();
        QVERIFY(variables.contains("AUTOMATION_SERVER_IDLE_MS="));
        QVERIFY(!variables.contains("LISTEN_FDS=") && !variables.contains("LISTEN_PID="));
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(server));
        const QStringList entries = fds.entryList(QDir::Files | QDir::System);
        QVERIFY(!entries.isEmpty());
        for (const QString& fd : entries)
            QVERIFY2(QFile::symLinkTarget(fds.filePath(fd)) != listening.procLink(),
                     qPrintable(fd));

        r.object->release();
        early.close();
        QVERIFY(leftByItself(host));
        QVERIFY(host.readAll().contains("leaving"));
    }

    // A client that holds a connection keeps the host: here a plain one (which
    // the host serves when anonymous requests are allowed) that started a
    // request and never finished it is answered after the request time-out,
    // long after the idle time, and only then does the host leave.
    void connectedClientKeepsTheHost() {
        UserHome home;
        ListeningSocket listening;
        QTcpSocket client;
        QVERIFY(connectRaw(client, listening.port()));
        QProcess host;
        QVERIFY(startActivatedHost(host, home, listening.fd(),
                                   {"--exit-idle-time", "200", "--request-timeout", "1500",
                                    "--allow-anonymous=Server.Application"}));
        wire::Message create;
        create.type = wire::Type::Create;
        create.className = App;
        client.write(wire::encode(create).left(6));
        QVERIFY(client.waitForBytesWritten(10000));

        wire::FrameReader reader;
        wire::Message reply;
        while (reader.next(&reply) != wire::FrameReader::Status::Ready) {
            QVERIFY2(client.waitForReadyRead(30000), "the host went without answering");
            reader.append(client.readAll());
        }
        QCOMPARE(reply.type, wire::Type::Failed);
        QVERIFY2(reply.text.contains("1500 ms"), qPrintable(reply.text));
        QVERIFY(leftByItself(host));
    }

    void refusesWhatIsNotAListeningSocket() {
        QTemporaryFile file;
        QVERIFY(file.open());
        const int fd = dup(file.handle());  // dup() leaves it inheritable
        UserHome home;
        QProcess host;
        host.setProcessChannelMode(QProcess::MergedChannels);
        launchActivatedHost(host, home, fd);
        close(fd);
        QVERIFY(host.waitForFinished(30000));
        QCOMPARE(host.exitCode(), 1);
        QVERIFY(host.readAll().contains("is not a listening TCP socket"));
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestSocketActivation)
#include "test_socketactivation.moc"
