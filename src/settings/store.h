#pragma once

#include "app/result.h"
#include "app/version.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

// The per-user settings store: string values addressed by (application,
// section, key), kept in one SQLite file. Names are compared without regard to
// letter case and keep the spelling they were first written with; a section
// lists its entries in the order they were added.
namespace settings {

// The program's entries are kept under its title.
inline const QString& kApplication = app::kAppTitle;
inline const QString kServers = QStringLiteral("Servers");
inline const QString kMachines = QStringLiteral("Machines");
inline const QString kSaved = QStringLiteral("saved");

using Entries = QList<std::pair<QString, QString>>;

// One thread uses a Store. It keeps its file open between operations, and
// opens it again when the path changes or the file there is another one (it
// was removed or replaced).
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
    class Connection;
    enum class Query : int;

    bool open();
    // Opens the store and runs one statement with its values bound, handing
    // each row to row(); false (with lastError() set and the store closed)
    // when either fails.
    template <typename Row>
    bool run(Query query, std::initializer_list<QString> values, Row row);
    bool fail(const QString& reason);

    QString m_fixedPath;
    QString m_lastError;
    std::unique_ptr<Connection> m_connection;
};

// The store the program uses.
Store& defaultStore();

// The program's use of the store: class names in the "Servers" section,
// machine names in "Machines". A failure names the file and the reason; a
// read failure is marked repeated while the store has not been read since the
// same failure.

// Records a name unless an entry with a non-blank value exists already.
app::Result<> AddServer(const QString& name);
app::Result<> AddMachine(const QString& name);

// The key names of a section, in the store's order; empty after a failure.
app::Result<QStringList> Servers();
app::Result<QStringList> Machines();

// Forgets one entry; a missing one is not a failure.
app::Result<> removeServer(const QString& name);
app::Result<> removeMachine(const QString& name);

}  // namespace settings
