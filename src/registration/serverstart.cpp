#include "serverstart.h"

#include <automation/classstore.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>
#include <optional>
#include <utility>

namespace registration {

namespace {

// A file as the system knows it, whatever the path that leads to it.
using FileIdentity = std::pair<dev_t, ino_t>;

std::optional<FileIdentity> identity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

QString failureReason(const QFileInfo& file, const QProcess& process) {
    if (!file.exists())
        return QCoreApplication::translate("Failure", "the file was not found");
    if (file.isDir())
        return QCoreApplication::translate("Failure", "it is a folder, not a program");
    if (!file.isExecutable())
        return QCoreApplication::translate("Failure", "the file is not marked as executable");
    return QCoreApplication::translate("Failure",
                                       "the file is not a program this computer can run (%1)")
        .arg(process.errorString());
}

}  // namespace

app::Result<> startServer(const QString& path) {
    // QProcess looks a name without a slash up in PATH; the user means the
    // file in the current directory, as the file check did.
    const QString program =
        QFileInfo(path).isRelative() ? QDir::current().absoluteFilePath(path) : path;
    QProcess process;
    process.setProgram(program);
    process.setArguments({});
    if (process.startDetached())
        return {};
    return app::Failure{.kind = app::Failure::Kind::ServerNotStarted,
                        .reason = failureReason(QFileInfo(program), process),
                        .file = path};
}

app::Result<bool> isServerRegistered(const QString& path) {
    automation::ClassStore store;
    QList<automation::ClassRecord> classes;
    if (const automation::Status listed = store.list(&classes); !listed)
        return app::Failure{.kind = app::Failure::Kind::RegistrationUnreadable,
                            .reason = listed.reason};
    const std::optional<FileIdentity> chosen = identity(path);
    if (!chosen)
        return false;
    // A server records the path it was started from; the user may name the
    // same file through a link or another path.
    for (const automation::ClassRecord& record : std::as_const(classes)) {
        if (identity(record.server) == chosen)
            return true;
    }
    return false;
}

}  // namespace registration
