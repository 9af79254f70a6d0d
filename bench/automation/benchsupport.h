#pragma once

// What the automation benchmarks share: alternated rounds and their medians,
// the printed rows, and the stage they run on (temporary XDG folders with
// Server.exe registered, this user's identity, and a host user of its own
// paired with it, whose automation-host listens on loopback only).

#include <automation/classstore.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>
#include <automation/trust.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace bench {

constexpr uid_t kNobody = 65534;

inline QTextStream out(stdout);

[[noreturn]] inline void die(const QString& why) {
    QTextStream(stderr) << "bench: " << why << Qt::endl;
    std::exit(1);
}

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The value below which the given share of v lies (nearest rank).
inline double percentile(std::vector<double> v, double share) {
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
inline std::vector<double> alternate(int rounds, const std::vector<Step>& steps) {
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

inline double measure(int rounds, const std::function<void()>& step,
                      const std::function<void()>& prepare = {}) {
    return alternate(rounds, {{step, prepare}}).front();
}

// The server's process id in the sample server's description of an object.
inline qint64 pidOf(const QString& description) {
    const auto m = QRegularExpression(QStringLiteral("process (\\d+)")).match(description);
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

inline void waitGone(qint64 pid) {
    while (pid > 0 && ::kill(pid_t(pid), 0) == 0 &&
           QFile::exists(QStringLiteral("/proc/%1/exe").arg(pid)))
        QThread::msleep(2);
}

// A connected pair, over loopback TCP or a Unix socket pair, with an echo
// thread at the far end and no event loop on either side; one roundTrip()
// sends 32 bytes and waits for them to come back.
class LoopbackEcho {
public:
    enum class Kind { Tcp, Unix };

    explicit LoopbackEcho(Kind kind = Kind::Tcp) {
        int far = -1;
        if (kind == Kind::Unix) {
            int pair[2] = {-1, -1};
            if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
                die(QStringLiteral("socketpair: ") + QString::fromLocal8Bit(std::strerror(errno)));
            m_client = pair[0];
            far = pair[1];
        } else {
            const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t len = sizeof addr;
            ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            ::listen(listener, 1);
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
            m_client = ::socket(AF_INET, SOCK_STREAM, 0);
            if (::connect(m_client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
                die(QStringLiteral("loopback connect: ") +
                    QString::fromLocal8Bit(std::strerror(errno)));
            const int one = 1;
            ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            far = ::accept(listener, nullptr, nullptr);
            ::close(listener);
        }
        m_echo = std::thread([far] {
            char buf[64];
            ssize_t n;
            while ((n = ::recv(far, buf, sizeof buf, 0)) > 0)
                ::send(far, buf, size_t(n), 0);
            ::close(far);
        });
    }
    ~LoopbackEcho() {
        ::close(m_client);
        m_echo.join();
    }
    Q_DISABLE_COPY_MOVE(LoopbackEcho)

    // Runs the echo thread on the given cores only.
    void pinEcho(const cpu_set_t& cores) {
        if (const int error =
                ::pthread_setaffinity_np(m_echo.native_handle(), sizeof cores, &cores))
            die(QStringLiteral("cannot move the echo thread: ") +
                QString::fromLocal8Bit(std::strerror(error)));
    }

    void roundTrip() {
        char buf[32] = {};
        ::send(m_client, buf, sizeof buf, 0);
        size_t got = 0;
        while (got < sizeof buf) {
            const ssize_t n = ::recv(m_client, buf + got, sizeof buf - got, 0);
            if (n <= 0)
                die(QStringLiteral("the echo thread went away"));
            got += size_t(n);
        }
    }

private:
    int m_client = -1;
    std::thread m_echo;
};

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
                if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 ||
                    ::setuid(kNobody) != 0)
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

// Server.Application activated locally, or through the host on 127.0.0.1 at
// the given level.
inline void setActivation(bool remote, const QString& level = QString()) {
    automation::RemoteActivation ra;
    const quint16 status = remote ? ra.SetRemoteActivation(true, "Server.Application", std::nullopt,
                                                           "127.0.0.1", "ncacn_ip_tcp", level)
                                  : ra.SetRemoteActivation(false, "Server.Application");
    if (status != 0)
        die(QStringLiteral("cannot set the activation: ") + ra.lastError());
}

inline void row(const char* what, double ms, const QString& ratio = QString()) {
    out << QString::fromLatin1(what).leftJustified(48)
        << QString::number(ms, 'f', 3).rightJustified(10) << " ms   " << ratio << Qt::endl;
}

inline QString times(double ms, double base, const char* what) {
    return QStringLiteral("%1 x %2").arg(ms / base, 0, 'f', 2).arg(QLatin1String(what));
}

// The load averages as the kernel gives them, to print beside figures taken
// on a machine that others share.
inline QString loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2);
}

// How busy the machine's processors were between two points: the share of
// all of them (1.0 = every core busy), from the kernel's counters.
class MachineLoad {
public:
    MachineLoad() : m_start(read()) {}
    double busyShare() const {
        const auto now = read();
        const double total = now.first - m_start.first;
        return total > 0 ? (now.second - m_start.second) / total : 0;
    }

private:
    // All jiffies and the busy ones, over every processor.
    static std::pair<double, double> read() {
        QFile stat(QStringLiteral("/proc/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return {0, 0};
        const QList<QByteArray> f = stat.readLine().simplified().split(' ');
        double total = 0;
        for (int i = 1; i < f.size(); ++i)
            total += f[i].toDouble();
        // idle and iowait
        const double idle = f.size() > 5 ? f[4].toDouble() + f[5].toDouble() : 0;
        return {total, total - idle};
    }
    std::pair<double, double> m_start;
};

// The user's side in temporary XDG folders, with Server.exe registered and an
// identity; the host's user with its own copies of the programs, Server.exe
// registered there, paired with us both ways.
class Stage {
public:
    Stage() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/config"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + "/data"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path() + "/run"));
        QDir().mkpath(m_dir.path() + "/run");
        ::chmod(QFile::encodeName(m_dir.path() + "/run").constData(), 0700);
        if (QProcess::execute(QStringLiteral(SERVER_EXE), {}) != 0)
            die(QStringLiteral("Server.exe did not register"));
        if (const automation::Status s = automation::loadIdentity(&me); !s.ok())
            die(s.reason);

        hostExe = hostUser.install(QStringLiteral(HOST_EXE));
        const QString hostServer = hostUser.install(QStringLiteral(SERVER_EXE));
        const QString hostCtl = hostUser.install(QStringLiteral(AUTOMATIONCTL));
        hostUser.seal();
        hostUser.run(hostServer, {});
        const QString hostId = QString::fromUtf8(hostUser.run(hostCtl, {"identity"}));
        hostUser.run(hostCtl, {"authorize", me.id});
        automation::TrustFile knownHosts(automation::TrustFile::Kind::KnownHosts);
        if (const automation::Status s = knownHosts.add({"127.0.0.1", hostId, {}}); !s.ok())
            die(s.reason);
    }
    Q_DISABLE_COPY_MOVE(Stage)

    // The temporary folder that holds the user's XDG folders.
    QString path() const { return m_dir.path(); }

    automation::Identity me;
    HostUser hostUser;
    QString hostExe;

private:
    QTemporaryDir m_dir;
};

}  // namespace bench
