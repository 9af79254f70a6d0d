// Object creation and release, warm and cold, local and through
// automation-host (over TLS, and over plain TCP at level "1"), set beside the
// bare cost of starting Server.exe, of one loopback TCP round trip and of a
// bare mutual TLS handshake with one round trip; the host under 32 clients
// at once, beside a bare TLS echo under the same load; and the time to give
// up on a silent host. Compared programs run in alternation, round by round
// (under load: second by second).

#include <automation/classstore.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <functional>
#include <thread>
#include <vector>

using namespace automation;

namespace {

constexpr int Rounds = 41;
constexpr uid_t Nobody = 65534;
QTextStream out(stdout);

[[noreturn]] void die(const QString& why) {
    QTextStream(stderr) << "bench: " << why << Qt::endl;
    std::exit(1);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The value below which the given share of v lies (nearest rank).
double percentile(std::vector<double> v, double share) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = size_t(std::ceil(share * double(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

struct Step {
    std::function<void()> run;
    std::function<void()> prepare = {};  // untimed, before each round
};

// Milliseconds per round of each step, medians; the steps take turns.
std::vector<double> alternate(int rounds, const std::vector<Step>& steps) {
    std::vector<std::vector<double>> times(steps.size());
    for (int i = 0; i < rounds; ++i) {
        for (size_t s = 0; s < steps.size(); ++s) {
            if (steps[s].prepare)
                steps[s].prepare();
            QElapsedTimer clock;
            clock.start();
            steps[s].run();
            times[s].push_back(clock.nsecsElapsed() / 1e6);
        }
    }
    std::vector<double> medians;
    for (auto& t : times)
        medians.push_back(median(t));
    return medians;
}

double measure(int rounds, const std::function<void()>& step,
               const std::function<void()>& prepare = {}) {
    return alternate(rounds, {{step, prepare}}).front();
}

qint64 pidOf(const QString& description) {
    const auto m = QRegularExpression(QStringLiteral("process (\\d+)")).match(description);
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

void waitGone(qint64 pid) {
    while (pid > 0 && ::kill(pid_t(pid), 0) == 0 &&
           QFile::exists(QStringLiteral("/proc/%1/exe").arg(pid)))
        QThread::msleep(2);
}

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

// A connected loopback TCP pair with an echo thread at the far end; one
// roundTrip() sends 32 bytes and waits for them to come back.
class LoopbackEcho {
public:
    LoopbackEcho() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_echo = std::thread([this] {
            const int c = ::accept(m_listener, nullptr, nullptr);
            char buf[64];
            ssize_t n;
            while ((n = ::recv(c, buf, sizeof buf, 0)) > 0)
                ::send(c, buf, size_t(n), 0);
            ::close(c);
        });
        m_client = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(m_client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        const int one = 1;
        ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~LoopbackEcho() {
        ::close(m_client);
        m_echo.join();
        ::close(m_listener);
    }
    void roundTrip() {
        char buf[32] = {};
        ::send(m_client, buf, sizeof buf, 0);
        size_t got = 0;
        while (got < sizeof buf)
            got += size_t(::recv(m_client, buf, sizeof buf - got, 0));
    }

private:
    int m_listener = -1;
    int m_client = -1;
    std::thread m_echo;
};

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

// The host's user: nobody when we are root (the host refuses root), else us
// with a home of its own, hence an identity of its own.
class HostUser {
public:
    HostUser() {
        for (const char* sub : {"bin", "config", "data", "runtime"})
            QDir().mkpath(m_dir.path() + QLatin1Char('/') + QLatin1String(sub));
        ::chmod(QFile::encodeName(m_dir.path() + "/runtime").constData(), 0700);
    }
    QString install(const QString& program) {
        const QString copy = m_dir.path() + "/bin/" + QFileInfo(program).fileName();
        QFile::copy(program, copy);
        return copy;
    }
    // Hands everything made so far to the user.
    void seal() {
        if (::geteuid() != 0)
            return;
        QProcess::execute(QStringLiteral("chown"), {"-R", "65534:65534", m_dir.path()});
    }
    void prepare(QProcess& p, const QMap<QString, QString>& extra = {}) const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());
        env.insert("XDG_CONFIG_HOME", m_dir.path() + "/config");
        env.insert("XDG_DATA_HOME", m_dir.path() + "/data");
        env.insert("XDG_RUNTIME_DIR", m_dir.path() + "/runtime");
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            env.insert(it.key(), it.value());
        p.setProcessEnvironment(env);
        if (::geteuid() == 0)
            p.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
                    ::_exit(126);
            });
    }
    QByteArray run(const QString& program, const QStringList& args) const {
        QProcess p;
        prepare(p);
        p.start(program, args);
        p.waitForFinished();
        if (p.exitCode() != 0)
            die(program + QStringLiteral(" failed: ") +
                QString::fromUtf8(p.readAllStandardError()));
        return p.readAllStandardOutput().trimmed();
    }

private:
    QTemporaryDir m_dir;
};

// automation-host as the host's user, on a free loopback port, serving level
// "1" too, with servers idling idleMs; its refusals go to errorFile.
struct Host {
    QProcess process;
    Host(const HostUser& user, const QString& exe, int idleMs, const QStringList& extra = {},
         const QString& errorFile = QString()) {
        user.prepare(process, {{"AUTOMATION_SERVER_IDLE_MS", QString::number(idleMs)}});
        if (!errorFile.isEmpty())
            process.setStandardErrorFile(errorFile);
        process.start(
            exe,
            QStringList{"--listen", "127.0.0.1:0", "--allow-anonymous=Server.Application"} + extra);
        const QRegularExpression listening(QStringLiteral("listening on .*:(\\d+)\\s*$"));
        while (process.waitForReadyRead(10000)) {
            while (process.canReadLine()) {
                const auto m = listening.match(QString::fromUtf8(process.readLine()));
                if (m.hasMatch()) {
                    qputenv("AUTOMATION_HOST_PORT", m.captured(1).toUtf8());
                    return;
                }
            }
        }
        die(QStringLiteral("automation-host did not start: ") +
            QString::fromUtf8(process.readAllStandardError()));
    }
    ~Host() {
        process.kill();
        process.waitForFinished();
    }
};

void setActivation(bool remote, const QString& level = QString()) {
    RemoteActivation ra;
    const quint16 status = remote ? ra.SetRemoteActivation(true, "Server.Application", std::nullopt,
                                                           "127.0.0.1", "ncacn_ip_tcp", level)
                                  : ra.SetRemoteActivation(false, "Server.Application");
    if (status != 0)
        die(QStringLiteral("cannot set the activation: ") + ra.lastError());
}

void row(const char* what, double ms, const QString& ratio = QString()) {
    out << QString::fromLatin1(what).leftJustified(48)
        << QString::number(ms, 'f', 3).rightJustified(10) << " ms   " << ratio << Qt::endl;
}

QString times(double ms, double base, const char* what) {
    return QStringLiteral("%1 x %2").arg(ms / base, 0, 'f', 2).arg(QLatin1String(what));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + "/data"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path() + "/run"));
    QDir().mkpath(dir.path() + "/run");
    ::chmod(QFile::encodeName(dir.path() + "/run").constData(), 0700);
    if (QProcess::execute(QStringLiteral(SERVER_EXE), {}) != 0)
        die(QStringLiteral("Server.exe did not register"));
    Identity me;
    if (const Status s = loadIdentity(&me); !s.ok())
        die(s.reason);

    // The host's side: its own user, registration and identity; paired with us.
    HostUser hostUser;
    const QString hostExe = hostUser.install(QStringLiteral(HOST_EXE));
    const QString hostServer = hostUser.install(QStringLiteral(SERVER_EXE));
    const QString hostCtl = hostUser.install(QStringLiteral(AUTOMATIONCTL));
    hostUser.seal();
    hostUser.run(hostServer, {});
    const QString hostId = QString::fromUtf8(hostUser.run(hostCtl, {"identity"}));
    hostUser.run(hostCtl, {"authorize", me.id});
    TrustFile knownHosts(TrustFile::Kind::KnownHosts);
    if (const Status s = knownHosts.add({"127.0.0.1", hostId, {}}); !s.ok())
        die(s.reason);

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
    // identity, so the host lets one identity hold them all (by default one
    // peer may hold 16 connections).
    constexpr int Clients = 32;
    constexpr int Slices = 5;
    std::vector<Load> load;
    QString hostRefusals;
    {
        TlsEchoThread echo(me);
        const QString errors = dir.path() + "/host-errors";
        Host host(hostUser, hostExe, 60000, {"--max-per-peer", QString::number(Clients)}, errors);
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
        << " s each, second by second in turn (one identity, so the host runs with --max-per-peer "
        << Clients << "):\n";
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
