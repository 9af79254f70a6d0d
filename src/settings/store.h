#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QSqlQuery;

#include <optional>
#include <utility>

// The per-user settings store: string values addressed by (application,
// section, key), kept in one SQLite file. Names are compared without regard to
// letter case and keep the spelling they were first written with; a section
// lists its entries in the order they were added.
namespace settings {

inline const QString kApplication = QStringLiteral("TALVO - Corvane");
inline const QString kServers = QStringLiteral("Servers");
inline const QString kMachines = QStringLiteral("Machines");
inline const QString kSaved = QStringLiteral("saved");

using Entries = QList<std::pair<QString, QString>>;

class Store {
public:
    // A store in the file at path; an empty path means the user's default file
    // (defaultPath(), looked up again on every operation).
    explicit Store(const QString& path = QString());
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // $XDG_CONFIG_HOME/corvane/settings.db
    static QString defaultPath();
    QString path() const;

    // The value of a key, or def when the key is missing; nullopt when the
    // store could not be read.
    std::optional<QString> GetSetting(const QString& app, const QString& section,
                                      const QString& key, const QString& def = QString());
    // Writes one value. False when the key is empty or the store failed.
    bool SaveSetting(const QString& app, const QString& section, const QString& key,
                     const QString& value);
    // All entries of a section in the order they were added (empty when the
    // section is missing); nullopt when the store could not be read.
    std::optional<Entries> GetAllSettings(const QString& app, const QString& section);
    // Deletes one key; a missing key is not a failure.
    bool DeleteSetting(const QString& app, const QString& section, const QString& key);

    // Why the last failing operation failed.
    QString lastError() const { return m_lastError; }

    // Closes the database; the next operation opens it again.
    void close();

private:
    bool open();
    // Opens the store and runs one statement with its values bound; false
    // (with lastError() set and the store closed) when either fails.
    bool run(QSqlQuery& query, const QString& sql, const QStringList& values);
    bool fail(const QString& reason);

    QString m_fixedPath;
    QString m_openPath;
    QString m_connection;
    QString m_lastError;
};

// The store the program uses. Failures are reported to the user through the
// message box routine, naming the file and the reason.
Store& defaultStore();

// Records a class name / machine name unless an entry with a non-blank value
// exists already. False when the store failed (the user has been told).
bool AddServer(const QString& name);
bool AddMachine(const QString& name);

// The key names of a section, in the store's order; empty (and the user told)
// when the store could not be read.
QStringList Servers();
QStringList Machines();

// Forgets one entry. False when the store failed (the user has been told).
bool RemoveServer(const QString& name);
bool RemoveMachine(const QString& name);

}  // namespace settings
