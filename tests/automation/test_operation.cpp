// Object creation phase by phase, against peers inside the test process: a
// server's socket, a silent socket, a TLS host with a chosen identity.

#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>
#include <automation/serverkit.h>
#include <automation/wire.h>

#include <testenv.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QtTest>

#include <optional>

using namespace automation;

namespace {

const QString Class = QStringLiteral("Test.InProcess");

class Plain : public ServedObject {
public:
    QString description() const override { return QStringLiteral("in process"); }
};

// A host on loopback that completes TLS handshakes with a given identity,
// keeps what clients send after the handshake, and answers a Create.
class TlsPeer : public QTcpServer {
public:
    explicit TlsPeer(const Identity& identity) : m_identity(identity) {}
    QByteArray received;
    int handshakes = 0;
    int ended = 0;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        socket->setSslConfiguration(tlsConfiguration(m_identity));
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QSslSocket::encrypted, this, [this] { ++handshakes; });
        connect(socket, &QSslSocket::disconnected, this, [this] { ++ended; });
        connect(socket, &QSslSocket::readyRead, this, [this, socket] {
            received += socket->readAll();
            wire::Message created;
            created.type = wire::Type::Created;
            created.objectId = 1;
            socket->write(wire::encode(created));
        });
        socket->startServerEncryption();
    }

private:
    Identity m_identity;
};

}  // namespace

class TestOperation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<CreateResult>(); }
    void init() {
        m_env.emplace();
        ObjectFactory::setDefaultTimeouts(Timeouts());
        m_exe = m_env->root() + "/bin/inprocess.exe";  // never started: its server runs here
        QVERIFY(ClassStore().registerClass(Class, QString(), m_exe).ok());
    }
    void cleanup() {
        m_env.reset();
        qunsetenv("AUTOMATION_HOST_PORT");
    }

    void connectAndRequest() {
        ObjectServer server({{Class, QString(), [] { return std::make_unique<Plain>(); }}});
        QVERIFY(server.listen(m_exe).ok());
        const CreateResult r = createObject(Class);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        QCOMPARE(r.object->description(), QStringLiteral("in process"));
        QCOMPARE(server.connectionCount(), 1);
        r.object->release();
        QTRY_COMPARE(server.connectionCount(), 0);
    }

    // A server that takes the request and never answers: the request
    // phase's own time-out, not the whole call's.
    void requestTimesOut() {
        QString path;
        QVERIFY(serverSocketPath(m_exe, &path).ok());
        QLocalServer silent;
        QVERIFY(silent.listen(path));
        ObjectFactory::setDefaultTimeouts({1000, 400, 5000});
        QElapsedTimer clock;
        clock.start();
        const CreateResult r = createObject(Class);
        QCOMPARE(r.error, Error::ServerTimeout);
        QVERIFY2(r.reason.contains("400 ms"), qPrintable(r.reason));
        QVERIFY(clock.elapsed() >= 380 && clock.elapsed() < 3000);
    }

    // One client process gets at most its share of a server's connections;
    // another process is still served.
    void serverSharesConnectionsPerProcess() {
        Broker::Limits limits;
        limits.maxConnections = 4;
        limits.maxPerPeer = 2;
        ObjectServer server({{Class, QString(), [] { return std::make_unique<Plain>(); }}}, limits);
        QVERIFY(server.listen(m_exe).ok());
        const CreateResult first = createObject(Class);
        const CreateResult second = createObject(Class);
        QVERIFY(first.ok() && second.ok());
        const CreateResult third = createObject(Class);
        QCOMPARE(third.error, Error::HostRefused);
        QVERIFY2(third.reason.contains(QStringLiteral("too many connections from process %1")
                                           .arg(QCoreApplication::applicationPid())),
                 qPrintable(third.reason));

        QProcess other;
        other.start(AUTOMATIONCTL, {"create", Class});
        QVERIFY(other.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(other.state() == QProcess::NotRunning, 30000);
        QCOMPARE(other.exitCode(), 0);
    }

    // The Create goes out only once the host has shown an identity the
    // client trusts.
    void nothingIsSentBeforeTheHostIsChecked_data() {
        QTest::addColumn<bool>("ownIdentity");
        QTest::newRow("a stranger") << false;
        QTest::newRow("the user's own identity") << true;
    }
    void nothingIsSentBeforeTheHostIsChecked() {
        QFETCH(bool, ownIdentity);
        Identity identity;
        if (!ownIdentity)
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_env->root() + "/stranger"));
        QVERIFY(loadIdentity(&identity).ok());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_env->configHome()));
        TlsPeer host(identity);
        QVERIFY(host.listen(QHostAddress::LocalHost, 0));
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(host.serverPort()));
        QCOMPARE(RemoteActivation().SetRemoteActivation(true, Class, std::nullopt, "127.0.0.1",
                                                        "ncacn_ip_tcp", "6"),
                 RemoteActivation::Written);

        const CreateResult r = createObject(Class);
        if (ownIdentity) {
            QVERIFY2(r.ok(), qPrintable(r.reason));
            QVERIFY(host.received.contains(Class.toUtf8()));
            return;
        }
        QCOMPARE(r.error, Error::UnknownHost);
        QVERIFY2(r.reason.contains("automationctl add-host 127.0.0.1 " + identity.id),
                 qPrintable(r.reason));
        QTRY_COMPARE(host.ended, 1);  // all the client sent has arrived
        QVERIFY(host.received.isEmpty());
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
    QString m_exe;
};

QTEST_GUILESS_MAIN(TestOperation)
#include "test_operation.moc"
