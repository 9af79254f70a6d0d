#pragma once

#include <automation/status.h>

#include <QByteArray>
#include <QString>

// Files of the automation layer, opened where they are named: a symbolic
// link at the path is refused, never followed.
namespace automation::files {

// The whole file; a missing one is an empty QByteArray with *exists false.
// privateOnly: refuse a file that is not ours or that group or others may read.
Status read(const QString& path, QByteArray* data, bool* exists, bool privateOnly = false);

// Writes a new file beside path (mode 0600) and renames it over path.
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
