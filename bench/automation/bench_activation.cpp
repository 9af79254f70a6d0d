// Object creation and release, warm and cold, local and through
// automation-host, set beside the bare cost of starting Server.exe and of one
// loopback TCP round trip; and the time to give up on a silent host.

#include <automation/classstore.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <functional>
#include <thread>
#include <vector>

using namespace automation;

namespace {

constexpr int Rounds = 25;
QTextStream out(stdout);

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Milliseconds per round of step, median of rounds; prepare runs untimed first.
double measure(int rounds, const std::function<void()>& step,
               const std::function<void()>& prepare = {}) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        if (prepare)
            prepare();
        QElapsedTimer clock;
        clock.start();
        step();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    return median(times);
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
    if (!r.ok()) {
        QTextStream(stderr) << "bench: " << errorName(r.error) << ": " << r.reason << Qt::endl;
        std::exit(1);
    }
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

// automation-host on a free loopback port, with servers idling idleMs.
struct Host {
    QProcess process;
    explicit Host(int idleMs) {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("AUTOMATION_SERVER_IDLE_MS"), QString::number(idleMs));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(HOST_EXE), {"--listen", "127.0.0.1:0"});
        process.waitForReadyRead(10000);
        const auto m = QRegularExpression(QStringLiteral(":(\\d+)\\s*$"))
                           .match(QString::fromUtf8(process.readLine()));
        qputenv("AUTOMATION_HOST_PORT", m.captured(1).toUtf8());
    }
    ~Host() {
        process.kill();
        process.waitForFinished();
    }
};

void setRemote(bool remote) {
    RemoteActivation ra;
    const quint16 status = remote ? ra.SetRemoteActivation(true, "Server.Application", std::nullopt,
                                                           "127.0.0.1", "ncacn_ip_tcp", "2")
                                  : ra.SetRemoteActivation(false, "Server.Application");
    if (status != 0)
        std::exit(1);
}

// Each cold round waits, untimed, for the previous server to be gone.
double coldRounds() {
    lastServer = 0;
    return measure(
        Rounds, [] { createAndRelease("Server.Application"); }, [] { waitGone(lastServer); });
}

void row(const char* what, double ms, const QString& ratio = QString()) {
    out << QString::fromLatin1(what).leftJustified(44)
        << QString::number(ms, 'f', 3).rightJustified(10) << " ms   " << ratio << Qt::endl;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + "/data"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path() + "/run"));
    QDir().mkpath(dir.path() + "/run");
    if (QProcess::execute(QStringLiteral(SERVER_EXE), {}) != 0)
        return 1;

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
    const double localCold = coldRounds();

    setRemote(true);
    double hostWarm = 0;
    {
        Host host(60000);
        createAndRelease("Server.Application");
        hostWarm = measure(Rounds, [] { createAndRelease("Server.Application"); });
        ::kill(pid_t(lastServer), SIGTERM);
        waitGone(lastServer);
    }
    double hostCold = 0;
    {
        Host host(0);
        hostCold = coldRounds();
    }

    // A host that accepts and never answers, with a 1 s activation time-out.
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    qputenv("AUTOMATION_HOST_PORT", QByteArray::number(silent.serverPort()));
    ObjectFactory::setDefaultTimeouts({1000, 1000, 5000});
    const double giveUp = measure(5, [] { createObject("Server.Application"); });

    const auto times = [](double ms, double base, const char* what) {
        return QStringLiteral("%1 x %2").arg(ms / base, 0, 'f', 1).arg(QLatin1String(what));
    };
    out << "median of " << Rounds << " rounds (silent host: 5)\n";
    row("bare start of Server.exe (--help)", start);
    row("loopback TCP round trip", rtt);
    row("local warm create+release", localWarm, times(localWarm, rtt, "TCP round trip"));
    row("local cold create+release", localCold, times(localCold, start, "Server.exe start"));
    row("through automation-host, warm", hostWarm, times(hostWarm, rtt, "TCP round trip"));
    row("through automation-host, cold", hostCold, times(hostCold, start, "Server.exe start"));
    row("give up on a silent host (1000 ms limit)", giveUp,
        QStringLiteral("%1 x the limit").arg(giveUp / 1000, 0, 'f', 2));
    return 0;
}
