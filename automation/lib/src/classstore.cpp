#include <automation/classstore.h>
#include <automation/environment.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
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

// Thrown when SQLite refuses; carries its result code and message.
struct SqlFailure {
    int code;
    QString message;
};

bool isLocked(const SqlFailure& failure) {
    const int primary = failure.code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

SqlFailure failureOf(sqlite3* db, int rc) {
    return {rc, QString::fromUtf8(sqlite3_errmsg(db)).trimmed()};
}

}  // namespace

// One connection to the store, through SQLite's own interface: the store is
// never opened through another copy of SQLite in the same process (as Qt's
// driver may bring), whose locks would not know of ours.
class ClassStore::Database {
public:
    Database(const QString& path, bool readOnly) {
        const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                          SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
        const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
        if (rc != SQLITE_OK) {
            const SqlFailure failed =
                m_db ? failureOf(m_db, rc) : SqlFailure{rc, QString::fromUtf8(sqlite3_errstr(rc))};
            sqlite3_close(m_db);
            throw failed;
        }
        sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    }
    ~Database() { sqlite3_close_v2(m_db); }
    Q_DISABLE_COPY_MOVE(Database)

    void exec(const char* sql) {
        if (const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
            throw failureOf(m_db, rc);
    }
    // Undoes an open transaction, whatever went wrong in it.
    void rollBack() { sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr); }
    int changes() const { return sqlite3_changes(m_db); }
    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

namespace {

// A prepared statement: bind() the parameters in order, step() through the
// rows, reset() to run it again.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql) : m_db(db) {
        const QByteArray utf8 = sql.toUtf8();
        if (const int rc = sqlite3_prepare_v3(db, utf8.constData(), int(utf8.size()),
                                              SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr);
            rc != SQLITE_OK)
            throw failureOf(db, rc);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Q_DISABLE_COPY_MOVE(Statement)

    // Text, never NULL (the columns are NOT NULL), even for a null QString.
    Statement& bind(const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        check(sqlite3_bind_text(m_statement, ++m_bound, utf8.constData(), int(utf8.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int value) {
        check(sqlite3_bind_int(m_statement, ++m_bound, value));
        return *this;
    }
    // True while there is a row to read.
    bool step() {
        const int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw failureOf(m_db, rc);
    }
    // Ends the statement's read (its transaction, outside an explicit one)
    // and forgets the parameters.
    void reset() {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
        m_bound = 0;
    }
    QString text(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_statement, column));
    }
    int integer(int column) const { return sqlite3_column_int(m_statement, column); }

private:
    void check(int rc) const {
        if (rc != SQLITE_OK)
            throw failureOf(m_db, rc);
    }

    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
    int m_bound = 0;
};

ClassRecord readRecord(const Statement& q) {
    ClassRecord r;
    r.name = q.text(0);
    r.classId = q.text(1);
    r.server = q.text(2);
    r.activation.remote = q.integer(3) != 0;
    r.activation.machine = q.text(4);
    r.activation.protocol = q.text(5);
    r.activation.level = q.text(6);
    return r;
}

// The first class (in registration order) whose column holds the key.
QString selectOneSql(const char* column) {
    return QStringLiteral("SELECT %1 FROM classes WHERE %2 = ? ORDER BY rowid LIMIT 1")
        .arg(QLatin1String(Columns), QLatin1String(column));
}

// Runs a statement prepared from selectOneSql().
bool readOne(Statement& q, const QString& key, ClassRecord* record) {
    q.bind(key);
    const bool found = q.step();
    if (found)
        *record = readRecord(q);
    q.reset();
    return found;
}

bool selectOne(sqlite3* db, const char* column, const QString& key, ClassRecord* record) {
    Statement q(db, selectOneSql(column));
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
    Statement& query(const QString& path, const struct stat& file, bool byId) {
        if (!m_db || path != m_path || !sameFile(file)) {
            close();
            m_db = std::make_unique<Database>(path, true);
            m_path = path;
            m_file = file;
        }
        std::unique_ptr<Statement>& q = byId ? m_byId : m_byName;
        if (!q)
            q = std::make_unique<Statement>(m_db->handle(),
                                            selectOneSql(byId ? "id_key" : "name_key"));
        return *q;
    }

    // After a failure nothing is kept: the next lookup starts afresh.
    void close() {
        m_byName.reset();
        m_byId.reset();
        m_db.reset();
    }

private:
    bool sameFile(const struct stat& file) const {
        return file.st_dev == m_file.st_dev && file.st_ino == m_file.st_ino &&
               file.st_size == m_file.st_size && file.st_mtim.tv_sec == m_file.st_mtim.tv_sec &&
               file.st_mtim.tv_nsec == m_file.st_mtim.tv_nsec;
    }

    std::unique_ptr<Database> m_db;
    std::unique_ptr<Statement> m_byName;
    std::unique_ptr<Statement> m_byId;
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

Status ClassStore::run(bool write, const std::function<Status(Database&)>& body) {
    struct stat st {};
    if (const Status s = checkFiles(write, &st); !s.ok())
        return s;
    const QDeadlineTimer deadline(LockedRetryMs);
    for (;;) {
        std::unique_ptr<Database> db;
        bool inTransaction = false;
        try {
            db = std::make_unique<Database>(m_path, false);
            // Switching an existing WAL store to WAL again costs a millisecond.
            Statement mode(db->handle(), QStringLiteral("PRAGMA journal_mode"));
            const bool wal = mode.step() && mode.text(0) == QLatin1String("wal");
            mode.reset();
            if (!wal)
                db->exec("PRAGMA journal_mode=WAL");
            db->exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
            inTransaction = true;
            Statement table(db->handle(), QStringLiteral("SELECT count(*) FROM sqlite_master"
                                                         " WHERE type='table' AND name='classes'"));
            const bool haveTable = table.step() && table.integer(0) > 0;
            table.reset();
            if (!haveTable) {
                if (!write) {
                    // A store without classes: nothing is registered yet.
                    db->exec("ROLLBACK");
                    return noneYet();
                }
                db->exec(Schema);
            }
            const Status result = body(*db);
            db->exec("COMMIT");
            return result;
        } catch (const SqlFailure& sqlFailure) {
            if (inTransaction)
                db->rollBack();
            db.reset();
            if (isLocked(sqlFailure) && !deadline.hasExpired()) {
                QThread::msleep(20);
                continue;
            }
            return failure(sqlFailure.message);
        }
    }
}

namespace {

// A name that a class may be registered under, or why not.
Status checkClassName(const QString& trimmed) {
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
    return {};
}

}  // namespace

Status ClassStore::registerClass(const QString& name, const QString& classId,
                                 const QString& server) {
    const QString trimmed = name.trimmed();
    if (const Status s = checkClassName(trimmed); !s.ok())
        return s;
    if (!QDir::isAbsolutePath(server))
        return Status::failure(Error::StoreFailure,
                               QStringLiteral("the server path %1 is not absolute").arg(server));

    return run(true, [&](Database& db) {
        Statement(db.handle(),
                  QStringLiteral("INSERT INTO classes (name_key, name, class_id, id_key, server)"
                                 " VALUES (?, ?, ?, ?, ?) ON CONFLICT(name_key) DO UPDATE SET"
                                 " class_id = excluded.class_id, id_key = excluded.id_key,"
                                 " server = excluded.server"))
            .bind(nameKey(trimmed))
            .bind(trimmed)
            .bind(classId.trimmed())
            .bind(nameKey(classId))
            .bind(server)
            .step();
        return Status();
    });
}

Status ClassStore::registerRemote(const QString& name, const QString& machine) {
    const QString trimmed = name.trimmed();
    if (const Status s = checkClassName(trimmed); !s.ok())
        return s;
    return run(true, [&](Database& db) {
        Statement(db.handle(),
                  QStringLiteral("INSERT INTO classes (name_key, name, remote, machine)"
                                 " VALUES (?, ?, 1, ?) ON CONFLICT(name_key) DO UPDATE SET"
                                 " remote = 1, machine = excluded.machine, protocol = '',"
                                 " level = ''"))
            .bind(nameKey(trimmed))
            .bind(trimmed)
            .bind(machine)
            .step();
        return Status();
    });
}

Status ClassStore::unregisterClass(const QString& name) {
    const Status s = run(true, [&](Database& db) {
        Statement(db.handle(), QStringLiteral("DELETE FROM classes WHERE name_key = ?"))
            .bind(nameKey(name))
            .step();
        return db.changes() > 0 ? Status() : notRegistered(name);
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
            if (sqlFailure.message.startsWith(QLatin1String("no such table")))
                return noneYet();
            if (isLocked(sqlFailure) && !deadline.hasExpired()) {
                QThread::msleep(20);
                continue;
            }
            return failure(sqlFailure.message);
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
    const Status s = run(false, [&](Database& db) {
        Statement q(
            db.handle(),
            QStringLiteral("SELECT %1 FROM classes ORDER BY name_key").arg(QLatin1String(Columns)));
        while (q.step())
            records->append(readRecord(q));
        return Status();
    });
    // No store yet is an empty list.
    return s.error == Error::NotRegistered ? Status() : s;
}

Status ClassStore::update(const QString& name, const std::function<bool(ClassRecord&)>& change) {
    return run(true, [&](Database& db) {
        ClassRecord record;
        if (!selectOne(db.handle(), "name_key", nameKey(name), &record))
            return notRegistered(name);
        if (!change(record))
            return Status();
        Statement(db.handle(),
                  QStringLiteral("UPDATE classes SET class_id = ?, id_key = ?, server = ?,"
                                 " remote = ?, machine = ?, protocol = ?, level = ?"
                                 " WHERE name_key = ?"))
            .bind(record.classId)
            .bind(nameKey(record.classId))
            .bind(record.server)
            .bind(record.activation.remote ? 1 : 0)
            .bind(record.activation.machine)
            .bind(record.activation.protocol)
            .bind(record.activation.level)
            .bind(nameKey(name))
            .step();
        return Status();
    });
}

}  // namespace automation
