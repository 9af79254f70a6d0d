#include <automation/environment.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace automation {

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString mode(mode_t m) {
    return QStringLiteral("0%1").arg(m & 07777, 3, 8, QLatin1Char('0'));
}

// Creates path and the missing folders above it, each with mode 0700
// whatever the umask (which may have taken bits away).
Status makeFolders(const QString& path) {
    QStringList missing;
    struct stat st {};
    for (QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
         ::lstat(QFile::encodeName(folder).constData(), &st) != 0 && errno == ENOENT;
         folder = QFileInfo(folder).absolutePath())
        missing.prepend(folder);
    for (const QString& folder : std::as_const(missing)) {
        const QByteArray native = QFile::encodeName(folder);
        if (::mkdir(native.constData(), 0700) == 0)
            ::chmod(native.constData(), 0700);
        else if (errno != EEXIST)
            return Status::failure(
                Error::StoreFailure,
                QStringLiteral("cannot create directory %1: %2").arg(folder, systemError()));
    }
    return {};
}

}  // namespace

quint16 hostPort() {
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("AUTOMATION_HOST_PORT", &ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : DefaultHostPort;
}

int serverIdleMs() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("AUTOMATION_SERVER_IDLE_MS", &ok);
    return ok && ms >= 0 ? ms : DefaultServerIdleMs;
}

Status checkOwnDirectory(const QString& path, Privacy privacy) {
    const auto refuse = [&path](const QString& why) {
        return Status::failure(Error::Untrusted, QStringLiteral("%1 %2").arg(path, why));
    };
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return refuse(QStringLiteral("cannot be inspected: %1").arg(systemError()));
    if (S_ISLNK(st.st_mode))
        return refuse(QStringLiteral("is a symbolic link, not a directory of this user"));
    if (!S_ISDIR(st.st_mode))
        return refuse(QStringLiteral("is not a directory"));
    if (st.st_uid != ::geteuid())
        return refuse(QStringLiteral("belongs to user %1, not to this user (%2)")
                          .arg(st.st_uid)
                          .arg(::geteuid()));
    if (privacy == Privacy::Private && (st.st_mode & 077) != 0)
        return refuse(QStringLiteral("has mode %1; it must be 0700").arg(mode(st.st_mode)));
    if (privacy == Privacy::Owned && (st.st_mode & 022) != 0)
        return refuse(
            QStringLiteral("is writable by group or others (mode %1)").arg(mode(st.st_mode)));
    return {};
}

Status makeOwnDirectory(const QString& path, Privacy privacy) {
    // Made once, checked on every use.
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        if (const Status s = makeFolders(path); !s.ok())
            return s;
    }
    return checkOwnDirectory(path, privacy);
}

Status refuseSymlink(const QString& path, Error error) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode))
        return Status::failure(
            error, QStringLiteral("%1 is a symbolic link; it is not followed").arg(path));
    return {};
}

Status socketDirectory(QString* directory) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // Without a runtime directory, a folder of our own under the shared
    // temporary directory, used only when it passes the same check.
    const QString dir =
        !runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()
            ? runtime + QStringLiteral("/automation")
            : QDir::tempPath() + QStringLiteral("/automation-%1").arg(::geteuid());
    const Status s = makeOwnDirectory(dir, Privacy::Private);
    if (!s.ok())
        return Status::failure(Error::Untrusted,
                               QStringLiteral("the socket folder is not safe: %1").arg(s.reason));
    *directory = dir;
    return {};
}

Status serverSocketPath(const QString& executable, QString* path) {
    QString dir;
    if (const Status s = socketDirectory(&dir); !s.ok())
        return s;
    const QFileInfo info(executable);
    const QString canonical = info.canonicalFilePath();
    const QString key = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(key), QCryptographicHash::Sha256).toHex();
    // Short names keep the path within the limit of a local socket address.
    *path = dir + QLatin1Char('/') + QString::fromLatin1(hash.left(20));
    return {};
}

Status pairingSocketPath(qint64 pid, QString* path) {
    QString dir;
    if (const Status s = socketDirectory(&dir); !s.ok())
        return s;
    *path = dir + QLatin1Char('/') + QLatin1String(PairingSocketPrefix) + QString::number(pid);
    return {};
}

QString configDirectory() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // XDG base directories ignore a relative path.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/automation");
}

}  // namespace automation
