// Local activation end to end: registering by running Server.exe, creating
// cold and warm, releasing, each way a local server can fail, and what keeps
// other users out: private socket folders, trusted executables, the serving
// lock, and both ends checking each other's user.

#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>
#include <automation/wire.h>

#include "processes.h"

#include <testenv.h>

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include <optional>

using namespace automation;

namespace {

const QString App = QStringLiteral("Server.Application");

void registerTestClass(const QString& name, const QString& server) {
    const Status s = ClassStore().registerClass(name, QString(), server);
    QVERIFY2(s.ok(), qPrintable(s.reason));
}

QString socketOf(const QString& executable) {
    QString path;
    const Status s = serverSocketPath(executable, &path);
    return s.ok() ? path : QString();
}

// The pipes a process holds open, as the kernel names them ("pipe:[N]").
QSet<QString> pipesOf(const QString& proc) {
    QSet<QString> pipes;
    for (const QFileInfo& fd : QDir(proc + "/fd").entryInfoList(QDir::System)) {
        const QString target = fd.symLinkTarget().section('/', -1);
        if (target.startsWith("pipe:"))
            pipes.insert(target);
    }
    return pipes;
}

// What a process holds open, by descriptor, as the kernel names it
// ("/dev/null", "pipe:[N]", "socket:[N]").
QMap<int, QString> descriptorsOf(qint64 pid) {
    QMap<int, QString> held;
    const QString dir = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList entries =
        QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        char target[4096];
        const ssize_t n =
            ::readlink(QFile::encodeName(dir + '/' + entry).constData(), target, sizeof target);
        if (n > 0)
            held.insert(entry.toInt(), QString::fromLocal8Bit(target, n));
    }
    return held;
}

// A copy of program at path, executable by its owner only.
void copyProgram(const QString& program, const QString& path) {
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(QFile::copy(program, path));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
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
        qunsetenv("AUTOMATION_TEST_SERVER_DIR");
    }

    void runningServerRegistersIt() {
        QCOMPARE(runProgram(SERVER_EXE), 0);
        ClassRecord r;
        QVERIFY(ClassStore().find("server.application", &r).ok());
        QCOMPARE(r.name, App);
        QCOMPARE(r.server, QFileInfo(SERVER_EXE).absoluteFilePath());
        QVERIFY(!r.activation.remote);
        QVERIFY(!r.classId.isEmpty());

        QCOMPARE(runProgram(SERVER_EXE, {"-Unregister"}), 0);
        QCOMPARE(ClassStore().find(App, &r).error, Error::NotRegistered);
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

    // Clients that find no server at the same moment each start one; one
    // instance serves them all, and the others leave without failing anyone.
    void simultaneousColdCreationsShareOneServer() {
        QCOMPARE(runProgram(SERVER_EXE), 0);
        ObjectFactory factory;
        QSignalSpy spy(&factory, &ObjectFactory::finished);
        for (int i = 0; i < 3; ++i)
            factory.create(App);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, 20000);
        QSet<qint64> servers;
        for (const auto& args : spy) {
            const auto r = args.at(0).value<CreateResult>();
            QVERIFY2(r.ok(), qPrintable(r.reason));
            servers.insert(pidOf(r.object->description()));
        }
        QCOMPARE(servers.size(), 1);
    }

    // Cancelled while the server makes the object: no result, and the object
    // that arrives later is released, so the server can leave.
    void cancelReleasesWhatArrivesLater() {
        QCOMPARE(runProgram(TEST_SERVER), 0);
        qputenv("AUTOMATION_TEST_SERVER_MODE", "hold");
        qputenv("AUTOMATION_TEST_SERVER_DIR", QFile::encodeName(m_env->root()));
        ObjectFactory factory;
        QSignalSpy spy(&factory, &ObjectFactory::finished);
        factory.create("Test.Object");
        QFile asked(m_env->root() + "/asked");
        QTRY_VERIFY_WITH_TIMEOUT(asked.size() > 0, 10000);  // the request is in
        QVERIFY(asked.open(QIODevice::ReadOnly));
        const qint64 pid = asked.readAll().toLongLong();
        factory.cancel();
        QVERIFY(!factory.isBusy());
        QFile go(m_env->root() + "/go");
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        // Nothing holds the object the server then makes: it leaves.
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), TestIdleMs + 5000);
        QCOMPARE(spy.count(), 0);
    }

    // Started for activation, a server closes the descriptor it was handed
    // once it accepts connections, so that its client connects at once; it
    // leaves alone anything at that number that is not a pipe.
    void serverSaysWhenItListens_data() {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("a pipe") << true;
        QTest::newRow("a file") << false;
    }
    void serverSaysWhenItListens() {
        QFETCH(bool, pipe);
        QCOMPARE(runProgram(SERVER_EXE), 0);
        int ends[2] = {-1, -1};
        if (pipe) {
            QVERIFY(::pipe2(ends, O_CLOEXEC) == 0);
        } else {
            ends[1] = ::open(QFile::encodeName(m_env->root() + "/file").constData(),
                             O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            QVERIFY(ends[1] >= 0);
        }
        const auto closeEnds = qScopeGuard([&] {
            for (int end : ends)
                if (end >= 0)
                    ::close(end);
        });
        QProcess server;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("AUTOMATION_READY_FD", "3");
        server.setProcessEnvironment(env);
        server.setChildProcessModifier([given = ends[1]] { ::dup2(given, 3); });
        server.start(SERVER_EXE, {"-Embedding"});
        QVERIFY(server.waitForStarted());
        const QString fd3 = QStringLiteral("/proc/%1/fd/3").arg(server.processId());
        const QString socket = socketOf(SERVER_EXE);
        if (pipe) {
            ::close(std::exchange(ends[1], -1));
            QSocketNotifier notifier(ends[0], QSocketNotifier::Read);
            QSignalSpy closed(&notifier, &QSocketNotifier::activated);
            QVERIFY(closed.wait(10000));
            char byte = 0;
            QCOMPARE(::read(ends[0], &byte, 1), ssize_t(0));  // closed, nothing written
            QLocalSocket client;
            client.connectToServer(socket);
            QCOMPARE(client.state(), QLocalSocket::ConnectedState);  // listening already
            const QString ours =
                QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(ends[0]))
                    .section('/', -1);
            QVERIFY2(ours.startsWith("pipe:"), qPrintable(ours));
            QVERIFY(!pipesOf(QStringLiteral("/proc/%1").arg(server.processId())).contains(ours));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 10000);
            QCOMPARE(QFile::symLinkTarget(fd3), m_env->root() + "/file");
        }
        server.kill();
        server.waitForFinished();
    }

    // A server started for activation outlives its client: a process group
    // of its own (the terminal's signals go to the client's), signals at
    // their defaults even where the client ignores them, no input or output
    // of the client's, its own folder; and once it leaves it is reaped, not
    // left a zombie.
    void startedServerStandsOnItsOwn() {
        QCOMPARE(runProgram(SERVER_EXE), 0);
        const auto hangUp = std::signal(SIGHUP, SIG_IGN);  // as under nohup
        const auto restore = qScopeGuard([&] { std::signal(SIGHUP, hangUp); });
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        const qint64 pid = pidOf(r.object->description());
        const QString proc = QStringLiteral("/proc/%1").arg(pid);
        QCOMPARE(::getpgid(pid_t(pid)), pid_t(pid));
        QFile status(proc + "/status");
        QVERIFY(status.open(QIODevice::ReadOnly));
        QByteArray ignored;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("SigIgn:"))
                ignored = line.mid(7).trimmed();
        QVERIFY(!ignored.isEmpty());
        QVERIFY2((ignored.toULongLong(nullptr, 16) & (1ULL << (SIGHUP - 1))) == 0,
                 ignored.constData());
        for (const char* fd : {"/fd/0", "/fd/1", "/fd/2"})
            QCOMPARE(QFile::symLinkTarget(proc + fd), QStringLiteral("/dev/null"));
        // Of pipes it holds only those handed down to all our children.
        QVERIFY(pipesOf("/proc/self").contains(pipesOf(proc)));
        QCOMPARE(QFile::symLinkTarget(proc + "/cwd"), QFileInfo(SERVER_EXE).absolutePath());
        r.object->release();
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(proc), TestIdleMs + 5000);
    }

    // A started server holds only what is meant for it, 0 to 2 and the
    // readiness pipe (until it is closed), whatever its starter holds
    // without close-on-exec: here a pipe and a file of ours, and through
    // automation-host what the host was handed by its own starter.
    void startedServerHoldsOnlyItsDescriptors_data() {
        QTest::addColumn<bool>("throughHost");
        QTest::newRow("started by the client") << false;
        QTest::newRow("started by automation-host") << true;
    }
    void startedServerHoldsOnlyItsDescriptors() {
        QFETCH(bool, throughHost);
        QCOMPARE(runProgram(SERVER_EXE), 0);
        int leaked[2] = {-1, -1};
        QVERIFY(::pipe(leaked) == 0);
        const QString leakedFile = m_env->root() + "/leaked";
        const int file =
            ::open(QFile::encodeName(leakedFile).constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(file >= 0);
        const auto closeThem = qScopeGuard([&] {
            ::close(leaked[0]);
            ::close(leaked[1]);
            ::close(file);
        });
        std::optional<HostProcess> host;
        if (throughHost) {
            host.emplace();
            QVERIFY(host->start());
            m_env->setVariable("AUTOMATION_HOST_PORT", QByteArray::number(host->port()));
            QCOMPARE(RemoteActivation().SetRemoteActivation(true, App, std::nullopt,
                                                            QStringLiteral("127.0.0.1"),
                                                            std::nullopt, QStringLiteral("2")),
                     RemoteActivation::Written);
        }
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        const qint64 pid = pidOf(r.object->description());
        const qint64 starter = throughHost ? host->pid() : QCoreApplication::applicationPid();
        QSet<QString> starters;  // what the starter holds that no one else opens
        for (const QString& target : descriptorsOf(starter))
            if (target.startsWith("pipe:") || target.startsWith("socket:") || target == leakedFile)
                starters.insert(target);
        QVERIFY(throughHost || starters.contains(leakedFile));
        const QMap<int, QString> held = descriptorsOf(pid);
        QVERIFY(!held.isEmpty());
        for (auto it = held.cbegin(); it != held.cend(); ++it) {
            const QString what = QStringLiteral("descriptor %1: %2").arg(it.key()).arg(it.value());
            if (it.key() <= 2)
                QVERIFY2(it.value() == "/dev/null", qPrintable(what));
            else if (it.key() != 3 || !it.value().startsWith("pipe:"))
                QVERIFY2(!starters.contains(it.value()) && it.value() != "/dev/null",
                         qPrintable(what));
        }
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
        QTest::newRow("not executable") << "plain/plain.txt" << QByteArray() << "not an executable";
        QTest::newRow("directory") << "/usr/bin" << QByteArray() << "not an executable";
        QTest::newRow("exits at once") << TEST_SERVER << QByteArray("exit") << "exited before";
    }
    void serverCannotStart() {
        QFETCH(QString, server);
        QFETCH(QByteArray, mode);
        QFETCH(QString, reason);
        if (QDir::isRelativePath(server)) {
            server = m_env->root() + '/' + server;
            QVERIFY(QDir().mkpath(QFileInfo(server).path()));
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
        const QString copy = m_env->root() + "/bin/Server.exe";
        copyProgram(SERVER_EXE, copy);
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

    // A server killed at any point of its start-up leaves nothing that
    // stops the next one: the lock goes with the process, and a socket file
    // left behind is replaced.
    void killedDuringStartUpThenCreatedAtOnce() {
        QCOMPARE(runProgram(TEST_SERVER), 0);
        QProcess stalled;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("AUTOMATION_TEST_SERVER_MODE", "stall");
        stalled.setProcessEnvironment(env);
        stalled.start(TEST_SERVER, {"-Embedding"});
        QVERIFY(stalled.waitForReadyRead(10000));
        QCOMPARE(stalled.readLine().trimmed(), QByteArray("locked"));
        stalled.kill();  // SIGKILL while holding the lock, before listening
        QVERIFY(stalled.waitForFinished(10000));

        const CreateResult r = createObject("Test.Object");
        QVERIFY2(r.ok(), qPrintable(r.reason));

        // Killed while serving: its socket file stays behind.
        const qint64 pid = pidOf(r.object->description());
        QVERIFY(::kill(pid_t(pid), SIGKILL) == 0);
        QTRY_VERIFY(!processAlive(pid));
        QVERIFY(QFileInfo::exists(socketOf(TEST_SERVER)));
        const CreateResult again = createObject("Test.Object");
        QVERIFY2(again.ok(), qPrintable(again.reason));
        QVERIFY(pidOf(again.object->description()) != pid);
    }

    // An executable that someone else could have swapped is not started; the
    // reason names the file or folder and why.
    void replaceableExecutableIsNotStarted_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder writable by others") << "folder";
        QTest::newRow("file writable by group") << "file";
        QTest::newRow("link to a writable folder") << "link";
        QTest::newRow("folder of another user") << "owner";
    }
    void replaceableExecutableIsNotStarted() {
        QFETCH(QString, kind);
        const QString open = m_env->root() + "/open";
        QString exe = open + "/Server.exe";
        copyProgram(SERVER_EXE, exe);
        QString blamed = open;
        QString why = "writable by group or others";
        if (kind == "file") {
            ::chmod(QFile::encodeName(exe).constData(), 0775);
            blamed = exe;
        } else if (kind == "owner") {
            if (!runningAsRoot())
                QSKIP("giving a folder to another user needs root");
            QVERIFY(::chown(QFile::encodeName(open).constData(), NobodyUid, NobodyUid) == 0);
            why = "belongs to user 65534";
        } else {
            ::chmod(QFile::encodeName(open).constData(), 0777);
        }
        if (kind == "link") {
            const QString link = m_env->root() + "/private/Server.exe";
            QVERIFY(QDir().mkpath(QFileInfo(link).path()));
            QVERIFY(QFile::link(exe, link));
            exe = link;
        }
        QCOMPARE(runProgram(exe), 0);
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::Untrusted);
        QVERIFY2(r.reason.contains(blamed) && r.reason.contains(why), qPrintable(r.reason));
        QVERIFY(!QFileInfo::exists(socketOf(exe) + ".lock"));  // never started
    }

    // A sticky folder such as /tmp may hold the executable when the entry is ours.
    void stickyFolderIsFine() {
        const QString shared = m_env->root() + "/shared";
        copyProgram(SERVER_EXE, shared + "/Server.exe");
        ::chmod(QFile::encodeName(shared).constData(), 01777);
        QCOMPARE(runProgram(shared + "/Server.exe"), 0);
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
    }

    // The socket folder is checked on every use, client and server alike.
    void socketFolderMustBePrivate_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("readable by others") << "mode"
                                            << "must be 0700";
        QTest::newRow("a link") << "link"
                                << "symbolic link";
        QTest::newRow("another user's") << "owner"
                                        << "belongs to user 65534";
    }
    void socketFolderMustBePrivate() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QCOMPARE(runProgram(SERVER_EXE), 0);
        const QString dir = m_env->runtimeDir() + "/automation";
        if (kind == "link") {
            const QString elsewhere = m_env->root() + "/elsewhere";
            QVERIFY(QDir().mkpath(elsewhere));
            ::chmod(QFile::encodeName(elsewhere).constData(), 0700);
            QVERIFY(QFile::link(elsewhere, dir));
        } else {
            QVERIFY(QDir().mkpath(dir));
            ::chmod(QFile::encodeName(dir).constData(), kind == "mode" ? 0755 : 0700);
            if (kind == "owner" && !runningAsRoot())
                QSKIP("giving a folder to another user needs root");
            if (kind == "owner")
                QVERIFY(::chown(QFile::encodeName(dir).constData(), NobodyUid, NobodyUid) == 0);
        }
        const CreateResult r = createObject(App);
        QCOMPARE(r.error, CreateError::Untrusted);
        QVERIFY2(r.reason.contains(dir) && r.reason.contains(reason), qPrintable(r.reason));
        QByteArray out;
        QCOMPARE(runProgram(SERVER_EXE, {"-Embedding"}, &out), 1);
        QVERIFY2(out.contains(reason.toUtf8()), out.constData());
    }

    // Without XDG_RUNTIME_DIR: a folder under the temporary directory, ours
    // alone or not at all.
    void temporaryFallbackFolder() {
        qunsetenv("XDG_RUNTIME_DIR");
        const QByteArray tmp = qgetenv("TMPDIR");
        const auto restore = qScopeGuard([&] { qputenv("TMPDIR", tmp); });
        qputenv("TMPDIR", QFile::encodeName(m_env->root()));
        QCOMPARE(runProgram(SERVER_EXE), 0);
        const QString dir = m_env->root() + QStringLiteral("/automation-%1").arg(::geteuid());
        QVERIFY(QDir().mkpath(dir));
        ::chmod(QFile::encodeName(dir).constData(), 0777);  // made by someone else's hand
        QCOMPARE(createObject(App).error, CreateError::Untrusted);
        QVERIFY(QDir(dir).removeRecursively());
        const CreateResult r = createObject(App);
        QVERIFY2(r.ok(), qPrintable(r.reason));
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(dir).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
    }

    // A server serves its own user only: another user's request, reaching
    // its socket (root can), gets a reason and no object.
    void serverRefusesAnotherUser() {
        if (!runningAsRoot())
            QSKIP("a second local user needs root");
        UserHome other;
        const QString server = other.install(SERVER_EXE);
        QCOMPARE(other.run(server), 0);
        QProcess serving;
        other.prepare(serving);
        serving.start(server, {"-Embedding"});
        QVERIFY(serving.waitForStarted());
        const QString dir = other.root() + "/runtime/automation";
        QTRY_VERIFY_WITH_TIMEOUT(QDir(dir).entryList(QDir::System).size() == 1, 10000);
        QLocalSocket socket;
        socket.connectToServer(dir + '/' + QDir(dir).entryList(QDir::System).first());
        QVERIFY(socket.waitForConnected(5000));
        wire::Message create;
        create.type = wire::Type::Create;
        create.className = App;
        socket.write(wire::encode(create));
        wire::FrameReader reader;
        wire::Message answer;
        while (reader.next(&answer) == wire::FrameReader::Status::NeedMore) {
            QVERIFY(socket.waitForReadyRead(5000));
            reader.append(socket.readAll());
        }
        QCOMPARE(answer.type, wire::Type::Failed);
        QCOMPARE(CreateError(answer.code), CreateError::PeerRefused);
        QVERIFY2(answer.text.contains("serves only its own user"), qPrintable(answer.text));
        serving.kill();
        serving.waitForFinished();
    }

    // A client takes no object from a process of another user at its
    // server's socket (here one that answers everyone).
    void clientRefusesAServerOfAnotherUser() {
        if (!runningAsRoot())
            QSKIP("a second local user needs root");
        QCOMPARE(runProgram(TEST_SERVER), 0);
        UserHome other;
        const QString socket = other.root() + "/runtime/impostor";
        other.setEnvironment("AUTOMATION_TEST_SERVER_MODE", "impostor");
        other.setEnvironment("AUTOMATION_TEST_SERVER_SOCKET", socket);
        QProcess impostor;
        other.prepare(impostor);
        impostor.start(other.install(TEST_SERVER), {"-Embedding"});
        QVERIFY(impostor.waitForReadyRead(10000));
        // Planted where our client looks for the server of Test.Object.
        const QString ours = socketOf(TEST_SERVER);
        QVERIFY(!ours.isEmpty());
        QVERIFY(::link(QFile::encodeName(socket).constData(),
                       QFile::encodeName(ours).constData()) == 0);
        const CreateResult r = createObject("Test.Object");
        QCOMPARE(r.error, CreateError::PeerRefused);
        QVERIFY2(r.reason.contains("runs as user 65534"), qPrintable(r.reason));
        impostor.kill();
        impostor.waitForFinished();
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestActivation)
#include "test_activation.moc"
