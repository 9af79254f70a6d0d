// Who automation-host lets in when it is crowded: storms of refused and
// unauthenticated connections, other users' floods, anonymous clients that
// take objects, and a client that never reads its answers. Through all of
// them the host's owner is served at once.

#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>
#include <automation/wire.h>

#include "processes.h"

#include <testenv.h>

#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>

using namespace automation;

namespace {

const QString App = QStringLiteral("Server.Application");

QByteArray createFrame(const QString& className) {
    wire::Message m;
    m.type = wire::Type::Create;
    m.className = className;
    return wire::encode(m);
}

// automation-test-flood run as another user (uid), holding its connections
// until it goes.
class Flood {
public:
    Flood(uid_t uid, quint16 port, const QStringList& args) {
        m_process.setChildProcessModifier([uid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
        });
        m_process.start(QStringLiteral(FLOOD), QStringList{QString::number(port)} + args);
    }
    ~Flood() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool done() {
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(30000))
                return false;
        return m_process.readLine().trimmed() == "done";
    }

private:
    QProcess m_process;
};

}  // namespace

class TestAdmission : public QObject {
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

    // After each storm, or while it holds its connections, the owner's
    // three creates go through; the host names the one it held back.
    void ownerServedThroughStorm_data() {
        QTest::addColumn<QString>("storm");
        QTest::addColumn<QStringList>("hostArgs");
        QTest::addColumn<QString>("logged");
        // What a storm from the test's own user leaves in the log depends on
        // how the host's reads and accepts interleave: only the owner counts.
        QTest::newRow("refused plain creates, reset") << "plain reset" << QStringList() << "";
        QTest::newRow("TLS handshakes without a certificate")
            << "no certificate" << QStringList() << "";
        QTest::newRow("TLS handshakes that fail") << "bad handshake" << QStringList() << "";
        QTest::newRow("handshakes that time out")
            << "silent" << QStringList{"--handshake-timeout", "300"}
            << "no completed handshake within 300 ms";
        QTest::newRow("two other users, idle, from four addresses")
            << "other users" << QStringList()
            << "too many unauthenticated connections from local user 65533";
        QTest::newRow("anonymous clients that stay")
            << "anonymous" << QStringList{"--allow-anonymous=Server.Application"}
            << "too many anonymous connections";
    }
    void ownerServedThroughStorm() {
        QFETCH(QString, storm);
        QFETCH(QStringList, hostArgs);
        QFETCH(QString, logged);
        HostProcess host;
        QVERIFY(host.start(QStringList{"--listen", "127.0.0.1:0"} + hostArgs));
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(host.port()));
        QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt, "127.0.0.1",
                                                        "ncacn_ip_tcp", "6"),
                 RemoteActivation::Written);
        std::vector<std::unique_ptr<Flood>> floods;
        if (storm == QLatin1String("plain reset")) {
            for (int i = 0; i < 300; ++i) {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, host.port());
                QVERIFY(s.waitForConnected(5000));
                s.write(createFrame(App));
                s.flush();
                s.setSocketOption(QAbstractSocket::KeepAliveOption, 0);
                s.abort();
            }
        } else if (storm == QLatin1String("no certificate")) {
            for (int i = 0; i < 100; ++i) {
                QSslSocket s;
                s.setPeerVerifyMode(QSslSocket::VerifyNone);
                s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), host.port());
                // The host's refusal is read, so that it got as far as
                // refusing; then the client resets.
                if (s.waitForEncrypted(5000))
                    s.waitForReadyRead(5000);
                s.abort();
            }
        } else if (storm == QLatin1String("bad handshake")) {
            for (int i = 0; i < 100; ++i) {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, host.port());
                QVERIFY(s.waitForConnected(5000));
                s.write(QByteArray("\x16\x03\x01\x00\x08not a hello", 16));
                s.flush();
                QVERIFY(s.state() == QAbstractSocket::UnconnectedState ||
                        s.waitForDisconnected(5000));
            }
        } else if (storm == QLatin1String("silent")) {
            // The origin's whole share, each closed by the host in the end.
            std::vector<std::unique_ptr<QTcpSocket>> silent;
            for (int i = 0; i < 16; ++i) {
                silent.push_back(std::make_unique<QTcpSocket>());
                silent.back()->connectToHost(QHostAddress::LocalHost, host.port());
                QVERIFY(silent.back()->waitForConnected(5000));
            }
            for (const auto& s : silent)
                QVERIFY(s->state() == QAbstractSocket::UnconnectedState ||
                        s->waitForDisconnected(5000));
        } else {
            if (!runningAsRoot())
                QSKIP("other users' connections need root to make them");
            const QStringList from{"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
            const QStringList create =
                storm == QLatin1String("anonymous") ? QStringList{"--create", App} : QStringList();
            for (uid_t uid : {65533u, 65532u}) {
                floods.push_back(
                    std::make_unique<Flood>(uid, host.port(), QStringList{"250"} + create + from));
                QVERIFY(floods.back()->done());
            }
        }
        for (int i = 0; i < 3; ++i) {
            const CreateResult r = createObject(App);
            QVERIFY2(r.ok(), qPrintable(QString::number(i) + ": " + r.reason));
        }
        QTRY_VERIFY2(host.errors().contains(logged), qPrintable(host.errors().right(600)));
    }

    // A client whose connection a crowded host closes before the handshake
    // (to make room) tries again: here the first two attempts are closed
    // on the way, the third reaches the host.
    void closedBeforeTheHandshakeIsTriedAgain() {
        HostProcess host;
        QVERIFY(host.start());
        QTcpServer front;
        QVERIFY(front.listen(QHostAddress::LocalHost, 0));
        int seen = 0;
        connect(&front, &QTcpServer::newConnection, &front, [&] {
            while (QTcpSocket* client = front.nextPendingConnection()) {
                if (++seen <= 2) {
                    client->abort();
                    client->deleteLater();
                    continue;
                }
                auto* upstream = new QTcpSocket(client);
                upstream->connectToHost(QHostAddress::LocalHost, host.port());
                const auto pass = [](QTcpSocket* from, QTcpSocket* to) {
                    to->write(from->readAll());
                };
                connect(client, &QTcpSocket::readyRead, upstream, [=] { pass(client, upstream); });
                connect(upstream, &QTcpSocket::readyRead, client, [=] { pass(upstream, client); });
                connect(upstream, &QTcpSocket::connected, client, [=] { pass(client, upstream); });
                connect(upstream, &QTcpSocket::disconnected, client,
                        &QTcpSocket::disconnectFromHost);
            }
        });
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(front.serverPort()));
        QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt, "127.0.0.1",
                                                        "ncacn_ip_tcp", "6"),
                 RemoteActivation::Written);
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        QCOMPARE(seen, 3);
    }

    // Anonymous clients together keep within their share of objects, so
    // the server still has room for the owner's.
    void anonymousObjectsLeaveRoomForTheOwner() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--allow-anonymous=Server.Application"}));
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(host.port()));
        std::vector<std::unique_ptr<QTcpSocket>> held;
        QString refusal;
        for (int i = 0; i < 12 && refusal.isEmpty(); ++i) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(QHostAddress::LocalHost, host.port());
            QVERIFY(s->waitForConnected(5000));
            s->write(createFrame(App));
            wire::FrameReader reader;
            wire::Message reply;
            while (reader.next(&reply) == wire::FrameReader::Status::NeedMore) {
                QVERIFY(s->waitForReadyRead(10000));
                reader.append(s->readAll());
            }
            if (reply.type == wire::Type::Failed)
                refusal = reply.text;
            held.push_back(std::move(s));
        }
        QVERIFY2(refusal.contains("anonymous clients hold 8 objects"), qPrintable(refusal));
        QCOMPARE(held.size(), size_t(9));
        QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt, "127.0.0.1",
                                                        "ncacn_ip_tcp", "6"),
                 RemoteActivation::Written);
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
    }

    // Requests pipelined by a client that never reads the answers wait in
    // the kernel, not in the host's memory.
    void unreadAnswersDoNotGrowTheHost() {
        HostProcess host;
        QVERIFY(host.start({"--listen", "127.0.0.1:0", "--allow-anonymous=Server.Application"}));
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        const int small = 4096;  // the client's side holds few of the answers
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(host.port());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd out{fd, POLLOUT, 0};
        QVERIFY(::poll(&out, 1, 5000) == 1);
        const qint64 before = residentKiB(host.pid());
        // Each asks for a class the host does not serve, and is answered.
        const QByteArray requests = createFrame(QStringLiteral("No.Such")).repeated(4096);
        qint64 sent = 0;
        while (sent < (64 << 20)) {
            const ssize_t n =
                ::send(fd, requests.constData(), size_t(requests.size()), MSG_NOSIGNAL);
            if (n > 0) {
                sent += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN)
                break;
            QCoreApplication::processEvents();  // reads the host's log, which must not hold it up
            if (::poll(&out, 1, 3000) != 1)
                break;  // the host reads no more
        }
        const qint64 after = residentKiB(host.pid());
        ::close(fd);
        QVERIFY2(sent < (64 << 20), "the host read everything it was sent");
        QVERIFY2(after - before < 16 * 1024,
                 qPrintable(QStringLiteral("host grew from %1 to %2 KiB").arg(before).arg(after)));
    }

    // An IPv6 network counts as one peer, however many of its addresses a
    // flood comes from. Two /64 networks on the loopback device of a
    // network namespace of the test's own: the test process moves into it,
    // so this case comes last.
    void ipv6NetworkCountsAsOnePeer() {
        if (!runningAsRoot() || ::unshare(CLONE_NEWNET) != 0)
            QSKIP("a network namespace of the test's own needs root");
        const auto ip = [](const QString& args) {
            return QProcess::execute(QStringLiteral("ip"), args.split(QLatin1Char(' '))) == 0;
        };
        QVERIFY(ip("link set lo up"));
        QVERIFY(ip("-6 addr add 2001:db8:0:2::1/64 dev lo nodad"));
        QStringList flooders;
        for (int i = 1; i <= 8; ++i) {
            const QString address = QStringLiteral("2001:db8:0:1::%1").arg(i);
            QVERIFY(ip(QStringLiteral("-6 addr add %1/64 dev lo nodad").arg(address)));
            flooders << address;
        }
        HostProcess host;
        QVERIFY(host.start({"--listen", "[2001:db8:0:2::1]:0"}));
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(host.port()));
        QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt, "2001:db8:0:2::1",
                                                        "ncacn_ip_tcp", "6"),
                 RemoteActivation::Written);
        Flood flood(65533, host.port(), QStringList{"250", "--to", "2001:db8:0:2::1"} + flooders);
        QVERIFY(flood.done());
        for (int i = 0; i < 3; ++i) {
            const CreateResult r = createObject(App);
            QVERIFY2(r.ok(), qPrintable(QString::number(i) + ": " + r.reason));
        }
        QTRY_VERIFY2(host.errors().contains(
                         "too many unauthenticated connections from network 2001:db8:0:1::/64"),
                     qPrintable(host.errors().right(600)));
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestAdmission)
#include "test_admission.moc"
