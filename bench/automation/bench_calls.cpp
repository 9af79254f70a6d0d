// Calls on a live object: Echo of a 32-byte string, local and through
// automation-host over TLS, set beside a 32-byte ping-pong served by a Qt
// event loop over a Unix socket, and the same ping-pong through a TLS relay
// to that echo (the shape of the host's relay); for scale, a blocking
// ping-pong over a Unix socket pair with no event loop. Then sequential
// local calls per second beside sequential ping-pongs, and the memory and
// files a live object costs the client and the server. Compared programs
// run in alternation, round by round (the rates: half a second at a time),
// with the client and the processes it talks to on one core, then on two.
//
// The echo and the relay are this program again, started as
//   bench_calls --echo <socket path>
//   bench_calls --relay <socket path of the echo>
// so that, like Server.exe and automation-host, each is a process of its own.

#include "benchsupport.h"

#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <malloc.h>
#include <sched.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

using namespace automation;
using namespace bench;

namespace {

constexpr int kRounds = 41;
constexpr int kCallsPerRound = 100;
constexpr int kSliceMs = 500;
constexpr int kSlices = 6;
// A client process may hold this many connections to one server
// (Broker::Limits::maxPerPeer), and each live object is one connection.
constexpr int kObjects = 32;
constexpr int kMemoryBatches = 5;
constexpr int kAnswerMs = 10000;
constexpr double kCallGoal = 1.5;    // times the ping-pong it is set beside
constexpr double kRateGoal = 20000;  // sequential local calls per second
const QString kText = QStringLiteral("0123456789abcdef0123456789abcdef");  // 32 bytes

QString goal(double ratio, double atMost) {
    return QStringLiteral(" (goal: at most %1, %2)")
        .arg(atMost, 0, 'f', 1)
        .arg(ratio <= atMost ? QStringLiteral("met") : QStringLiteral("NOT met"));
}

void rowUs(const char* what, double us, const QString& ratio = QString()) {
    out << "  " << QString::fromLatin1(what).leftJustified(46)
        << QString::number(us, 'f', 1).rightJustified(10) << " us   " << ratio << Qt::endl;
}

void rowRate(const char* what, double perSecond, const QString& note) {
    out << "    " << QString::fromLatin1(what).leftJustified(44)
        << QString::number(perSecond, 'f', 0).rightJustified(10) << " /s   " << note << Qt::endl;
}

// Hands what was written to the kernel now, as the library does with what it
// sends, rather than on the event loop's next turn.
void sendNow(QIODevice* socket) {
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->flush();
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        tcp->flush();
}

// The echo: answers every read on a Unix socket with what it read.
int serveEcho(const QString& path) {
    QLocalServer server;
    QLocalServer::removeServer(path);
    if (!server.listen(path)) {
        QTextStream(stderr) << "echo: cannot listen on " << path << ": " << server.errorString()
                            << Qt::endl;
        return 1;
    }
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&server] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
                socket->write(socket->readAll());
                socket->flush();
            });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    out << "listening on " << path << Qt::endl;
    return QCoreApplication::exec();
}

// The bare relay: mutual TLS on loopback with the user's identity, each
// connection relayed byte for byte to its own connection to the echo, in one
// thread, as automation-host relays a client to its server.
class TlsRelay : public QTcpServer {
public:
    TlsRelay(const Identity& identity, const QString& echoPath)
        : m_identity(identity), m_echoPath(echoPath) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* tls = new QSslSocket(this);
        tls->setSslConfiguration(tlsConfiguration(m_identity));
        tls->setSocketDescriptor(descriptor);
        tls->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* local = new QLocalSocket(tls);
        local->connectToServer(m_echoPath);
        connect(tls, &QSslSocket::readyRead, local, [tls, local] {
            local->write(tls->readAll());
            local->flush();
        });
        connect(local, &QLocalSocket::readyRead, tls, [tls, local] {
            tls->write(local->readAll());
            tls->flush();
        });
        connect(tls, &QSslSocket::disconnected, tls, &QObject::deleteLater);
        tls->startServerEncryption();
    }

private:
    Identity m_identity;
    QString m_echoPath;
};

int serveRelay(const QString& echoPath) {
    Identity identity;
    if (const Status s = loadIdentity(&identity); !s.ok()) {
        QTextStream(stderr) << "relay: " << s.reason << Qt::endl;
        return 1;
    }
    TlsRelay relay(identity, echoPath);
    if (!relay.listen(QHostAddress::LocalHost, 0)) {
        QTextStream(stderr) << "relay: cannot listen: " << relay.errorString() << Qt::endl;
        return 1;
    }
    out << "listening on " << relay.serverPort() << Qt::endl;
    return QCoreApplication::exec();
}

// This program started again in one of the roles above, once it has said
// where it listens.
class Peer {
public:
    explicit Peer(const QStringList& args) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), args);
        const QRegularExpression listening(QStringLiteral("^listening on (\\S+)\\s*$"));
        while (m_process.waitForReadyRead(kAnswerMs)) {
            while (m_process.canReadLine()) {
                const auto m = listening.match(QString::fromUtf8(m_process.readLine()));
                if (m.hasMatch()) {
                    m_address = m.captured(1);
                    return;
                }
            }
        }
        die(args.join(QLatin1Char(' ')) + QStringLiteral(" did not start"));
    }
    ~Peer() {
        m_process.kill();
        m_process.waitForFinished();
    }
    Q_DISABLE_COPY_MOVE(Peer)

    QString address() const { return m_address; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QString m_address;
};

// The client's end of a ping-pong: writes 32 bytes, then runs an event loop
// until they are back, as a call runs one until its answer is in.
class PingPong {
public:
    explicit PingPong(QIODevice* socket) : m_socket(socket), m_message(kText.toUtf8()) {}

    void roundTrip() {
        m_socket->write(m_message);
        sendNow(m_socket);
        QEventLoop loop;
        QByteArray back;
        QObject::connect(m_socket, &QIODevice::readyRead, &loop, [&] {
            back += m_socket->readAll();
            if (back.size() >= m_message.size())
                loop.quit();
        });
        QTimer::singleShot(kAnswerMs, &loop, [] { die(QStringLiteral("the echo went silent")); });
        loop.exec();
        if (back != m_message)
            die(QStringLiteral("the echo answered something else"));
    }

    // Round trips back to back, each started when the last one is back,
    // for about ms: how many, and the seconds they took.
    std::pair<int, double> chain(int ms) {
        QElapsedTimer clock;
        QEventLoop loop;
        QByteArray back;
        int count = 0;
        QObject::connect(m_socket, &QIODevice::readyRead, &loop, [&] {
            back += m_socket->readAll();
            if (back.size() < m_message.size())
                return;
            if (back != m_message)
                die(QStringLiteral("the echo answered something else"));
            back.clear();
            ++count;
            if (clock.elapsed() < ms) {
                m_socket->write(m_message);
                sendNow(m_socket);
            } else {
                loop.quit();
            }
        });
        clock.start();
        m_socket->write(m_message);
        sendNow(m_socket);
        loop.exec();
        return {count, clock.nsecsElapsed() / 1e9};
    }

private:
    QIODevice* m_socket;
    QByteArray m_message;
};

void check(const CallResult& r) {
    if (!r.ok())
        die(QStringLiteral("Echo failed: ") + errorName(r.status.error) + QStringLiteral(": ") +
            r.status.reason);
    if (r.value().toString() != kText)
        die(QStringLiteral("Echo answered \"%1\"").arg(r.value().toString()));
}

// One asynchronous call, waited for in a local event loop.
void callAsync(ObjectHandle& object) {
    CallResult result;
    bool answered = false;
    QEventLoop loop;
    object.call(QStringLiteral("Echo"), {kText}, [&](const CallResult& r) {
        result = r;
        answered = true;
        loop.quit();
    });
    if (!answered)
        loop.exec();
    check(result);
}

void callBlocking(ObjectHandle& object) {
    check(callMethod(object, QStringLiteral("Echo"), {kText}));
}

// Calls back to back, each made from the answer of the last, for about ms:
// how many, and the seconds they took.
std::pair<int, double> chainCalls(ObjectHandle& object, int ms) {
    QElapsedTimer clock;
    QEventLoop loop;
    int count = 0;
    const QVariantList args{kText};
    std::function<void()> next = [&] {
        object.call(QStringLiteral("Echo"), args, [&](const CallResult& r) {
            check(r);
            ++count;
            if (clock.elapsed() < ms)
                next();
            else
                loop.quit();
        });
    };
    clock.start();
    next();
    loop.exec();
    return {count, clock.nsecsElapsed() / 1e9};
}

std::shared_ptr<ObjectHandle> create() {
    const CreateResult r = createObject(QStringLiteral("Server.Application"));
    if (!r.ok())
        die(QStringLiteral("cannot create Server.Application: ") + errorName(r.error) +
            QStringLiteral(": ") + r.reason);
    return r.object;
}

// n calls of one kind, as one timed round.
std::function<void()> batch(const std::function<void()>& call) {
    return [call] {
        for (int i = 0; i < kCallsPerRound; ++i)
            call();
    };
}

// Resident memory of a process, in KiB.
double residentKiB(qint64 pid) {
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        die(statm.fileName() + QStringLiteral(": ") + statm.errorString());
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        die(statm.fileName() + QStringLiteral(" has no resident size"));
    return fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / 1024;
}

int openFiles(qint64 pid = 0) {
    const QString dir =
        pid ? QStringLiteral("/proc/%1/fd").arg(pid) : QStringLiteral("/proc/self/fd");
    return int(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

// The server has closed every connection beyond the given number of files:
// the next batch of objects may hold the client's whole share again.
void waitServerFiles(qint64 pid, int files) {
    QElapsedTimer clock;
    clock.start();
    while (openFiles(pid) > files) {
        if (clock.elapsed() > kAnswerMs)
            die(QStringLiteral("Server.exe kept its connections after they were released"));
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
}

// The server's open files once it has closed what a released object held:
// fewer than before, and no change for a while.
int settledFiles(qint64 pid, int before) {
    waitServerFiles(pid, before - 1);
    int files = openFiles(pid);
    for (int still = 0; still < 50; ++still) {
        QThread::msleep(2);
        if (const int now = openFiles(pid); now != files) {
            files = now;
            still = 0;
        }
    }
    return files;
}

// Bytes the client's heap has handed out (and not taken back), whichever
// pages they sit on: unlike the resident size, not hidden by memory that an
// earlier batch freed and this one reuses.
double heapKiB() {
    const struct mallinfo2 info = ::mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1024;
}

struct Memory {
    std::vector<double> created, called, kept;  // client heap, KiB per object
    std::vector<double> files, serverFiles;     // open files per object
    double serverResident = 0;                  // KiB per object, first batch
};

// kObjects live objects, each then called once, then all released: what
// each stage adds to the client's heap, and what the objects hold open in
// the client and the server. The server's resident size grows only while it
// has no freed memory to reuse, so it is taken from the first batch.
Memory measureMemory(qint64 server, int serverFiles) {
    Memory m;
    for (int b = 0; b < kMemoryBatches; ++b) {
        waitServerFiles(server, serverFiles);
        const double before = heapKiB(), serverBefore = residentKiB(server);
        const int filesBefore = openFiles();
        std::vector<std::shared_ptr<ObjectHandle>> objects;
        for (int i = 0; i < kObjects; ++i)
            objects.push_back(create());
        const double created = heapKiB();
        for (const auto& object : objects)
            callAsync(*object);
        const double called = heapKiB();
        if (b == 0)
            m.serverResident = (residentKiB(server) - serverBefore) / kObjects;
        m.files.push_back(double(openFiles() - filesBefore) / kObjects);
        m.serverFiles.push_back(double(openFiles(server) - serverFiles) / kObjects);
        for (const auto& object : objects)
            object->release();
        objects.clear();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m.created.push_back((created - before) / kObjects);
        m.called.push_back((called - before) / kObjects);
        m.kept.push_back((heapKiB() - before) / kObjects);
    }
    return m;
}

// Where the processes run. On a virtual machine a wake-up on another core
// can cost several times one on the same core, and where the scheduler puts
// each process changes from run to run, so the compared programs are placed
// alike: the client on one core, the processes that answer it (server,
// host, relay, echo) on the same core or on another.
struct Placement {
    QString name;
    int clientCpu;
    int peerCpu;
};

// The cores this benchmark may use, as it was started.
const cpu_set_t& allowedCores() {
    static const cpu_set_t allowed = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (::sched_getaffinity(0, sizeof set, &set) != 0)
            die(QStringLiteral("cannot read which cores this process may use"));
        return set;
    }();
    return allowed;
}

// One core, or every allowed one (cpu -1).
cpu_set_t cores(int cpu) {
    if (cpu < 0)
        return allowedCores();
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return set;
}

std::vector<Placement> placementsHere() {
    std::vector<int> cpus;
    for (int c = 0; c < CPU_SETSIZE && cpus.size() < 2; ++c)
        if (CPU_ISSET(c, &allowedCores()))
            cpus.push_back(c);
    std::vector<Placement> placements{
        {QStringLiteral("client and the processes it talks to on core %1").arg(cpus[0]), cpus[0],
         cpus[0]}};
    if (cpus.size() > 1)
        placements.push_back(
            {QStringLiteral("client on core %1, the processes it talks to on core %2")
                 .arg(cpus[0])
                 .arg(cpus[1]),
             cpus[0], cpus[1]});
    return placements;
}

// Moves every thread of a process to one core, or back to all (cpu -1).
void pinProcess(qint64 pid, int cpu) {
    const cpu_set_t set = cores(cpu);
    const QStringList tasks =
        QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (tasks.isEmpty())
        die(QStringLiteral("process %1 is gone").arg(pid));
    for (const QString& task : tasks)
        if (::sched_setaffinity(pid_t(task.toInt()), sizeof set, &set) != 0 && errno != ESRCH)
            die(QStringLiteral("cannot move process %1 to core %2: %3")
                    .arg(pid)
                    .arg(cpu)
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
}

double perCall(double roundMs) {
    return roundMs * 1000 / kCallsPerRound;
}

struct LocalFigures {
    double floorUs = 0, pongUs = 0, asyncUs = 0, blockingUs = 0;
    double callRate = 0, pongRate = 0;  // per second
};

struct RemoteFigures {
    double callUs = 0, relayUs = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--echo"))
        return serveEcho(args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("--relay"))
        return serveRelay(args[2]);

    const QString loadBefore = loadAverage();
    const MachineLoad machine;
    Stage stage;
    Peer echo({QStringLiteral("--echo"), stage.path() + QStringLiteral("/echo")});

    // Local: a live object of Server.exe, in turn with the ping-pong over a
    // Unix socket to the echo, and with the blocking one.
    qputenv("AUTOMATION_SERVER_IDLE_MS", "60000");
    setActivation(false);
    QLocalSocket localSocket;
    localSocket.connectToServer(echo.address());
    if (!localSocket.waitForConnected(kAnswerMs))
        die(QStringLiteral("cannot connect to the echo: ") + localSocket.errorString());
    PingPong local(&localSocket);
    LoopbackEcho floor(LoopbackEcho::Kind::Unix);
    std::shared_ptr<ObjectHandle> object = create();
    const qint64 localServer = pidOf(object->description());
    if (localServer <= 0)
        die(QStringLiteral("no process id in \"%1\"").arg(object->description()));
    for (int i = 0; i < kCallsPerRound; ++i) {
        callAsync(*object);
        local.roundTrip();
    }
    const std::vector<Placement> placements = placementsHere();
    std::vector<LocalFigures> localFigures;
    for (const Placement& where : placements) {
        pinProcess(::getpid(), where.clientCpu);
        pinProcess(localServer, where.peerCpu);
        pinProcess(echo.pid(), where.peerCpu);
        floor.pinEcho(cores(where.peerCpu));
        LocalFigures f;
        const std::vector<double> m = alternate(kRounds, {{batch([&] { callAsync(*object); })},
                                                          {batch([&] { callBlocking(*object); })},
                                                          {batch([&] { local.roundTrip(); })},
                                                          {batch([&] { floor.roundTrip(); })}});
        f.asyncUs = perCall(m[0]);
        f.blockingUs = perCall(m[1]);
        f.pongUs = perCall(m[2]);
        f.floorUs = perCall(m[3]);
        // Sequential calls, half a second at a time in turn with sequential
        // ping-pongs.
        std::pair<int, double> calls{0, 0}, pongs{0, 0};
        for (int s = 0; s < kSlices; ++s) {
            const auto c = chainCalls(*object, kSliceMs);
            const auto p = local.chain(kSliceMs);
            calls = {calls.first + c.first, calls.second + c.second};
            pongs = {pongs.first + p.first, pongs.second + p.second};
        }
        f.callRate = calls.first / calls.second;
        f.pongRate = pongs.first / pongs.second;
        localFigures.push_back(f);
    }
    for (const qint64 pid : {qint64(::getpid()), localServer, echo.pid()})
        pinProcess(pid, -1);
    floor.pinEcho(cores(-1));

    // Memory: from a server that holds no object of ours.
    const int filesWithOne = openFiles(localServer);
    object.reset();
    const Memory memory = measureMemory(localServer, settledFiles(localServer, filesWithOne));
    ::kill(pid_t(localServer), SIGTERM);
    waitGone(localServer);

    // Through the host over TLS at Packet Privacy, in turn with the
    // ping-pong through the bare TLS relay to the echo.
    std::vector<RemoteFigures> remoteFigures;
    {
        Peer relay({QStringLiteral("--relay"), echo.address()});
        QSslSocket tls;
        tls.setSslConfiguration(tlsConfiguration(stage.me));
        tls.connectToHostEncrypted(QStringLiteral("127.0.0.1"), relay.address().toUShort());
        if (!tls.waitForEncrypted(kAnswerMs))
            die(QStringLiteral("bare TLS relay: ") + tls.errorString());
        tls.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        PingPong relayed(&tls);

        Host host(stage.hostUser, stage.hostExe, 60000);
        setActivation(true, QStringLiteral("6"));
        std::shared_ptr<ObjectHandle> remote = create();
        const qint64 remoteServer = pidOf(remote->description());
        if (remoteServer <= 0)
            die(QStringLiteral("no process id in \"%1\"").arg(remote->description()));
        for (int i = 0; i < kCallsPerRound; ++i) {
            callAsync(*remote);
            relayed.roundTrip();
        }
        for (const Placement& where : placements) {
            pinProcess(::getpid(), where.clientCpu);
            for (const qint64 pid :
                 {host.process.processId(), remoteServer, relay.pid(), echo.pid()})
                pinProcess(pid, where.peerCpu);
            const std::vector<double> m = alternate(
                kRounds,
                {{batch([&] { callAsync(*remote); })}, {batch([&] { relayed.roundTrip(); })}});
            remoteFigures.push_back({perCall(m[0]), perCall(m[1])});
        }
        pinProcess(::getpid(), -1);
        remote.reset();
        tls.abort();
        ::kill(pid_t(remoteServer), SIGTERM);
    }

    out << "median of " << kRounds << " rounds of " << kCallsPerRound
        << " calls or round trips, per call; compared rows ran in turn";
    for (size_t p = 0; p < placements.size(); ++p) {
        const LocalFigures& l = localFigures[p];
        const RemoteFigures& r = remoteFigures[p];
        out << "\n" << placements[p].name << ":\n";
        rowUs("Unix socket pair ping-pong, blocking, a thread", l.floorUs);
        rowUs("Unix socket ping-pong, 32 bytes, Qt event loop", l.pongUs,
              times(l.pongUs, l.floorUs, "blocking ping-pong"));
        rowUs("local Echo, call() and a local event loop", l.asyncUs,
              times(l.asyncUs, l.pongUs, "ping-pong") + goal(l.asyncUs / l.pongUs, kCallGoal));
        rowUs("local Echo, callMethod()", l.blockingUs, times(l.blockingUs, l.pongUs, "ping-pong"));
        rowUs("TLS relay to the echo ping-pong, 32 bytes", r.relayUs);
        rowUs(
            "through automation-host, TLS, Echo, call()", r.callUs,
            times(r.callUs, r.relayUs, "relay ping-pong") + goal(r.callUs / r.relayUs, kCallGoal));
        out << "  sequential, " << kSlices << " x " << kSliceMs << " ms each, in turn:\n";
        rowRate(
            "local Echo calls", l.callRate,
            QStringLiteral("(goal: at least %1, %2)")
                .arg(kRateGoal, 0, 'f', 0)
                .arg(l.callRate >= kRateGoal ? QStringLiteral("met") : QStringLiteral("NOT met")));
        rowRate("Unix socket ping-pongs, Qt event loop", l.pongRate,
                QStringLiteral("calls: %1 x the ping-pong rate")
                    .arg(l.callRate / l.pongRate, 0, 'f', 2));
    }

    const auto memoryRow = [](const char* what, double value, const char* unit,
                              const QString& note) {
        out << "  " << QString::fromLatin1(what).leftJustified(46)
            << QString::number(value, 'f', 1).rightJustified(8) << ' '
            << QString::fromLatin1(unit).leftJustified(3) << "   " << note << Qt::endl;
    };
    const auto spread = [](const std::vector<double>& v) {
        return QStringLiteral("(median; batches from %1 to %2)")
            .arg(*std::min_element(v.begin(), v.end()), 0, 'f', 1)
            .arg(*std::max_element(v.begin(), v.end()), 0, 'f', 1);
    };
    out << "\nper live object, " << kObjects << " at once (a client's share of one server), "
        << kMemoryBatches << " batches:\n";
    memoryRow("client heap, created", median(memory.created), "KiB", spread(memory.created));
    memoryRow("client heap, created and called once", median(memory.called), "KiB",
              spread(memory.called));
    memoryRow("client heap left after release", median(memory.kept), "KiB", spread(memory.kept));
    memoryRow("client open files", median(memory.files), "", spread(memory.files));
    memoryRow("Server.exe resident growth", memory.serverResident, "KiB",
              QStringLiteral("(first batch: later ones reuse what it freed)"));
    memoryRow("Server.exe open files", median(memory.serverFiles), "", spread(memory.serverFiles));

    out << "\nmachine: " << QString::number(machine.busyShare() * 100, 'f', 0) << "% busy over "
        << QThread::idealThreadCount()
        << " cores during the run, this benchmark and its servers included; load average "
        << loadBefore << " before, " << loadAverage() << " after" << Qt::endl;
    return 0;
}
