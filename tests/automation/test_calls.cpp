// Calls on created objects: methods, properties and signals of the sample
// server and of the test server's Test.Calls, locally and through
// automation-host; failures that must end a call in time; and byte streams
// after Created that are not what a client sends.

#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>
#include <automation/wire.h>

#include "processes.h"

#include <testenv.h>

#include <QLocalSocket>
#include <QSignalSpy>
#include <QSslSocket>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <optional>

using namespace automation;

namespace {

const QString App = QStringLiteral("Server.Application");

std::shared_ptr<ObjectHandle> create(const QString& className) {
    const CreateResult r = createObject(className);
    if (!r.ok())
        qWarning() << "cannot create" << className << r.reason;
    return r.object;
}

// One D-Bus method call with one string argument (none when text is null),
// little-endian, as a client's bytes on the wire.
QByteArray dbusCall(const QByteArray& interface, const QByteArray& member, const QByteArray& text,
                    quint32 serial) {
    QByteArray fields;
    const auto pad = [](QByteArray& b, int to) {
        while (b.size() % to)
            b.append('\0');
    };
    const auto u32 = [](QByteArray& b, quint32 v) {
        char raw[4];
        qToLittleEndian(v, raw);
        b.append(raw, 4);
    };
    const auto field = [&](char code, char type, const QByteArray& value) {
        pad(fields, 8);
        fields.append(code).append('\1').append(type).append('\0');
        if (type == 'g') {
            fields.append(char(value.size())).append(value).append('\0');
        } else {
            u32(fields, quint32(value.size()));
            fields.append(value).append('\0');
        }
    };
    field(1, 'o', "/");
    field(2, 's', interface);
    field(3, 's', member);
    QByteArray body;
    if (!text.isNull()) {
        field(8, 'g', "s");
        u32(body, quint32(text.size()));
        body.append(text).append('\0');
    }
    QByteArray message("l\1\0\1", 4);
    u32(message, quint32(body.size()));
    u32(message, serial);
    u32(message, quint32(fields.size()));
    message.append(fields);
    pad(message, 8);
    return message + body;
}

const QByteArray Auth = QByteArrayLiteral("\0AUTH ANONYMOUS 74657374\r\nBEGIN\r\n");

}  // namespace

class TestCalls : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useShortIdleTime(); }
    void init() {
        m_env.emplace();
        ObjectFactory::setDefaultTimeouts(Timeouts());
        QCOMPARE(runProgram(SERVER_EXE), 0);
        QCOMPARE(runProgram(TEST_SERVER), 0);
    }
    void cleanup() {
        m_host.reset();
        m_env.reset();
        qunsetenv("AUTOMATION_HOST_PORT");
    }

    // The sample server's interface, calls, property and signal, the same
    // whichever way the object was reached.
    void sampleObject_data() {
        QTest::addColumn<QString>("route");
        QTest::newRow("local") << "local";
        QTest::newRow("through the host, TLS") << "6";
        QTest::newRow("through the host, no authentication") << "1";
    }
    void sampleObject() {
        QFETCH(QString, route);
        if (route != QLatin1String("local")) {
            m_host.emplace();
            QStringList args{"--listen", "127.0.0.1:0"};
            if (route == QLatin1String("1"))
                args << "--allow-anonymous=Server.Application";
            QVERIFY(m_host->start(args));
            qputenv("AUTOMATION_HOST_PORT", QByteArray::number(m_host->port()));
            QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt, "127.0.0.1",
                                                            "ncacn_ip_tcp", route),
                     RemoteActivation::Written);
        }
        const auto object = create(App);
        QVERIFY(object);

        ObjectInterface interface;
        QVERIFY2(introspectObject(*object, &interface).ok(), "introspection");
        QCOMPARE(interface.name, App);
        QVERIFY(interface.method("Echo") && interface.method("Add"));
        QCOMPARE(interface.method("Add")->in.size(), 2);
        QVERIFY(interface.signal("counterChanged"));
        for (const char* name : {"Version", "ProcessId", "Machine"})
            QVERIFY(interface.property(name) && !interface.property(name)->writable);
        QVERIFY(interface.property("Counter")->writable);

        struct Case {
            const char* method;
            QVariantList args;
            Error error;
            QVariant value;
        };
        const QString text = QStringLiteral("héllo wörld \u2603\n\t");
        const QList<Case> cases{
            {"Echo", {text}, Error::None, text},
            {"Echo", {QString()}, Error::None, QString()},
            {"Add", {2, 3}, Error::None, 5},
            {"Add", {"-2", "40"}, Error::None, 38},
            {"Add", {2147483647, 1}, Error::CallFailed, {}},
            {"Add", {"two", 3}, Error::InvalidArguments, {}},
            {"Add", {2.5, 3}, Error::InvalidArguments, {}},
            {"Add", {4294967296LL, 0}, Error::InvalidArguments, {}},
            {"Add", {2}, Error::InvalidArguments, {}},
            {"Nope", {}, Error::UnknownMember, {}},
        };
        for (const Case& c : cases) {
            const CallResult r = callMethod(*object, c.method, c.args);
            QVERIFY2(r.status.error == c.error,
                     qPrintable(QStringLiteral("%1 %2: %3")
                                    .arg(c.method, errorName(r.status.error), r.status.reason)));
            if (c.error == Error::None)
                QCOMPARE(r.value(), c.value);
            else
                QVERIFY(!r.status.reason.isEmpty());
        }

        QCOMPARE(readProperty(*object, "Version").value(), QVariant(QStringLiteral("1.0.3")));
        QCOMPARE(readProperty(*object, "ProcessId").value().toLongLong(),
                 pidOf(object->description()));
        QCOMPARE(readProperty(*object, "Counter").value(), QVariant(0));
        QCOMPARE(writeProperty(*object, "Machine", "x").status.error, Error::InvalidArguments);
        QCOMPARE(writeProperty(*object, "Counter", "many").status.error, Error::InvalidArguments);

        QSignalSpy signal(object->events(), &ObjectEvents::signalReceived);
        QSignalSpy changed(object->events(), &ObjectEvents::propertiesChanged);
        QVERIFY(writeProperty(*object, "Counter", 7).ok());
        QCOMPARE(readProperty(*object, "Counter").value(), QVariant(7));
        QTRY_COMPARE(signal.size(), 1);
        QCOMPARE(signal.at(0).at(0).toString(), QStringLiteral("counterChanged"));
        QCOMPARE(signal.at(0).at(1).toList(), QVariantList{7});
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toMap().value("Counter"), QVariant(7));

        // Each object has its own state.
        const auto other = create(App);
        QVERIFY(other);
        QCOMPARE(readProperty(*other, "Counter").value(), QVariant(0));
    }

    void listsAndMaps() {
        const auto object = create("Test.Calls");
        QVERIFY(object);
        const QVariantList list{1, QStringLiteral("two"), true, 2.5,
                                QVariantList{QStringLiteral("inner")}};
        QCOMPARE(callMethod(*object, "Reverse", {QVariant(list)}).value().toList(),
                 QVariantList(list.crbegin(), list.crend()));
        const QVariantMap a{{"x", 1}, {"nested", QVariantMap{{"y", QStringLiteral("z")}}}};
        const QVariantMap b{{"x", QStringLiteral("replaced")}, {"w", QByteArray("\0\1", 2)}};
        QVariantMap merged = a;
        merged.insert(b);
        QCOMPARE(callMethod(*object, "Merge", {a, b}).value().toMap(), merged);
        QCOMPARE(callMethod(*object, "Split", {"a b c"}).value().toStringList(),
                 QStringList({"a", "b", "c"}));
        QCOMPARE(callMethod(*object, "Half", {"-9007199254740993"}).value().toDouble(),
                 -9007199254740993.0 / 2);
        QCOMPARE(callMethod(*object, "Reverse", {"not a list"}).status.error,
                 Error::InvalidArguments);
        ObjectInterface interface;
        QVERIFY(introspectObject(*object, &interface).ok());
        QVERIFY(!interface.method("Take"));  // a type with no D-Bus mapping is left out
    }

    // A call ends within its time-out when the server hangs, and at once
    // when the server dies during it; a released object fails what is
    // pending on it.
    void callsThatCannotFinish() {
        const auto hung = create("Test.Calls");
        const auto waiting = create("Test.Calls");  // served by the same process
        QVERIFY(hung && waiting);
        ObjectInterface interface;
        QVERIFY(introspectObject(*waiting, &interface).ok());
        hung->setCallTimeout(300);
        QCOMPARE(callMethod(*hung, "Hang").status.error, Error::Timeout);

        waiting->setCallTimeout(60000);
        std::optional<CallResult> result;
        waiting->call("Reverse", {QVariant(QVariantList())},
                      [&](const CallResult& r) { result = r; });
        QVERIFY(!result);  // never from inside call()
        ::kill(pid_t(pidOf(waiting->description())), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(result, 10000);
        QCOMPARE(result->status.error, Error::Disconnected);
        QVERIFY(!waiting->isValid());

        const auto released = create("Test.Calls");
        QVERIFY(released);
        result.reset();
        released->call("Hang", {}, [&](const CallResult& r) { result = r; });
        released->release();
        QTRY_VERIFY(result);
        QCOMPARE(result->status.error, Error::Disconnected);
    }

    // What follows Created on a server's connection must be D-Bus within
    // bounds; anything else costs that connection only.
    void hostileStreamAfterCreated_data() {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray noise(4096, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + 13) % 251);
        QTest::newRow("noise") << noise;
        QTest::newRow("no D-Bus authentication") << QByteArray("GET / HTTP/1.1\r\n\r\n");
        QTest::newRow("an endless authentication line")
            << QByteArray("\0AUTH ", 6) + QByteArray(8192, 'A');
        QByteArray huge = dbusCall(App.toUtf8(), "Echo", "x", 1);
        qToLittleEndian<quint32>(100u << 20, huge.data() + 4);  // declares a 100 MiB body
        QTest::newRow("a message over the size limit") << Auth + huge;
        QByteArray wrong = dbusCall(App.toUtf8(), "Echo", "x", 1);
        wrong[3] = 9;  // protocol version
        QTest::newRow("not a D-Bus message") << Auth + wrong;
        QTest::newRow("a message left unfinished")
            << Auth + dbusCall(App.toUtf8(), "Echo", "x", 1).left(20);
        QTest::newRow("an authentication left unfinished") << QByteArray("\0AUTH ANONY", 11);
        QTest::newRow("only the authentication's first byte") << QByteArray("\0", 1);
    }
    void hostileStreamAfterCreated() {
        QFETCH(QByteArray, bytes);
        const auto good = create(App);
        QVERIFY(good);
        QLocalSocket raw;
        createRaw(&raw);
        if (QTest::currentTestFailed())
            return;
        raw.write(bytes);
        raw.flush();
        QTRY_COMPARE_WITH_TIMEOUT(raw.state(), QLocalSocket::UnconnectedState, 15000);
        QCOMPARE(callMethod(*good, "Echo", {"still here"}).value().toString(),
                 QStringLiteral("still here"));
    }

    // sd-bus would answer Peer.GetMachineId with /etc/machine-id.
    void machineIdIsNotGiven() {
        const auto running = create(App);  // the server runs
        QVERIFY(running);
        QLocalSocket raw;
        createRaw(&raw);
        if (QTest::currentTestFailed())
            return;
        raw.write(Auth + dbusCall("org.freedesktop.DBus.Peer", "GetMachineId", QByteArray(), 1));
        QByteArray answer;
        while (!answer.contains("AccessDenied") && raw.waitForReadyRead(5000))
            answer += raw.readAll();
        QVERIFY2(answer.contains("org.freedesktop.DBus.Error.AccessDenied"),
                 answer.toHex().constData());
        QFile id(QStringLiteral("/etc/machine-id"));
        if (id.open(QIODevice::ReadOnly))
            QVERIFY(!answer.contains(id.readAll().trimmed()));
    }

    // A client that sends calls through the host and never reads the
    // answers is held back by flow control: the host's memory stays flat.
    void hostHoldsBackAPeerThatDoesNotRead() {
        m_host.emplace();
        QVERIFY(m_host->start());
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(m_host->port()));
        QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt, "127.0.0.1",
                                                        "ncacn_ip_tcp", "6"),
                 RemoteActivation::Written);
        Identity me;
        QVERIFY(loadIdentity(&me).ok());
        QSslSocket raw;
        raw.setSslConfiguration(tlsConfiguration(me));
        raw.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_host->port());
        QVERIFY(raw.waitForEncrypted(5000));
        wire::Message request;
        request.type = wire::Type::Create;
        request.className = App;
        raw.write(wire::encode(request));
        QVERIFY(raw.waitForReadyRead(5000));
        raw.readAll();
        const qint64 hostPid = m_host->pid();
        raw.setReadBufferSize(64 * 1024);  // reads nothing more from the kernel
        raw.write(Auth);
        const QByteArray payload(60000, 'p');
        const qint64 before = residentKiB(hostPid);
        QVERIFY(before > 0);
        // 64 MiB of calls whose answers are never read; the writes stall long
        // before, once every buffer on the way is full.
        qint64 sent = 0;
        for (quint32 serial = 1; sent < (64 << 20); ++serial) {
            const QByteArray call = dbusCall(App.toUtf8(), "Echo", payload, serial);
            raw.write(call);
            sent += call.size();
            const auto unsent = [&] { return raw.bytesToWrite() + raw.encryptedBytesToWrite(); };
            while (unsent() > (4 << 20))
                if (!raw.waitForBytesWritten(2000))
                    break;
            if (unsent() > (4 << 20))
                break;
        }
        QVERIFY2(sent < (64 << 20), "the host read everything it was sent");
        const qint64 after = residentKiB(hostPid);
        QVERIFY2(after - before < 16 * 1024,
                 qPrintable(QStringLiteral("host grew from %1 to %2 KiB").arg(before).arg(after)));
        // The calls were answered, as far as the answers could go.
        QByteArray answers;
        answers += raw.readAll();
        while (!answers.contains(payload.left(1000)) && raw.waitForReadyRead(5000))
            answers += raw.readAll();
        QVERIFY(answers.startsWith("OK ") && answers.contains(payload.left(1000)));
        // The owner is still served meanwhile.
        const auto object = create(App);
        QVERIFY(object);
        QCOMPARE(callMethod(*object, "Add", {20, 22}).value(), QVariant(42));
    }

private:
    // A connection to the sample server on which Created has just been read.
    void createRaw(QLocalSocket* raw) {
        QString path;
        ClassRecord record;
        QVERIFY(ClassStore().find(App, &record).ok());
        QVERIFY(serverSocketPath(record.server, &path).ok());
        raw->connectToServer(path);
        QVERIFY(raw->waitForConnected(5000));
        wire::Message request;
        request.type = wire::Type::Create;
        request.className = App;
        raw->write(wire::encode(request));
        wire::FrameReader reader;
        wire::Message created;
        while (reader.next(&created) == wire::FrameReader::Status::NeedMore) {
            QVERIFY(raw->waitForReadyRead(5000));
            reader.append(raw->readAll());
        }
        QCOMPARE(created.type, wire::Type::Created);
    }

    std::optional<ScopedXdgEnvironment> m_env;
    std::optional<HostProcess> m_host;
};

QTEST_GUILESS_MAIN(TestCalls)
#include "test_calls.moc"
