#pragma once

// Running the real programs from the tests: Server.exe, automation-host and
// the test server, all on this machine and on loopback only.

#include <automation/objectfactory.h>

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <memory>

// Servers started for activation leave after this long without clients.
inline constexpr int TestIdleMs = 800;

inline void useShortIdleTime() {
    qRegisterMetaType<automation::CreateResult>();
    qputenv("AUTOMATION_SERVER_IDLE_MS", QByteArray::number(TestIdleMs));
}

inline int runProgram(const QString& program, const QStringList& args = {},
                      QByteArray* output = nullptr) {
    QProcess p;
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

// A loopback port that nothing listens on (just now).
inline quint16 closedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// automation-host on a port of its own choosing; killed when it goes.
class HostProcess {
public:
    bool start(const QStringList& args = {QStringLiteral("--listen"),
                                          QStringLiteral("127.0.0.1:0")},
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(HOST_EXE), args);
        if (!m_process.waitForStarted(10000))
            return false;
        const QRegularExpression line(QStringLiteral("listening on .*:(\\d+)\\s*$"));
        while (m_process.waitForReadyRead(10000)) {
            while (m_process.canReadLine()) {
                const auto match = line.match(QString::fromUtf8(m_process.readLine()));
                if (match.hasMatch()) {
                    m_port = quint16(match.captured(1).toUInt());
                    return true;
                }
            }
        }
        return false;
    }
    ~HostProcess() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    quint16 port() const { return m_port; }
    bool running() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};
