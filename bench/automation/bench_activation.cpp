// Object creation and release, warm and cold, local and through
// automation-host (over TLS, and over plain TCP at level "1"), set beside the
// bare cost of starting Server.exe, of one loopback TCP round trip and of a
// bare mutual TLS handshake with one round trip; and the time to give up on a
// silent host. Compared programs run in alternation, round by round.

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
#include <csignal>
#include <functional>
#include <thread>
#include <vector>

using namespace automation;

namespace {

constexpr int Rounds = 25;
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

void createAndRelease(const QString& className) {
    const CreateResult r = createObject(className);
    if (!r.ok())
        die(errorName(r.error) + QStringLiteral(": ") + r.reason);
    lastServer = pidOf(r.object->description());
    r.object->release();
    // Let the release go out before the next round.
    QCoreApplication::processEvents();
}

double loopbackRoundTripMs() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::thread echo([listener] {
        const int c = ::accept(listener, nullptr, nullptr);
        char buf[64];
        ssize_t n;
        while ((n = ::recv(c, buf, sizeof buf, 0)) > 0)
            ::send(c, buf, size_t(n), 0);
        ::close(c);
    });
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buf[32] = {};
    const double ms = measure(Rounds * 40, [&] {
        ::send(client, buf, sizeof buf, 0);
        size_t got = 0;
        while (got < sizeof buf)
            got += size_t(::recv(client, buf, sizeof buf - got, 0));
    });
    ::close(client);
    echo.join();
    ::close(listener);
    return ms;
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

// A mutual TLS handshake and one 32-byte round trip on loopback.
void bareTls(const Identity& client, quint16 port) {
    QSslSocket socket;
    socket.setSslConfiguration(tlsConfiguration(client));
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForEncrypted(5000))
        die(QStringLiteral("bare TLS handshake: ") + socket.errorString());
    socket.write(QByteArray(32, 'x'));
    qint64 got = 0;
    while (got < 32 && socket.waitForReadyRead(5000))
        got += socket.readAll().size();
    socket.abort();
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
// "1" too, with servers idling idleMs.
struct Host {
    QProcess process;
    Host(const HostUser& user, const QString& exe, int idleMs) {
        user.prepare(process, {{"AUTOMATION_SERVER_IDLE_MS", QString::number(idleMs)}});
        process.start(exe, {"--listen", "127.0.0.1:0", "--allow-anonymous"});
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

    const double start = measure(Rounds, [] {
        QProcess p;
        p.start(QStringLiteral(SERVER_EXE), {"--help"});
        p.waitForFinished();
    });
    const double rtt = loopbackRoundTripMs();

    // Local, warm: the server stays up between rounds.
    qputenv("AUTOMATION_SERVER_IDLE_MS", "60000");
    createAndRelease("Server.Application");
    const double localWarm = measure(Rounds, [] { createAndRelease("Server.Application"); });
    ::kill(pid_t(lastServer), SIGTERM);
    waitGone(lastServer);

    // Local, cold: the server leaves as soon as its last client does.
    qputenv("AUTOMATION_SERVER_IDLE_MS", "0");
    lastServer = 0;
    const double localCold = measure(
        Rounds, [] { createAndRelease("Server.Application"); }, [] { waitGone(lastServer); });

    // Through the host, warm: TLS at Packet Privacy, plain TCP at No
    // Authentication and a bare TLS handshake with one round trip, in turn.
    QThread echoThread;
    echoThread.start();
    auto* echo = new TlsEchoServer(me);
    echo->moveToThread(&echoThread);
    quint16 echoPort = 0;
    QMetaObject::invokeMethod(
        echo,
        [&] {
            echo->listen(QHostAddress::LocalHost, 0);
            echoPort = echo->serverPort();
        },
        Qt::BlockingQueuedConnection);
    std::vector<double> warm;
    {
        Host host(hostUser, hostExe, 60000);
        setActivation(true, "6");
        createAndRelease("Server.Application");
        const qint64 warmServer = lastServer;
        warm = alternate(
            Rounds,
            {{[] { createAndRelease("Server.Application"); }, [] { setActivation(true, "6"); }},
             {[] { createAndRelease("Server.Application"); }, [] { setActivation(true, "1"); }},
             {[&] { bareTls(me, echoPort); }}});
        ::kill(pid_t(warmServer), SIGTERM);
    }
    QMetaObject::invokeMethod(
        echo, [echo] { delete echo; }, Qt::BlockingQueuedConnection);
    echoThread.quit();
    echoThread.wait();

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
                                   }}});
    }

    // A host that accepts and never answers, with a 1 s connect limit (the
    // TLS handshake's).
    setActivation(true, "6");
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    qputenv("AUTOMATION_HOST_PORT", QByteArray::number(silent.serverPort()));
    ObjectFactory::setDefaultTimeouts({1000, 1000, 5000});
    const double giveUp = measure(5, [] { createObject("Server.Application"); });

    const double tlsWarm = warm[0], plainWarm = warm[1], bare = warm[2];
    out << "median of " << Rounds << " rounds (silent host: 5); compared rows ran in turn\n";
    row("bare start of Server.exe (--help)", start);
    row("loopback TCP round trip", rtt);
    row("bare mutual TLS handshake + one round trip", bare, times(bare, rtt, "TCP round trip"));
    row("local warm create+release", localWarm, times(localWarm, rtt, "TCP round trip"));
    row("local cold create+release", localCold, times(localCold, start, "Server.exe start"));
    row("through automation-host, plain TCP, warm", plainWarm,
        times(plainWarm, rtt, "TCP round trip"));
    row("through automation-host, TLS, warm", tlsWarm,
        times(tlsWarm, bare, "bare TLS handshake + round trip") +
            QStringLiteral(" (goal: at most 1.5)"));
    row("through automation-host, plain TCP, cold", cold[1],
        times(cold[1], start, "Server.exe start"));
    row("through automation-host, TLS, cold", cold[0], times(cold[0], cold[1], "plain cold"));
    row("give up on a silent host (1000 ms limit)", giveUp,
        QStringLiteral("%1 x the limit").arg(giveUp / 1000, 0, 'f', 2));
    return 0;
}
