#pragma once

// Running the real programs from the tests: Server.exe, automation-host,
// automationctl and the test server, all on this machine and on loopback only.
//
// automation-host refuses to run as root, and security cases need a second
// user. A UserHome is a home of another user for such processes: as root it
// belongs to "nobody" (uid 65534), whom the processes started through it
// become; as anyone else it belongs to that user, and only its XDG
// directories (hence its identity) differ from the test's.

#include <automation/objectfactory.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <memory>

// Servers started for activation leave after this long without clients.
inline constexpr int TestIdleMs = 800;

inline constexpr uid_t NobodyUid = 65534;

inline void useShortIdleTime() {
    qRegisterMetaType<automation::CreateResult>();
    qputenv("AUTOMATION_SERVER_IDLE_MS", QByteArray::number(TestIdleMs));
}

inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

// automationctl, which the build puts beside automation-host.
inline QString automationctl() {
    return QFileInfo(QStringLiteral(HOST_EXE)).absolutePath() + QStringLiteral("/automationctl");
}

// Runs program set up by prepare (if any) to its end; its exit code, -1 when
// it crashed or hung. output gets stdout and stderr together.
inline int runProgram(const QString& program, const QStringList& args = {},
                      QByteArray* output = nullptr,
                      const std::function<void(QProcess&)>& prepare = {}) {
    QProcess p;
    if (prepare)
        prepare(p);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return -1;
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The process id in a sample server object's description.
inline qint64 pidOf(const QString& description) {
    const auto match = QRegularExpression(QStringLiteral("process (\\d+)")).match(description);
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

// Running and not a zombie.
inline bool processAlive(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype paren = line.lastIndexOf(')');
    return paren > 0 && paren + 2 < line.size() && line.at(paren + 2) != 'Z';
}

// The resident memory of a process, in KiB; -1 when it cannot be read.
inline qint64 residentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// A loopback port that nothing listens on (just now).
inline quint16 closedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// The home of another user (or, when not root, of another identity): its
// own XDG directories and copies of the programs it runs, in a folder that
// user owns, since the build tree may lie where that user cannot go.
class UserHome {
public:
    UserHome() {
        const QString root = m_dir.path();
        for (const char* sub : {"bin", "config", "data", "runtime"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
        ::chmod(QFile::encodeName(root + QStringLiteral("/runtime")).constData(), 0700);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("HOME"), root);
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
        m_env.remove(QStringLiteral("AUTOMATION_HOST_PORT"));
        giveAway(root);
    }
    Q_DISABLE_COPY_MOVE(UserHome)

    QString root() const { return m_dir.path(); }
    uid_t uid() const { return runningAsRoot() ? NobodyUid : ::geteuid(); }
    QProcessEnvironment environment() const { return m_env; }
    void setEnvironment(const QString& name, const QString& value) { m_env.insert(name, value); }

    // A copy of program in bin/, owned by the user; its path.
    QString install(const QString& program) {
        QString copy = root() + QStringLiteral("/bin/") + QFileInfo(program).fileName();
        if (!QFileInfo::exists(copy)) {
            QFile::copy(program, copy);
            QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            giveAway(copy);
        }
        return copy;
    }

    // Sets process up to run as the user, in this home.
    void prepare(QProcess& process) const {
        process.setProcessEnvironment(m_env);
        process.setWorkingDirectory(root());
        if (runningAsRoot()) {
            process.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyUid) != 0 ||
                    ::setuid(NobodyUid) != 0)
                    ::_exit(126);
            });
        }
    }

    // Runs an installed program as the user; its exit code, -1 when it
    // crashed or hung.
    int run(const QString& program, const QStringList& args = {},
            QByteArray* output = nullptr) const {
        return runProgram(program, args, output, [this](QProcess& p) { prepare(p); });
    }

    // Gives what was made here, as root, to the user.
    void giveAway(const QString& path) const {
        if (!runningAsRoot())
            return;
        if (::chown(QFile::encodeName(path).constData(), NobodyUid, NobodyUid) != 0)
            qWarning("cannot give %s away", qPrintable(path));
        if (QFileInfo(path).isDir()) {
            for (const QString& entry :
                 QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
                giveAway(path + QLatin1Char('/') + entry);
        }
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
};

// The identity of the test process's user (its XDG_CONFIG_HOME).
inline QString clientIdentity() {
    QByteArray out;
    if (runProgram(automationctl(), {QStringLiteral("identity")}, &out) != 0)
        return {};
    return QString::fromUtf8(out).trimmed();
}

// automation-host run as another user (see UserHome) on a port of its own
// choosing, with Server.exe registered there; killed when it goes. By
// default the test's user and the host are paired for its address, through
// automationctl, as a user pairs two machines.
class HostProcess {
public:
    struct Options {
        bool registerServer = true;
        bool recordHost = true;       // the client's known_hosts names the host
        bool authorizeClient = true;  // the host's authorized_clients names the client
    };

    bool start(const QStringList& args = {QStringLiteral("--listen"),
                                          QStringLiteral("127.0.0.1:0")}) {
        return start(args, Options());
    }
    bool start(const QStringList& args, const Options& options) {
        m_host = m_home.install(QStringLiteral(HOST_EXE));
        if (options.registerServer && m_home.run(m_home.install(QStringLiteral(SERVER_EXE))) != 0)
            return false;
        m_home.prepare(m_process);
        m_process.start(m_host, args);
        if (!m_process.waitForStarted(10000))
            return false;
        const QRegularExpression listening(QStringLiteral("listening on (.*):(\\d+)\\s*$"));
        const QRegularExpression identity(QStringLiteral("identity (\\S+)\\s*$"));
        while (m_port == 0 && m_process.waitForReadyRead(10000)) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine());
                if (const auto m = identity.match(line); m.hasMatch())
                    m_identity = m.captured(1);
                if (const auto m = listening.match(line); m.hasMatch()) {
                    m_address = m.captured(1);
                    m_port = quint16(m.captured(2).toUInt());
                }
            }
        }
        if (m_port == 0)
            return false;
        if (options.recordHost && !recordFor(m_address))
            return false;
        return !options.authorizeClient || authorize(clientIdentity());
    }

    ~HostProcess() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // The client's side of pairing: trust the host for machine.
    bool recordFor(const QString& machine) const {
        return runProgram(automationctl(), {QStringLiteral("add-host"), machine, m_identity}) == 0;
    }
    // The host's side of pairing: serve identity.
    bool authorize(const QString& identity) {
        return m_home.run(m_home.install(automationctl()),
                          {QStringLiteral("authorize"), identity}) == 0;
    }

    quint16 port() const { return m_port; }
    QString identity() const { return m_identity; }
    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    UserHome& home() { return m_home; }

    // What the host wrote to stderr so far (its refusals, one a line).
    QString errors() {
        m_errors += QString::fromUtf8(m_process.readAllStandardError());
        return m_errors;
    }

private:
    UserHome m_home;
    QProcess m_process;
    QString m_host;
    QString m_identity;
    QString m_address;
    QString m_errors;
    quint16 m_port = 0;
};
