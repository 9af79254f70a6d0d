#include <automation/environment.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace automation {

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

bool makePrivateDirectory(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists()) {
        *error = QStringLiteral("%1 exists and is not a directory").arg(path);
        return false;
    }
    const QString parent = info.absolutePath();
    if (!QDir().mkpath(parent)) {
        *error = QStringLiteral("cannot create directory %1").arg(parent);
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) == 0) {
        // The umask may have taken bits away; the mode is 0700 regardless.
        ::chmod(native.constData(), 0700);
        return true;
    }
    if (errno == EEXIST && QFileInfo(path).isDir())
        return true;
    *error = QStringLiteral("cannot create directory %1: %2")
                 .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

QString socketDirectory(QString* error) {
    QString dummy;
    QString& reason = error ? *error : dummy;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) {
        const QString dir = runtime + QStringLiteral("/automation");
        return makePrivateDirectory(dir, &reason) ? dir : QString();
    }
    // A shared temporary directory: use ours only when it is ours alone.
    const QString dir = QDir::tempPath() + QStringLiteral("/automation-%1").arg(::getuid());
    if (!makePrivateDirectory(dir, &reason))
        return {};
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        reason = QStringLiteral("%1 is not a private directory of this user").arg(dir);
        return {};
    }
    return dir;
}

QString serverSocketPath(const QString& executable, QString* error) {
    const QString dir = socketDirectory(error);
    if (dir.isEmpty())
        return {};
    const QFileInfo info(executable);
    const QString canonical = info.canonicalFilePath();
    const QString key = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(key), QCryptographicHash::Sha256).toHex();
    // Short names keep the path within the limit of a local socket address.
    return dir + QLatin1Char('/') + QString::fromLatin1(hash.left(20));
}

}  // namespace automation
