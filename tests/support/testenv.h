#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QtGlobal>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <csignal>
#include <optional>
#include <utility>
#include <vector>

// Points XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at fresh private
// directories for the lifetime of the object, so that a test never touches the
// user's files or those of another test. The previous values come back when it
// goes out of scope, with those of the variables set through setVariable(),
// and the processes started under it (servers started for activation) are
// stopped, so that none is left to the next case.
class ScopedXdgEnvironment {
public:
    ScopedXdgEnvironment() {
        const QString root = m_dir.path();
        set("XDG_CONFIG_HOME", root + "/config");
        set("XDG_DATA_HOME", root + "/data");
        set("XDG_RUNTIME_DIR", root + "/runtime");
        QFile::setPermissions(root + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~ScopedXdgEnvironment() {
        stopProcesses();
        // Backwards: a variable set twice gets its first value back.
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->second)
                qputenv(it->first.constData(), it->second.value());
            else
                qunsetenv(it->first.constData());
        }
    }
    Q_DISABLE_COPY_MOVE(ScopedXdgEnvironment)

    QString root() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + "/config"; }
    QString dataHome() const { return m_dir.path() + "/data"; }
    QString runtimeDir() const { return m_dir.path() + "/runtime"; }

    // Sets another environment variable for the lifetime of the object.
    void setVariable(const char* name, const QByteArray& value) {
        save(name);
        qputenv(name, value);
    }

    // The running processes that were started under this environment, known
    // by the XDG_RUNTIME_DIR they were given; this process is not one of them.
    QList<qint64> processes() const {
        const QByteArray mine = "XDG_RUNTIME_DIR=" + QFile::encodeName(runtimeDir());
        QList<qint64> found;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString& entry : entries) {
            bool number = false;
            const qint64 pid = entry.toLongLong(&number);
            if (!number || pid == QCoreApplication::applicationPid())
                continue;
            // A process that has ended shows an empty environment.
            QFile environment(QStringLiteral("/proc/%1/environ").arg(pid));
            if (environment.open(QIODevice::ReadOnly) &&
                environment.readAll().split('\0').contains(mine))
                found.append(pid);
        }
        return found;
    }

private:
    // Kills the processes started under this environment and waits until
    // each has ended.
    void stopProcesses() const {
        for (const qint64 pid : processes()) {
            const int handle = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
            if (handle < 0)
                continue;
            // Through the handle: the signal cannot reach a process that took
            // over the number meanwhile.
            if (::syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0) {
                pollfd ended{handle, POLLIN, 0};
                ::poll(&ended, 1, 10000);
            }
            ::close(handle);
        }
    }

    void set(const char* name, const QString& path) {
        QDir().mkpath(path);
        setVariable(name, QFile::encodeName(path));
    }

    void save(const char* name) {
        m_saved.emplace_back(QByteArray(name), qEnvironmentVariableIsSet(name)
                                                   ? std::optional<QByteArray>(qgetenv(name))
                                                   : std::nullopt);
    }

    QTemporaryDir m_dir;
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};
