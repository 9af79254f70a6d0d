// Local activation end to end: registering by running Server.exe, creating
// cold and warm, releasing, and each way a local server can fail.

#include <automation/classstore.h>
#include <automation/objectfactory.h>

#include "processes.h"

#include <testenv.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <optional>

using namespace automation;

namespace {

const QString App = QStringLiteral("Server.Application");

void registerTestClass(const QString& name, const QString& server) {
    ClassStore store;
    QVERIFY2(store.registerClass(name, QString(), server), qPrintable(store.errorString()));
}

}  // namespace

class TestActivation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useShortIdleTime(); }
    void init() {
        m_env.emplace();
        ObjectFactory::setDefaultTimeouts(Timeouts());
    }
    void cleanup() {
        m_env.reset();
        qunsetenv("AUTOMATION_TEST_SERVER_MODE");
    }

    void runningServerRegistersIt() {
        QCOMPARE(runProgram(SERVER_EXE), 0);
        ClassRecord r;
        QCOMPARE(ClassStore().find("server.application", &r), StoreResult::Ok);
        QCOMPARE(r.name, App);
        QCOMPARE(r.server, QFileInfo(SERVER_EXE).absoluteFilePath());
        QVERIFY(!r.activation.remote);
        QVERIFY(!r.classId.isEmpty());

        QCOMPARE(runProgram(SERVER_EXE, {"-Unregister"}), 0);
        QCOMPARE(ClassStore().find(App, &r), StoreResult::NotFound);
    }

    void serverReportsRegistrationFailure() {
        qputenv("XDG_DATA_HOME", "/proc/automation-test");
        QByteArray output;
        QVERIFY(runProgram(SERVER_EXE, {}, &output) != 0);
        QVERIFY2(output.contains("cannot register Server.Application"), output.constData());
    }

    void createColdThenWarmThenIdleExit() {
        QCOMPARE(runProgram(SERVER_EXE), 0);
        const CreateResult cold = createObject(App);
        QVERIFY2(cold.ok(), qPrintable(cold.reason));
        QCOMPARE(cold.error, CreateError::None);
        QVERIFY(cold.reason.isEmpty());
        QCOMPARE(cold.object->className(), App);
        QVERIFY(cold.object->isValid());
        const qint64 pid = pidOf(cold.object->description());
        QVERIFY2(processAlive(pid), qPrintable(cold.object->description()));
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath(),
                 QFileInfo(SERVER_EXE).canonicalFilePath());

        // The running server serves the next creation.
        const CreateResult warm = createObject("SERVER.APPLICATION");
        QVERIFY2(warm.ok(), qPrintable(warm.reason));
        QCOMPARE(pidOf(warm.object->description()), pid);

        // Holding an object keeps the server past its idle time...
        cold.object->release();
        QVERIFY(!cold.object->isValid());
        QTest::qWait(TestIdleMs * 2);
        QVERIFY(processAlive(pid));
        QVERIFY(warm.object->isValid());
        // ...and releasing the last one lets it go.
        warm.object->release();
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), TestIdleMs + 5000);
    }

    void droppingTheHandleReleases() {
        QCOMPARE(runProgram(SERVER_EXE), 0);
        qint64 pid = 0;
        {
            const CreateResult r = createObject(App);
            QVERIFY2(r.ok(), qPrintable(r.reason));
            pid = pidOf(r.object->description());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), TestIdleMs + 5000);
    }

    void finishedOnceAndNeverFromCreate() {
        QCOMPARE(runProgram(SERVER_EXE), 0);
        ObjectFactory factory;
        QSignalSpy spy(&factory, &ObjectFactory::finished);
        factory.create(App);
        factory.create("Not.Registered");
        QCOMPARE(spy.count(), 0);
        QVERIFY(factory.isBusy());
        QTRY_COMPARE(spy.count(), 2);
        QVERIFY(!factory.isBusy());
        QTest::qWait(200);
        QCOMPARE(spy.count(), 2);
        int created = 0;
        for (const auto& args : spy)
            created += args.at(0).value<CreateResult>().ok() ? 1 : 0;
        QCOMPARE(created, 1);
    }

    void cancelReleasesWhatArrivesLater() {
        QCOMPARE(runProgram(SERVER_EXE), 0);
        ObjectFactory factory;
        QSignalSpy spy(&factory, &ObjectFactory::finished);
        factory.create(App);
        QTest::qWait(30);  // the server is starting
        factory.cancel();
        QVERIFY(!factory.isBusy());
        QTest::qWait(1500);
        QCOMPARE(spy.count(), 0);
        // Nothing holds the server: the next creation finds it (or a new
        // one), and once released it leaves.
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        const qint64 pid = pidOf(r.object->description());
        r.object->release();
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), TestIdleMs + 5000);
    }

    void unregisteredClass() {
        QElapsedTimer clock;
        clock.start();
        const CreateResult r = createObject("No.Such.Class");
        QVERIFY(!r.ok());
        QCOMPARE(r.error, CreateError::NotRegistered);
        QVERIFY2(r.reason.contains("No.Such.Class"), qPrintable(r.reason));
        QVERIFY(clock.elapsed() < 2000);
    }

    void serverCannotStart_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not executable") << "plain.txt" << QByteArray() << "not an executable";
        QTest::newRow("directory") << "/usr/bin" << QByteArray() << "not an executable";
        QTest::newRow("exits at once") << TEST_SERVER << QByteArray("exit") << "exited before";
    }
    void serverCannotStart() {
        QFETCH(QString, server);
        QFETCH(QByteArray, mode);
        QFETCH(QString, reason);
        if (QDir::isRelativePath(server)) {
            server = m_env->root() + '/' + server;
            QFile plain(server);
            QVERIFY(plain.open(QIODevice::WriteOnly));
            plain.write("#!/bin/sh\n");
            plain.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        qputenv("AUTOMATION_TEST_SERVER_MODE", mode);
        registerTestClass("Test.Class", server);
        const CreateResult r = createObject("Test.Class");
        QCOMPARE(r.error, CreateError::ServerStartFailed);
        QVERIFY2(r.reason.contains(reason) && r.reason.contains(server), qPrintable(r.reason));
    }

    void serverExecutableRemoved() {
        const QString copy = m_env->root() + "/Server.exe";
        QVERIFY(QFile::copy(SERVER_EXE, copy));
        QCOMPARE(runProgram(copy), 0);
        QVERIFY(QFile::remove(copy));
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::ServerStartFailed);
        QVERIFY2(r.reason.contains(copy) && r.reason.contains("does not exist"),
                 qPrintable(r.reason));
    }

    void serverCrashesDuringActivation() {
        QCOMPARE(runProgram(TEST_SERVER), 0);
        QElapsedTimer clock;
        clock.start();
        const CreateResult r = createObject("Test.Crash");
        QCOMPARE(r.error, CreateError::ServerStartFailed);
        QVERIFY2(r.reason.contains("crashed"), qPrintable(r.reason));
        // Noticed when the connection drops, not at the time-out.
        QVERIFY(clock.elapsed() < Timeouts().activationMs);
    }

    void serverThatNeverServesTimesOut() {
        qputenv("AUTOMATION_TEST_SERVER_MODE", "mute");
        QCOMPARE(runProgram(TEST_SERVER), 0);
        ObjectFactory::setDefaultTimeouts({1000, 700, 5000});
        QElapsedTimer clock;
        clock.start();
        const CreateResult r = createObject("Test.Crash");
        QCOMPARE(r.error, CreateError::ServerTimeout);
        QVERIFY2(r.reason.contains("700 ms") && r.reason.contains(TEST_SERVER),
                 qPrintable(r.reason));
        QVERIFY(clock.elapsed() >= 650 && clock.elapsed() < 2500);

        // The whole-call limit holds when it is the shorter one.
        ObjectFactory factory;
        factory.setTimeouts({1000, 5000, 400});
        QSignalSpy spy(&factory, &ObjectFactory::finished);
        clock.restart();
        factory.create("Test.Crash");
        QTRY_COMPARE(spy.count(), 1);
        const auto total = spy.at(0).at(0).value<CreateResult>();
        QCOMPARE(total.error, CreateError::Timeout);
        QVERIFY2(total.reason.contains("400 ms"), qPrintable(total.reason));
        QVERIFY(clock.elapsed() < 2000);
    }

    void classNotServedByItsServer() {
        registerTestClass("Other.Class", QFileInfo(SERVER_EXE).absoluteFilePath());
        const CreateResult r = createObject("Other.Class");
        QCOMPARE(r.error, CreateError::ClassNotServed);
        QVERIFY2(r.reason.contains("does not serve class Other.Class"), qPrintable(r.reason));
    }

    void storeFailureIsReported() {
        QVERIFY(QDir().mkpath(QFileInfo(ClassStore::defaultPath()).path()));
        QFile f(ClassStore::defaultPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'z'));
        f.close();
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::StoreFailure);
        QVERIFY2(r.reason.contains("not a database"), qPrintable(r.reason));
    }

    void automationctlCommands() {
        QByteArray out;
        QCOMPARE(runProgram(AUTOMATIONCTL, {"--help"}, &out), 0);
        const QByteArray usage = out;
        for (const char* command :
             {"list", "show", "register", "unregister", "get", "set", "create"}) {
            QVERIFY2(usage.contains(command), usage.constData());
            QCOMPARE(runProgram(AUTOMATIONCTL, {command, "--help"}, &out), 0);
            QVERIFY2(out.contains(command), out.constData());
        }

        QCOMPARE(runProgram(AUTOMATIONCTL, {"create", App}, &out), 1);
        QVERIFY2(out.contains("NotRegistered"), out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL, {"register", App, SERVER_EXE}, &out), 0);
        QCOMPARE(runProgram(AUTOMATIONCTL, {"create", App}, &out), 0);
        QVERIFY2(out.contains("created Server.Application") && out.contains("process"),
                 out.constData());

        QCOMPARE(runProgram(AUTOMATIONCTL, {"set", App, "--remote"}, &out), 1);
        QVERIFY2(out.contains("status 6"), out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL,
                            {"set", App, "--remote", "--machine", " box ", "--protocol", "ncacn_np",
                             "--level", "4"},
                            &out),
                 0);
        QVERIFY2(out.contains("status 0"), out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL, {"get", App}, &out), 0);
        QCOMPARE(out, QByteArray("remote: true\nmachine:  box \nprotocol: ncacn_np\nlevel: 4\n"));
        QCOMPARE(runProgram(AUTOMATIONCTL, {"create", App}, &out), 1);
        QVERIFY2(out.contains("ProtocolNotSupported") && out.contains("not supported"),
                 out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL, {"set", App, "--local"}, &out), 0);
        QCOMPARE(runProgram(AUTOMATIONCTL, {"list"}, &out), 0);
        QVERIFY2(out.contains("Server.Application\tlocal\t"), out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL, {"unregister", App}, &out), 0);
        QCOMPARE(runProgram(AUTOMATIONCTL, {"show", App}, &out), 1);
        QCOMPARE(runProgram(AUTOMATIONCTL, {"bogus"}, &out), 2);
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestActivation)
#include "test_activation.moc"
