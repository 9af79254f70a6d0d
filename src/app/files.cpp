#include "files.h"

#include <QDateTime>
#include <QFileInfo>

namespace app {

bool FileExists(const QString& path) {
    if (path.isEmpty() || path.contains(QChar::Null))
        return false;
    const QFileInfo info(path);
    // A directory can never be started as a server, so it does not count.
    if (!info.exists() || info.isDir())
        return false;
    return !info.lastModified().toString(Qt::ISODate).isEmpty();
}

}  // namespace app
