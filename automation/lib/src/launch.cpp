#include "launch.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace automation {

namespace {

Status systemFailure(int error) {
    return Status::failure(Error::ServerStartFailed, QString::fromLocal8Bit(strerror(error)));
}

// Owns what posix_spawn() is given.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

}  // namespace

// posix_spawn() does not copy the client's memory as fork() does, which
// QProcess::startDetached() does twice.
Status startServer(const QString& executable, qint64* pid, int* ready) {
    // Both ends above the standard descriptors and the one the server gets.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return systemFailure(errno);
    for (int& end : ends) {
        const int high = ::fcntl(end, F_DUPFD_CLOEXEC, ReadyDescriptorNumber + 1);
        ::close(end);
        end = high;
    }
    if (ends[0] < 0 || ends[1] < 0) {
        const int error = errno;
        for (int end : ends)
            if (end >= 0)
                ::close(end);
        return systemFailure(error);
    }

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, ends[1], ReadyDescriptorNumber);
    // Nothing else of ours reaches the server, whatever we inherited without
    // close-on-exec: a listening socket, a pipe our own starter left open.
    // In the child, glibc closes them with close_range(), or one by one
    // from /proc/self/fd where the kernel lacks it.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, ReadyDescriptorNumber + 1);
    const QByteArray folder = QFile::encodeName(QFileInfo(executable).absolutePath());
    posix_spawn_file_actions_addchdir_np(&setup.actions, folder.constData());
    // The server outlives us: a process group of its own keeps our
    // terminal's signals (interrupt, stop, hang-up) away from it, and what we
    // ignore (SIGHUP under nohup, say) it must not. It stays in our session,
    // where the scheduler counts it with us: in a session of its own it
    // would compete with every other session as a group of one, and start
    // far slower on a busy machine.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setflags(
        &setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray program = QFile::encodeName(executable);
    const QByteArray embedding("-Embedding");
    char* argv[] = {const_cast<char*>(program.constData()),
                    const_cast<char*>(embedding.constData()), nullptr};
    const QByteArray readyEntry =
        QByteArray(ReadyVariable) + '=' + QByteArray::number(ReadyDescriptorNumber);
    std::vector<char*> envp;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, ReadyVariable, sizeof ReadyVariable - 1) != 0 ||
            (*entry)[sizeof ReadyVariable - 1] != '=')
            envp.push_back(*entry);
    }
    envp.push_back(const_cast<char*>(readyEntry.constData()));
    envp.push_back(nullptr);

    pid_t child = 0;
    const int error = posix_spawn(&child, program.constData(), &setup.actions, &setup.attributes,
                                  argv, envp.data());
    ::close(ends[1]);
    if (error != 0) {
        ::close(ends[0]);
        return systemFailure(error);
    }
    // A child of ours: someone must wait for it, or it stays a zombie (as
    // it does, until we exit, when no thread can be had).
    try {
        std::thread([child] {
            while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
    }
    *pid = child;
    *ready = ends[0];
    return {};
}

ReadyDescriptor::ReadyDescriptor() {
    bool number = false;
    const int fd = qEnvironmentVariableIntValue(ReadyVariable, &number);
    qunsetenv(ReadyVariable);
    struct stat st {};
    if (!number || fd != ReadyDescriptorNumber || ::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    m_fd = fd;
}

ReadyDescriptor::~ReadyDescriptor() {
    close();
}

void ReadyDescriptor::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

}  // namespace automation
