#pragma once

#include <automation/status.h>

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <functional>

// Files of the automation layer, opened where they are named: a symbolic
// link at the path is refused, never followed.
namespace automation::files {

// What read() lets its caller check before anything is read: the folder as
// opened, then the file as opened. A failure stops the read with its status.
using Check = std::function<Status(const QString& path, const struct stat& st)>;
struct Checks {
    Check folder;  // given: the folder is opened as named too, a link there refused
    Check file;
};

// The whole file; a missing one (or one whose folder is missing) is an empty
// QByteArray with *exists false.
Status read(const QString& path, QByteArray* data, bool* exists, const Checks& checks = {});

// Writes a new file beside path (mode 0600, whatever the umask) and renames
// it over path.
Status replace(const QString& path, const QByteArray& data);

// What the file looks like now (inode, size, modification time, mode,
// owner): equal stamps mean it has not changed. Empty when it does not exist.
QByteArray stamp(const QString& path);

// An flock on an open descriptor of path (created 0600 when missing). The
// kernel drops it when the descriptor closes, so a killed process leaves no
// stale lock behind.
class Lock {
public:
    Lock() = default;
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // Waits at most waitMs (-1: as long as it takes). False with *busy set
    // when another process holds it.
    Status acquire(const QString& path, int waitMs, bool* busy = nullptr);
    void release();

private:
    int m_fd = -1;
};

}  // namespace automation::files
