// Object creation and release, warm and cold, local and through
// automation-host (over TLS, and over plain TCP at level "1"), set beside the
// bare cost of starting Server.exe, of one loopback TCP round trip and of a
// bare mutual TLS handshake with one round trip; the host under 32 clients
// at once, beside a bare TLS echo under the same load; and the time to give
// up on a silent host. Compared programs run in alternation, round by round
// (under load: second by second).

#include "benchsupport.h"

#include <QSslSocket>
#include <QTcpServer>

#include <chrono>
#include <thread>

using namespace automation;
using namespace bench;

namespace {

constexpr int Rounds = 41;
qint64 lastServer = 0;

// One creation and release; false with the reason when no object came.
bool tryCreateAndRelease(const QString& className, QString* why = nullptr,
                         qint64* server = nullptr) {
    const CreateResult r = createObject(className);
    if (!r.ok()) {
        if (why)
            *why = errorName(r.error) + QStringLiteral(": ") + r.reason;
        return false;
    }
    if (server)
        *server = pidOf(r.object->description());
    r.object->release();
    // Let the release go out before the next round.
    QCoreApplication::processEvents();
    return true;
}

void createAndRelease(const QString& className) {
    QString why;
    if (!tryCreateAndRelease(className, &why, &lastServer))
        die(why);
}

// The server side of the bare handshake, in a thread of its own: a TLS echo
// with the given identity. Each connection is a QSslSocket from its first byte.
class TlsEchoServer : public QTcpServer {
public:
    explicit TlsEchoServer(const Identity& identity) : m_identity(identity) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        socket->setSslConfiguration(tlsConfiguration(m_identity));
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QSslSocket::readyRead, socket,
                [socket] { socket->write(socket->readAll()); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        socket->startServerEncryption();
    }

private:
    Identity m_identity;
};

// A mutual TLS handshake and one 32-byte round trip on loopback; false with
// the reason when it did not complete.
bool tryBareTls(const Identity& client, quint16 port, QString* why = nullptr) {
    QSslSocket socket;
    socket.setSslConfiguration(tlsConfiguration(client));
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForEncrypted(10000)) {
        if (why)
            *why = socket.errorString();
        return false;
    }
    socket.write(QByteArray(32, 'x'));
    qint64 got = 0;
    while (got < 32 && socket.waitForReadyRead(10000))
        got += socket.readAll().size();
    socket.abort();
    return got == 32;
}

void bareTls(const Identity& client, quint16 port) {
    QString why;
    if (!tryBareTls(client, port, &why))
        die(QStringLiteral("bare TLS handshake: ") + why);
}

// TLS echo in a thread of its own, as the host is one thread.
class TlsEchoThread {
public:
    explicit TlsEchoThread(const Identity& identity) {
        m_thread.start();
        m_server = new TlsEchoServer(identity);
        m_server->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_server,
            [this] {
                m_server->listen(QHostAddress::LocalHost, 0);
                m_port = m_server->serverPort();
            },
            Qt::BlockingQueuedConnection);
    }
    ~TlsEchoThread() {
        QMetaObject::invokeMethod(
            m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    quint16 port() const { return m_port; }

private:
    QThread m_thread;
    TlsEchoServer* m_server = nullptr;
    quint16 m_port = 0;
};

// What a number of clients at once achieved in the slices given to one kind
// of request.
struct Load {
    std::vector<double> latencies;  // ms, of the requests that completed
    int failures = 0;
    QString firstFailure;
    double seconds = 0;
};

// Client threads, each making requests back to back; the kinds of request
// take turns, one slice of sliceMs at a time, each kind slices times. A
// request counts in the slice in which it started.
std::vector<Load> underLoad(int clients, int slices, int sliceMs,
                            const std::vector<std::function<bool(QString*)>>& kinds) {
    using Clock = std::chrono::steady_clock;
    const auto slice = std::chrono::milliseconds(sliceMs);
    // Requests still running at the end of a slice finish in the gap.
    const auto gap = std::chrono::milliseconds(300);
    const auto start = Clock::now() + std::chrono::milliseconds(500);
    const int turns = slices * int(kinds.size());
    std::vector<std::vector<Load>> perClient(clients, std::vector<Load>(kinds.size()));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            for (int turn = 0; turn < turns; ++turn) {
                const size_t kind = size_t(turn) % kinds.size();
                const auto from = start + turn * (slice + gap);
                std::this_thread::sleep_until(from);
                Load& load = perClient[c][kind];
                while (Clock::now() < from + slice) {
                    const auto begun = Clock::now();
                    QString why;
                    if (kinds[kind](&why)) {
                        load.latencies.push_back(
                            std::chrono::duration<double, std::milli>(Clock::now() - begun)
                                .count());
                    } else if (load.failures++ == 0) {
                        load.firstFailure = why;
                    }
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    std::vector<Load> total(kinds.size());
    for (size_t kind = 0; kind < kinds.size(); ++kind) {
        total[kind].seconds = slices * sliceMs / 1000.0;
        for (const auto& client : perClient) {
            const Load& l = client[kind];
            total[kind].latencies.insert(total[kind].latencies.end(), l.latencies.begin(),
                                         l.latencies.end());
            total[kind].failures += l.failures;
            if (total[kind].firstFailure.isEmpty())
                total[kind].firstFailure = l.firstFailure;
        }
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Stage stage;
    const Identity& me = stage.me;
    HostUser& hostUser = stage.hostUser;
    const QString& hostExe = stage.hostExe;

    const auto bareStart = [] {
        QProcess p;
        p.start(QStringLiteral(SERVER_EXE), {"--help"});
        p.waitForFinished();
    };

    // Local, warm: the server stays up between rounds; in turn with one
    // loopback TCP round trip.
    qputenv("AUTOMATION_SERVER_IDLE_MS", "60000");
    createAndRelease("Server.Application");
    std::vector<double> localWarm;
    {
        LoopbackEcho echo;
        localWarm = alternate(Rounds, {{[] { createAndRelease("Server.Application"); }},
                                       {[&] { echo.roundTrip(); }}});
    }
    ::kill(pid_t(lastServer), SIGTERM);
    waitGone(lastServer);

    // Local, cold: the server leaves as soon as its last client does; in
    // turn with a bare start of Server.exe.
    qputenv("AUTOMATION_SERVER_IDLE_MS", "0");
    lastServer = 0;
    const std::vector<double> localCold = alternate(
        Rounds, {{[] { createAndRelease("Server.Application"); }, [] { waitGone(lastServer); }},
                 {bareStart}});

    // Through the host, warm: TLS at Packet Privacy, plain TCP at No
    // Authentication and a bare TLS handshake with one round trip, in turn.
    std::vector<double> warm;
    {
        TlsEchoThread echo(me);
        Host host(hostUser, hostExe, 60000);
        setActivation(true, "6");
        createAndRelease("Server.Application");
        const qint64 warmServer = lastServer;
        warm = alternate(
            Rounds,
            {{[] { createAndRelease("Server.Application"); }, [] { setActivation(true, "6"); }},
             {[] { createAndRelease("Server.Application"); }, [] { setActivation(true, "1"); }},
             {[&] { bareTls(me, echo.port()); }}});
        ::kill(pid_t(warmServer), SIGTERM);
    }

    // Through the host, cold: each round waits, untimed, for the previous
    // server to be gone.
    std::vector<double> cold;
    {
        Host host(hostUser, hostExe, 0);
        lastServer = 0;
        cold = alternate(Rounds, {{[] { createAndRelease("Server.Application"); },
                                   [] {
                                       waitGone(lastServer);
                                       setActivation(true, "6");
                                   }},
                                  {[] { createAndRelease("Server.Application"); },
                                   [] {
                                       waitGone(lastServer);
                                       setActivation(true, "1");
                                   }},
                                  {bareStart}});
    }

    // The host under load: clients at once, creating and releasing over TLS
    // back to back, second by second in turn with the same clients doing
    // bare TLS handshakes with one round trip. They all present our
    // identity, so the host lets one identity hold them all and their
    // objects (by default one peer may hold 16 connections and 8 objects).
    constexpr int Clients = 32;
    constexpr int Slices = 5;
    std::vector<Load> load;
    QString hostRefusals;
    {
        TlsEchoThread echo(me);
        const QString errors = stage.path() + "/host-errors";
        const QString clients = QString::number(Clients);
        Host host(hostUser, hostExe, 60000,
                  {"--max-per-peer", clients, "--max-objects-per-peer", clients,
                   "--max-objects-of-others", clients},
                  errors);
        setActivation(true, "6");
        createAndRelease("Server.Application");
        const qint64 warmServer = lastServer;
        load =
            underLoad(Clients, Slices, 1000,
                      {[](QString* why) { return tryCreateAndRelease("Server.Application", why); },
                       [&](QString* why) { return tryBareTls(me, echo.port(), why); }});
        ::kill(pid_t(warmServer), SIGTERM);
        QFile said(errors);
        if (said.open(QIODevice::ReadOnly)) {
            const QStringList lines = QString::fromUtf8(said.readAll()).split(QLatin1Char('\n'));
            for (const QString& line : lines) {
                if (line.contains(QLatin1String(" refused "))) {
                    hostRefusals = line;
                    break;
                }
            }
        }
    }

    // A host that accepts and never answers, with a 1 s connect limit (the
    // TLS handshake's).
    setActivation(true, "6");
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    qputenv("AUTOMATION_HOST_PORT", QByteArray::number(silent.serverPort()));
    ObjectFactory::setDefaultTimeouts({1000, 1000, 5000});
    const double giveUp = measure(5, [] { createObject("Server.Application"); });

    const double rtt = localWarm[1], start = localCold[1];
    const double tlsWarm = warm[0], plainWarm = warm[1], bare = warm[2];
    out << "median of " << Rounds << " rounds (silent host: 5); compared rows ran in turn\n";
    row("bare start of Server.exe (--help)", start);
    row("loopback TCP round trip", rtt);
    row("bare mutual TLS handshake + one round trip", bare, times(bare, rtt, "TCP round trip"));
    row("local warm create+release", localWarm[0],
        times(localWarm[0], rtt, "TCP round trip") + QStringLiteral(" (goal: at most 0.150 ms)"));
    row("local cold create+release", localCold[0],
        times(localCold[0], start, "Server.exe start") + QStringLiteral(" (goal: at most 1.5)"));
    row("through automation-host, plain TCP, warm", plainWarm,
        times(plainWarm, rtt, "TCP round trip"));
    row("through automation-host, TLS, warm", tlsWarm,
        times(tlsWarm, bare, "bare TLS handshake + round trip") +
            QStringLiteral(" (goal: at most 1.5)"));
    row("through automation-host, plain TCP, cold", cold[1],
        times(cold[1], cold[2], "Server.exe start"));
    row("through automation-host, TLS, cold", cold[0], times(cold[0], cold[1], "plain cold"));
    row("give up on a silent host (1000 ms limit)", giveUp,
        QStringLiteral("%1 x the limit").arg(giveUp / 1000, 0, 'f', 2));

    out << "\n"
        << Clients << " clients at once for " << Slices
        << " s each, second by second in turn (one identity, so the host lets it hold " << Clients
        << " connections and objects):\n";
    const Load& host = load[0];
    const Load& echo = load[1];
    const auto loadRow = [](const char* what, const Load& l) {
        out << "  " << QString::fromLatin1(what).leftJustified(40)
            << QString::number(l.latencies.size() / l.seconds, 'f', 0).rightJustified(7) << "/s"
            << "   median " << QString::number(median(l.latencies), 'f', 3).rightJustified(8)
            << " ms   p99 "
            << QString::number(percentile(l.latencies, 0.99), 'f', 3).rightJustified(8)
            << " ms   failures " << l.failures << Qt::endl;
    };
    loadRow("through automation-host, TLS", host);
    loadRow("bare TLS handshake + round trip", echo);
    const double hostMedian = median(host.latencies), hostP99 = percentile(host.latencies, 0.99);
    out << "  host / bare: "
        << QString::number(host.latencies.size() / double(echo.latencies.size()), 'f', 2)
        << " x the rate, " << QString::number(hostMedian / median(echo.latencies), 'f', 2)
        << " x the median, " << QString::number(hostP99 / percentile(echo.latencies, 0.99), 'f', 2)
        << " x the p99\n"
        << "  host p99 = " << QString::number(hostP99 / hostMedian, 'f', 2)
        << " x its median (goal: at most 10), failures " << host.failures << " (goal: 0)"
        << Qt::endl;
    if (host.failures > 0)
        out << "  first failure: " << host.firstFailure << Qt::endl;
    if (echo.failures > 0)
        out << "  first bare failure: " << echo.firstFailure << Qt::endl;
    if (!hostRefusals.isEmpty())
        out << "  first refusal: " << hostRefusals << Qt::endl;
    return 0;
}
