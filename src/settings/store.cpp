#include "store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace settings {

namespace {

QString reasonOf(const QSqlError& error) {
    const QString text = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

QString fold(const QString& name) {
    return name.toCaseFolded();
}

}  // namespace

Store::Store(const QString& path)
    : m_fixedPath(path),
      m_connection(QStringLiteral("corvane-settings-%1").arg(quintptr(this), 0, 16)) {}

Store::~Store() {
    close();
}

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
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_openPath.clear();
}

bool Store::open() {
    const QString file = path();
    if (!m_openPath.isEmpty() && m_openPath == file)
        return true;
    close();

    const QFileInfo info(file);
    const QString dir = info.absolutePath();
    if (!QDir(dir).exists()) {
        if (!QDir().mkpath(dir))
            return fail(QStringLiteral("the folder %1 cannot be created").arg(dir));
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const bool existed = info.exists();
    if (existed && !info.isFile())
        return fail(QStringLiteral("it is not a file"));
    if (!existed && !QFileInfo(dir).isWritable())
        return fail(QStringLiteral("the folder %1 is not writable").arg(dir));

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open())
            return fail(reasonOf(db.lastError()));
        if (!existed)
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);

        QSqlQuery query(db);
        // Reading the schema is what tells a database from any other file;
        // nothing is written before this has succeeded.
        if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            return fail(reasonOf(query.lastError()));
        // A read-only store stays readable when the journal mode cannot change.
        // With the log, NORMAL keeps the file consistent through a crash.
        query.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        query.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        if (!query.exec(
                QStringLiteral("CREATE TABLE IF NOT EXISTS settings ("
                               " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " application TEXT NOT NULL, section TEXT NOT NULL,"
                               " key TEXT NOT NULL, value TEXT NOT NULL,"
                               " application_fold TEXT NOT NULL, section_fold TEXT NOT NULL,"
                               " key_fold TEXT NOT NULL,"
                               " UNIQUE (application_fold, section_fold, key_fold))")))
            return fail(reasonOf(query.lastError()));
    }
    m_openPath = file;
    return true;
}

namespace {
const QString kKeyMatch =
    QStringLiteral(" WHERE application_fold = ? AND section_fold = ? AND key_fold = ?");
}

bool Store::run(QSqlQuery& query, const QString& sql, const QStringList& values) {
    if (!open())
        return false;
    query = QSqlQuery(QSqlDatabase::database(m_connection));
    query.setForwardOnly(true);
    query.prepare(sql);
    // A null string would bind as SQL NULL; the store holds empty strings.
    for (const QString& value : values)
        query.addBindValue(value.isNull() ? QStringLiteral("") : value);
    return query.exec() || fail(reasonOf(query.lastError()));
}

std::optional<QString> Store::GetSetting(const QString& app, const QString& section,
                                         const QString& key, const QString& def) {
    QSqlQuery query;
    if (!run(query, QStringLiteral("SELECT value FROM settings") + kKeyMatch,
             {fold(app), fold(section), fold(key)}))
        return std::nullopt;
    return query.next() ? query.value(0).toString() : def;
}

bool Store::SaveSetting(const QString& app, const QString& section, const QString& key,
                        const QString& value) {
    if (key.isEmpty()) {
        m_lastError = QStringLiteral("a setting needs a name");
        return false;
    }
    QSqlQuery query;
    return run(query,
               QStringLiteral("INSERT INTO settings (application, section, key, value, "
                              "application_fold, section_fold, key_fold) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?) "
                              "ON CONFLICT (application_fold, section_fold, key_fold) "
                              "DO UPDATE SET value = excluded.value"),
               {app, section, key, value, fold(app), fold(section), fold(key)});
}

std::optional<Entries> Store::GetAllSettings(const QString& app, const QString& section) {
    QSqlQuery query;
    if (!run(query,
             QStringLiteral("SELECT key, value FROM settings WHERE application_fold = ? AND "
                            "section_fold = ? ORDER BY seq"),
             {fold(app), fold(section)}))
        return std::nullopt;
    Entries entries;
    while (query.next())
        entries.append({query.value(0).toString(), query.value(1).toString()});
    return entries;
}

bool Store::DeleteSetting(const QString& app, const QString& section, const QString& key) {
    QSqlQuery query;
    return run(query, QStringLiteral("DELETE FROM settings") + kKeyMatch,
               {fold(app), fold(section), fold(key)});
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
                       .reason = QStringLiteral("a setting needs a name")};
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
    // Never destroyed: the database driver's own globals may be gone by the
    // time static objects are. The connection is closed when the application
    // object goes away.
    static Store* store = [] {
        auto* created = new Store;
        if (QCoreApplication::instance())
            qAddPostRoutine([] { defaultStore().close(); });
        return created;
    }();
    return *store;
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
