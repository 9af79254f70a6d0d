#include "files.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace automation::files {

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

Status failed(const QString& path, const QString& what, int error) {
    if (error == ELOOP)
        return Status::failure(
            Error::StoreFailure,
            QStringLiteral("%1 is a symbolic link; it is not followed").arg(path));
    return Status::failure(Error::StoreFailure,
                           QStringLiteral("cannot %1 %2: %3").arg(what, path, systemError(error)));
}

}  // namespace

Status read(const QString& path, QByteArray* data, bool* exists, const Checks& checks) {
    data->clear();
    *exists = false;
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QByteArray nativeFolder = QFile::encodeName(folder);
    const QByteArray name = QFile::encodeName(info.fileName());
    // The file is opened in the folder that was checked, not looked up again.
    const int dir = ::open(nativeFolder.constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC | (checks.folder ? O_NOFOLLOW : 0));
    if (dir < 0) {
        const int error = errno;
        struct stat st {};
        if (error == ENOENT)
            return {};
        if (::lstat(nativeFolder.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            return failed(folder, QStringLiteral("open"), ELOOP);
        return failed(folder, QStringLiteral("open"), error);
    }
    const auto closeFolder = qScopeGuard([dir] { ::close(dir); });
    if (checks.folder) {
        struct stat st {};
        if (::fstat(dir, &st) != 0)
            return failed(folder, QStringLiteral("inspect"), errno);
        if (const Status s = checks.folder(folder, st); !s.ok())
            return s;
    }
    int fd = -1;
    while ((fd = ::openat(dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)) < 0) {
        if (errno != ENOENT)
            return failed(path, QStringLiteral("read"), errno);
        // A dangling link is no missing file; a file that another process
        // has just renamed into place is read.
        struct stat st {};
        if (::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return {};
        if (S_ISLNK(st.st_mode))
            return failed(path, QStringLiteral("read"), ELOOP);
    }
    struct stat st {};
    ::fstat(fd, &st);
    Status status;
    if (!S_ISREG(st.st_mode)) {
        status = Status::failure(Error::StoreFailure,
                                 QStringLiteral("%1 is not a regular file").arg(path));
    } else if (checks.file) {
        status = checks.file(path, st);
    }
    if (status.ok()) {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly))
            *data = file.readAll();
        *exists = true;
    }
    ::close(fd);
    return status;
}

Status replace(const QString& path, const QByteArray& data) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode))
        return failed(path, QStringLiteral("write"), ELOOP);
    const QString temporary = path + QStringLiteral(".new-%1").arg(::getpid());
    const QByteArray native = QFile::encodeName(temporary);
    ::unlink(native.constData());
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return failed(temporary, QStringLiteral("create"), errno);
    // The umask may have taken bits away.
    ::fchmod(fd, 0600);
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + written, size_t(data.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(native.constData());
            return failed(temporary, QStringLiteral("write"), error);
        }
        written += n;
    }
    ::fsync(fd);
    ::close(fd);
    if (::rename(native.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(native.constData());
        return failed(path, QStringLiteral("replace"), error);
    }
    return {};
}

QByteArray stamp(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(qulonglong(st.st_ino)) + ':' +
           QByteArray::number(qlonglong(st.st_size)) + ':' +
           QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ':' +
           QByteArray::number(st.st_mode) + ':' + QByteArray::number(st.st_uid);
}

Lock::~Lock() {
    release();
}

void Lock::release() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Status Lock::acquire(const QString& path, int waitMs, bool* busy) {
    release();
    if (busy)
        *busy = false;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return failed(path, QStringLiteral("open the lock"), errno);
    const QDeadlineTimer deadline(waitMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(waitMs));
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            break;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const int error = errno;
            ::close(fd);
            return failed(path, QStringLiteral("lock"), error);
        }
        if (deadline.hasExpired()) {
            ::close(fd);
            if (busy)
                *busy = true;
            return Status::failure(Error::ServerStartFailed,
                                   QStringLiteral("%1 is held by another process").arg(path));
        }
        // Whoever holds it is about to let go (a server leaving) or busy
        // for moments (writing a file).
        QThread::msleep(5);
    }
    m_fd = fd;
    return {};
}

}  // namespace automation::files
