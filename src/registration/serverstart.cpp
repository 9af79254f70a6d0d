#include "serverstart.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace registration {

namespace {

QString failureReason(const QFileInfo& file, const QProcess& process) {
    if (!file.exists())
        return QStringLiteral("the file was not found");
    if (file.isDir())
        return QStringLiteral("it is a folder, not a program");
    if (!file.isExecutable())
        return QStringLiteral("the file is not marked as executable");
    return QStringLiteral("the file is not a program this computer can run (%1)")
        .arg(process.errorString());
}

}  // namespace

bool StartServer(const QString& path, QString* reason) {
    // QProcess looks a name without a slash up in PATH; the user means the
    // file in the current directory, as the file check did.
    const QString program =
        QFileInfo(path).isRelative() ? QDir::current().absoluteFilePath(path) : path;
    QProcess process;
    process.setProgram(program);
    process.setArguments({});
    if (process.startDetached())
        return true;
    if (reason)
        *reason = failureReason(QFileInfo(program), process);
    return false;
}

}  // namespace registration
