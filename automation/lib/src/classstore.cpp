#include <automation/classstore.h>
#include <automation/environment.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

namespace automation {

namespace {

constexpr int BusyTimeoutMs = 5000;
// Beyond the busy time-out, how long an operation keeps trying when SQLite
// still reports the file locked (as it may while another process switches a
// new file to write-ahead logging).
constexpr int LockedRetryMs = 10000;
constexpr int MaxNameLength = 255;

const char* const Schema =
    "CREATE TABLE classes ("
    " name_key TEXT PRIMARY KEY NOT NULL,"
    " name TEXT NOT NULL,"
    " class_id TEXT NOT NULL DEFAULT '',"
    " id_key TEXT NOT NULL DEFAULT '',"
    " server TEXT NOT NULL DEFAULT '',"
    " remote INTEGER NOT NULL DEFAULT 0,"
    " machine TEXT NOT NULL DEFAULT '',"
    " protocol TEXT NOT NULL DEFAULT '',"
    " level TEXT NOT NULL DEFAULT '')";

const char* const Columns = "name, class_id, server, remote, machine, protocol, level";

QString sqlReason(const QSqlError& error) {
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.trimmed();
}

bool isLocked(const QSqlError& error) {
    // SQLITE_BUSY and SQLITE_LOCKED.
    return error.nativeErrorCode() == QLatin1String("5") ||
           error.nativeErrorCode() == QLatin1String("6");
}

// Text for a NOT NULL column: a null QString would bind as NULL.
QString text(const QString& value) {
    return value.isNull() ? QStringLiteral("") : value;
}

ClassRecord readRecord(const QSqlQuery& q) {
    ClassRecord r;
    r.name = q.value(0).toString();
    r.classId = q.value(1).toString();
    r.server = q.value(2).toString();
    r.activation.remote = q.value(3).toInt() != 0;
    r.activation.machine = q.value(4).toString();
    r.activation.protocol = q.value(5).toString();
    r.activation.level = q.value(6).toString();
    return r;
}

// Thrown inside run() when a statement fails; carries the SQLite error.
struct SqlFailure {
    QSqlError error;
};

void exec(QSqlQuery& q) {
    if (!q.exec())
        throw SqlFailure{q.lastError()};
}

void exec(QSqlQuery& q, const QString& sql) {
    if (!q.exec(sql))
        throw SqlFailure{q.lastError()};
}

// The first class (in registration order) whose column holds the key.
QString selectOneSql(const char* column) {
    return QStringLiteral("SELECT %1 FROM classes WHERE %2 = ? ORDER BY rowid LIMIT 1")
        .arg(QLatin1String(Columns), QLatin1String(column));
}

// Runs a query prepared by selectOneSql().
bool readOne(QSqlQuery& q, const QString& key, ClassRecord* record) {
    q.bindValue(0, text(key));
    exec(q);
    const bool found = q.next();
    if (found)
        *record = readRecord(q);
    q.finish();
    return found;
}

bool selectOne(QSqlQuery& q, const char* column, const QString& key, ClassRecord* record) {
    q.prepare(selectOneSql(column));
    return readOne(q, key, record);
}

Status notRegistered(const QString& name) {
    return Status::failure(Error::NotRegistered,
                           QStringLiteral("class %1 is not registered").arg(name.trimmed()));
}

Status noneYet() {
    return Status::failure(Error::NotRegistered, QStringLiteral("no class is registered yet"));
}

}  // namespace

// One connection to the store for one operation.
class ClassStore::Session {
public:
    explicit Session(const QString& path, const QString& options = QString()) {
        static std::atomic<quint64> counter{0};
        m_name = QStringLiteral("automation-store-%1").arg(counter.fetch_add(1));
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1;%2").arg(BusyTimeoutMs).arg(options));
    }
    ~Session() {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    Q_DISABLE_COPY_MOVE(Session)

    QSqlDatabase& db() { return m_db; }

private:
    QString m_name;
    QSqlDatabase m_db;
};

// A read-only connection kept open for lookups, one per thread: opening the
// store, reading its schema and preparing the query cost thirty times what
// the query itself does. Every query is a read transaction of its own, so it
// sees what any process committed last. A store changed behind SQLite's back
// (removed and made anew, renamed over, overwritten) is told by its inode,
// size and modification time, and opened afresh.
class ClassStore::Lookup {
public:
    Lookup() = default;
    ~Lookup() { close(); }
    Q_DISABLE_COPY_MOVE(Lookup)

    // The query by name or by class identifier of the store at path, which
    // lstat() has just described as file.
    QSqlQuery& query(const QString& path, const struct stat& file, bool byId) {
        if (!m_session || path != m_path || !sameFile(file)) {
            close();
            m_session = std::make_unique<Session>(path, QStringLiteral("QSQLITE_OPEN_READONLY"));
            m_path = path;
            m_file = file;
        }
        QSqlDatabase& db = m_session->db();
        if (!db.isOpen() && !db.open())
            throw SqlFailure{db.lastError()};
        std::unique_ptr<QSqlQuery>& q = byId ? m_byId : m_byName;
        if (!q) {
            auto prepared = std::make_unique<QSqlQuery>(db);
            prepared->setForwardOnly(true);  // one row, read once: nothing to cache
            if (!prepared->prepare(selectOneSql(byId ? "id_key" : "name_key")))
                throw SqlFailure{prepared->lastError()};
            q = std::move(prepared);
        }
        return *q;
    }

    // After a failure nothing is kept: the next lookup starts afresh.
    void close() {
        m_byName.reset();
        m_byId.reset();
        m_session.reset();
    }

private:
    bool sameFile(const struct stat& file) const {
        return file.st_dev == m_file.st_dev && file.st_ino == m_file.st_ino &&
               file.st_size == m_file.st_size && file.st_mtim.tv_sec == m_file.st_mtim.tv_sec &&
               file.st_mtim.tv_nsec == m_file.st_mtim.tv_nsec;
    }

    std::unique_ptr<Session> m_session;
    std::unique_ptr<QSqlQuery> m_byName;
    std::unique_ptr<QSqlQuery> m_byId;
    QString m_path;
    struct stat m_file {};
};

ClassStore::ClassStore(const QString& path) : m_path(path.isEmpty() ? defaultPath() : path) {}

QString ClassStore::defaultPath() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    // XDG base directories ignore a relative XDG_DATA_HOME.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/automation/classes.db");
}

Status ClassStore::failure(const QString& reason) const {
    return Status::failure(Error::StoreFailure,
                           QStringLiteral("class registration store %1: %2").arg(m_path, reason));
}

Status ClassStore::checkFiles(bool write, struct stat* st) const {
    // SQLite opens its side files by name too: a link at any of them would
    // have it write where the link points.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        if (const Status s = refuseSymlink(m_path + QLatin1String(suffix)); !s.ok())
            return failure(s.reason);
    }
    const QByteArray native = QFile::encodeName(m_path);
    const bool exists = ::lstat(native.constData(), st) == 0;
    if (exists && S_ISLNK(st->st_mode))
        return failure(QStringLiteral("%1 is a symbolic link; it is not followed").arg(m_path));
    if (!exists && !write)
        return noneYet();  // never created by reading
    if (!exists) {
        const QFileInfo info(m_path);
        if (const Status s = makeOwnDirectory(info.absolutePath(), Privacy::Owned); !s.ok())
            return failure(s.reason);
        // Created here with its final mode, before SQLite opens it; a link
        // that appeared meanwhile is not followed.
        const int fd = ::open(QFile::encodeName(m_path).constData(),
                              O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            return failure(QStringLiteral("cannot create the file: %1")
                               .arg(QString::fromLocal8Bit(std::strerror(errno))));
        if (const Status s = refuseSymlink(m_path); !s.ok())
            return failure(s.reason);
    } else if (!S_ISREG(st->st_mode)) {
        return failure(QStringLiteral("not a regular file"));
    }
    return {};
}

Status ClassStore::run(bool write, const std::function<Status(QSqlQuery&)>& body) {
    struct stat st {};
    if (const Status s = checkFiles(write, &st); !s.ok())
        return s;
    const QDeadlineTimer deadline(LockedRetryMs);
    for (;;) {
        Session session(m_path);
        if (!session.db().open())
            return failure(sqlReason(session.db().lastError()));
        QSqlQuery q(session.db());
        bool inTransaction = false;
        try {
            // Switching an existing WAL store to WAL again costs a millisecond.
            exec(q, QStringLiteral("PRAGMA journal_mode"));
            const bool wal = q.next() && q.value(0).toString() == QLatin1String("wal");
            q.finish();
            if (!wal) {
                exec(q, QStringLiteral("PRAGMA journal_mode=WAL"));
                q.finish();
            }
            exec(q, write ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
            inTransaction = true;
            exec(q,
                 QStringLiteral(
                     "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='classes'"));
            const bool haveTable = q.next() && q.value(0).toInt() > 0;
            q.finish();
            if (!haveTable) {
                if (!write) {
                    // A store without classes: nothing is registered yet.
                    exec(q, QStringLiteral("ROLLBACK"));
                    return noneYet();
                }
                exec(q, QString::fromLatin1(Schema));
            }
            const Status result = body(q);
            q.finish();
            exec(q, QStringLiteral("COMMIT"));
            return result;
        } catch (const SqlFailure& sqlFailure) {
            if (inTransaction)
                q.exec(QStringLiteral("ROLLBACK"));
            if (isLocked(sqlFailure.error) && !deadline.hasExpired()) {
                QThread::msleep(20);
                continue;
            }
            return failure(sqlReason(sqlFailure.error));
        }
    }
}

Status ClassStore::registerClass(const QString& name, const QString& classId,
                                 const QString& server) {
    const QString trimmed = name.trimmed();
    const auto invalid = [](const QString& reason) {
        return Status::failure(Error::StoreFailure, reason);
    };
    if (trimmed.isEmpty())
        return invalid(QStringLiteral("the class name is blank"));
    if (trimmed.size() > MaxNameLength)
        return invalid(
            QStringLiteral("the class name is longer than %1 characters").arg(MaxNameLength));
    for (const QChar c : trimmed) {
        if (c.category() == QChar::Other_Control)
            return invalid(QStringLiteral("the class name contains a control character"));
    }
    if (!QDir::isAbsolutePath(server))
        return invalid(QStringLiteral("the server path %1 is not absolute").arg(server));

    return run(true, [&](QSqlQuery& q) {
        q.prepare(
            QStringLiteral("INSERT INTO classes (name_key, name, class_id, id_key, server)"
                           " VALUES (?, ?, ?, ?, ?) ON CONFLICT(name_key) DO UPDATE SET"
                           " class_id = excluded.class_id, id_key = excluded.id_key,"
                           " server = excluded.server"));
        q.addBindValue(text(nameKey(trimmed)));
        q.addBindValue(text(trimmed));
        q.addBindValue(text(classId.trimmed()));
        q.addBindValue(text(nameKey(classId)));
        q.addBindValue(text(server));
        exec(q);
        return Status();
    });
}

Status ClassStore::unregisterClass(const QString& name) {
    const Status s = run(true, [&](QSqlQuery& q) {
        q.prepare(QStringLiteral("DELETE FROM classes WHERE name_key = ?"));
        q.addBindValue(text(nameKey(name)));
        exec(q);
        return q.numRowsAffected() > 0 ? Status() : notRegistered(name);
    });
    return s;
}

Status ClassStore::lookUp(bool byId, const QString& key, ClassRecord* record) {
    struct stat st {};
    if (const Status s = checkFiles(false, &st); !s.ok())
        return s;
    static thread_local Lookup lookup;
    const QDeadlineTimer deadline(LockedRetryMs);
    for (;;) {
        try {
            return readOne(lookup.query(m_path, st, byId), key, record) ? Status() : noneYet();
        } catch (const SqlFailure& sqlFailure) {
            lookup.close();
            // A store that has no classes table yet holds no class.
            if (sqlFailure.error.databaseText().contains(QLatin1String("no such table")))
                return noneYet();
            if (isLocked(sqlFailure.error) && !deadline.hasExpired()) {
                QThread::msleep(20);
                continue;
            }
            return failure(sqlReason(sqlFailure.error));
        }
    }
}

Status ClassStore::find(const QString& name, ClassRecord* record) {
    const Status s = lookUp(false, nameKey(name), record);
    return s.error == Error::NotRegistered ? notRegistered(name) : s;
}

Status ClassStore::findByClassId(const QString& classId, ClassRecord* record) {
    const Status missing = Status::failure(
        Error::NotRegistered,
        QStringLiteral("no class is registered with identifier %1").arg(classId.trimmed()));
    if (classId.trimmed().isEmpty())
        return missing;
    const Status s = lookUp(true, nameKey(classId), record);
    return s.error == Error::NotRegistered ? missing : s;
}

Status ClassStore::list(QList<ClassRecord>* records) {
    records->clear();
    const Status s = run(false, [&](QSqlQuery& q) {
        exec(
            q,
            QStringLiteral("SELECT %1 FROM classes ORDER BY name_key").arg(QLatin1String(Columns)));
        while (q.next())
            records->append(readRecord(q));
        return Status();
    });
    // No store yet is an empty list.
    return s.error == Error::NotRegistered ? Status() : s;
}

Status ClassStore::update(const QString& name, const std::function<bool(ClassRecord&)>& change) {
    return run(true, [&](QSqlQuery& q) {
        ClassRecord record;
        if (!selectOne(q, "name_key", nameKey(name), &record))
            return notRegistered(name);
        if (!change(record))
            return Status();
        q.prepare(
            QStringLiteral("UPDATE classes SET class_id = ?, id_key = ?, server = ?, remote = ?,"
                           " machine = ?, protocol = ?, level = ? WHERE name_key = ?"));
        q.addBindValue(text(record.classId));
        q.addBindValue(text(nameKey(record.classId)));
        q.addBindValue(text(record.server));
        q.addBindValue(record.activation.remote ? 1 : 0);
        q.addBindValue(text(record.activation.machine));
        q.addBindValue(text(record.activation.protocol));
        q.addBindValue(text(record.activation.level));
        q.addBindValue(text(nameKey(name)));
        exec(q);
        return Status();
    });
}

}  // namespace automation
