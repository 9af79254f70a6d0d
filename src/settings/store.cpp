#include "store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sqlite3.h>
#include <sys/stat.h>
#include <array>
#include <cerrno>
#include <cstring>

namespace settings {

namespace {

// How long an operation waits for another process's write to end.
constexpr int kBusyTimeoutMs = 10000;

QString fold(const QString& name) {
    return name.toCaseFolded();
}

// The file a path names, told apart by device and inode: a store removed or
// replaced while it was open is another file (or none) at the same path.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> fileAt(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

}  // namespace

enum class Store::Query : int { Get, Save, All, Delete };

namespace {

// Indexed by Store::Query.
constexpr std::array<const char*, 4> kQueries = {
    "SELECT value FROM settings"
    " WHERE application_fold = ? AND section_fold = ? AND key_fold = ?",
    "INSERT INTO settings (application, section, key, value,"
    " application_fold, section_fold, key_fold) VALUES (?, ?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (application_fold, section_fold, key_fold)"
    " DO UPDATE SET value = excluded.value",
    // Walks the table in insertion order: through the names' index, SQLite
    // would look every row up and then sort them, three times the work.
    "SELECT key, value FROM settings"
    " WHERE +application_fold = ? AND +section_fold = ? ORDER BY seq",
    "DELETE FROM settings WHERE application_fold = ? AND section_fold = ? AND key_fold = ?",
};

QString columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(statement, column));
}

}  // namespace

// One open connection to the store's file, with the statements prepared on
// it so far; they live as long as the connection.
class Store::Connection {
public:
    Connection(QString path, FileId file) : m_path(std::move(path)), m_file(file) {}
    ~Connection() {
        for (sqlite3_stmt* statement : m_statements)
            sqlite3_finalize(statement);
        sqlite3_close_v2(m_db);
    }
    Q_DISABLE_COPY_MOVE(Connection)

    bool open() {
        const int rc = sqlite3_open_v2(
            QFile::encodeName(m_path).constData(), &m_db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK && !m_db)
            m_openError = QString::fromUtf8(sqlite3_errstr(rc));
        if (rc != SQLITE_OK)
            return false;
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        return true;
    }

    bool exec(const char* sql) {
        return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // The statement of a query with values bound in order; nullptr when it
    // cannot be prepared or bound.
    sqlite3_stmt* statement(Query query, std::initializer_list<QString> values) {
        sqlite3_stmt*& statement = m_statements.at(std::size_t(query));
        if (!statement &&
            sqlite3_prepare_v3(m_db, kQueries.at(std::size_t(query)), -1, SQLITE_PREPARE_PERSISTENT,
                               &statement, nullptr) != SQLITE_OK)
            return nullptr;
        int index = 0;
        for (const QString& value : values) {
            // A null string binds as empty text: the store holds no NULLs.
            const QByteArray utf8 = value.toUtf8();
            if (sqlite3_bind_text(statement, ++index, utf8.constData(), int(utf8.size()),
                                  SQLITE_TRANSIENT) != SQLITE_OK)
                return nullptr;
        }
        return statement;
    }

    // For a file removed or replaced while open, SQLite leaves the log
    // behind as it closes, and the file now at the path would take that log
    // for its own. Emptied first (into the old file), there is nothing left
    // to take.
    void emptyLog() {
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }

    QString error() const {
        if (!m_db)
            return m_openError;
        const QString text = QString::fromUtf8(sqlite3_errmsg(m_db)).trimmed();
        return text.isEmpty() ? QCoreApplication::translate("Failure", "unknown database error")
                              : text;
    }

    const QString& path() const { return m_path; }
    bool isFile(const std::optional<FileId>& file) const { return file && *file == m_file; }
    void setFile(FileId file) { m_file = file; }

private:
    QString m_path;
    FileId m_file;
    sqlite3* m_db = nullptr;
    QString m_openError;
    std::array<sqlite3_stmt*, kQueries.size()> m_statements{};
};

Store::Store(const QString& path) : m_fixedPath(path) {}

Store::~Store() = default;

QString Store::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/corvane/settings.db");
}

QString Store::path() const {
    return m_fixedPath.isEmpty() ? defaultPath() : m_fixedPath;
}

bool Store::fail(const QString& reason) {
    m_lastError = reason;
    close();
    return false;
}

void Store::close() {
    m_connection.reset();
}

bool Store::open() {
    const QString file = path();
    const std::optional<FileId> current = fileAt(file);
    // Kept open while the path names the same file. One that was removed or
    // replaced meanwhile is opened afresh: writing on into the old one would
    // lose what is written.
    if (m_connection && m_connection->path() == file) {
        if (m_connection->isFile(current))
            return true;
        m_connection->emptyLog();
    }
    close();

    const QFileInfo info(file);
    const QString dir = info.absolutePath();
    if (!QDir(dir).exists()) {
        if (!QDir().mkpath(dir))
            return fail(
                QCoreApplication::translate("Failure", "the folder %1 cannot be created").arg(dir));
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const bool existed = info.exists();
    if (existed && !info.isFile())
        return fail(QCoreApplication::translate("Failure", "it is not a file"));
    if (!existed && !QFileInfo(dir).isWritable())
        return fail(
            QCoreApplication::translate("Failure", "the folder %1 is not writable").arg(dir));

    auto connection = std::make_unique<Connection>(file, FileId{});
    if (!connection->open())
        return fail(connection->error());
    if (!existed)
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    // Reading the schema is what tells a database from any other file;
    // nothing is written before this has succeeded.
    if (!connection->exec("SELECT count(*) FROM sqlite_master"))
        return fail(connection->error());
    // A read-only store stays readable when the journal mode cannot change.
    // With the log, NORMAL keeps the file consistent through a crash.
    connection->exec("PRAGMA journal_mode=WAL");
    connection->exec("PRAGMA synchronous=NORMAL");
    if (!connection->exec("CREATE TABLE IF NOT EXISTS settings ("
                          " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                          " application TEXT NOT NULL, section TEXT NOT NULL,"
                          " key TEXT NOT NULL, value TEXT NOT NULL,"
                          " application_fold TEXT NOT NULL, section_fold TEXT NOT NULL,"
                          " key_fold TEXT NOT NULL,"
                          " UNIQUE (application_fold, section_fold, key_fold))"))
        return fail(connection->error());
    const std::optional<FileId> opened = fileAt(file);
    if (!opened)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    connection->setFile(*opened);
    m_connection = std::move(connection);
    return true;
}

template <typename Row>
bool Store::run(Query query, std::initializer_list<QString> values, Row row) {
    if (!open())
        return false;
    sqlite3_stmt* statement = m_connection->statement(query, values);
    if (!statement)
        return fail(m_connection->error());
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        row(statement);
    const QString error = rc == SQLITE_DONE ? QString() : m_connection->error();
    // Ends the statement's read, so that the connection holds no snapshot of
    // the file between operations.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return rc == SQLITE_DONE || fail(error);
}

std::optional<QString> Store::GetSetting(const QString& app, const QString& section,
                                         const QString& key, const QString& def) {
    std::optional<QString> value;
    if (!run(Query::Get, {fold(app), fold(section), fold(key)},
             [&value](sqlite3_stmt* row) { value = columnText(row, 0); }))
        return std::nullopt;
    return value.value_or(def);
}

bool Store::SaveSetting(const QString& app, const QString& section, const QString& key,
                        const QString& value) {
    if (key.isEmpty()) {
        m_lastError = QCoreApplication::translate("Failure", "a setting needs a name");
        return false;
    }
    return run(Query::Save, {app, section, key, value, fold(app), fold(section), fold(key)},
               [](sqlite3_stmt*) {});
}

std::optional<Entries> Store::GetAllSettings(const QString& app, const QString& section) {
    Entries entries;
    if (!run(Query::All, {fold(app), fold(section)}, [&entries](sqlite3_stmt* row) {
            entries.append({columnText(row, 0), columnText(row, 1)});
        }))
        return std::nullopt;
    return entries;
}

bool Store::DeleteSetting(const QString& app, const QString& section, const QString& key) {
    return run(Query::Delete, {fold(app), fold(section), fold(key)}, [](sqlite3_stmt*) {});
}

// --- the program's use of the store ---------------------------------------

namespace {

using app::Failure;

// A store that cannot be read fails every refill of a list the same way: the
// failure is marked as repeated until the store has been read in between.
QString& lastReadFailure() {
    static QString failure;
    return failure;
}

Failure readFailure(const Store& store) {
    const QString failure = store.path() + QLatin1Char('\n') + store.lastError();
    const bool repeated = lastReadFailure() == failure;
    lastReadFailure() = failure;
    return {.kind = Failure::Kind::SettingsUnreadable,
            .reason = store.lastError(),
            .file = store.path(),
            .repeated = repeated};
}

Failure writeFailure(Failure::Kind kind, const Store& store, const QString& name) {
    return {.kind = kind, .reason = store.lastError(), .file = store.path(), .name = name};
}

app::Result<> addEntry(const QString& section, const QString& name) {
    if (name.isEmpty())
        return Failure{.kind = Failure::Kind::NotRemembered,
                       .reason = QCoreApplication::translate("Failure", "a setting needs a name")};
    Store& store = defaultStore();
    const std::optional<QString> value = store.GetSetting(kApplication, section, name);
    if (!value)
        return readFailure(store);
    lastReadFailure().clear();
    if (!value->trimmed().isEmpty())
        return {};
    if (!store.SaveSetting(kApplication, section, name, kSaved))
        return writeFailure(Failure::Kind::NotRemembered, store, name);
    return {};
}

app::Result<QStringList> keysOf(const QString& section) {
    Store& store = defaultStore();
    const std::optional<Entries> entries = store.GetAllSettings(kApplication, section);
    if (!entries)
        return readFailure(store);
    lastReadFailure().clear();
    QStringList keys;
    keys.reserve(entries->size());
    for (const auto& entry : *entries)
        keys.append(entry.first);
    return keys;
}

app::Result<> removeEntry(const QString& section, const QString& name) {
    Store& store = defaultStore();
    if (!store.DeleteSetting(kApplication, section, name))
        return writeFailure(Failure::Kind::NotForgotten, store, name);
    return {};
}

}  // namespace

Store& defaultStore() {
    // Closed as the program ends, which checkpoints the log into the file.
    static Store store;
    return store;
}

app::Result<> AddServer(const QString& name) {
    return addEntry(kServers, name);
}

app::Result<> AddMachine(const QString& name) {
    return addEntry(kMachines, name);
}

app::Result<QStringList> Servers() {
    return keysOf(kServers);
}

app::Result<QStringList> Machines() {
    return keysOf(kMachines);
}

app::Result<> removeServer(const QString& name) {
    return removeEntry(kServers, name);
}

app::Result<> removeMachine(const QString& name) {
    return removeEntry(kMachines, name);
}

}  // namespace settings
