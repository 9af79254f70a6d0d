#pragma once

#include <automation/remoteactivation.h>

#include <QList>
#include <QString>

#include <functional>

class QSqlQuery;

namespace automation {

// One registered class.
struct ClassRecord {
    QString name;     // programmatic identifier, spelling as first registered
    QString classId;  // optional class identifier, empty when none
    QString server;   // absolute path of the local server executable
    ActivationSettings activation;

    friend bool operator==(const ClassRecord&, const ClassRecord&) = default;
};

enum class StoreResult { Ok, NotFound, Failed };

// The class registration store: an SQLite file, by default
// $XDG_DATA_HOME/automation/classes.db. Names and class identifiers are
// compared case-insensitively and after trimming surrounding blanks. Each
// operation is one transaction on its own connection, so any number of
// processes may use the store at once. A file that is not a database or
// cannot be written is reported (errorString()) and never overwritten.
class ClassStore {
public:
    explicit ClassStore(const QString& path = QString());

    static QString defaultPath();
    QString path() const { return m_path; }

    // Why the last operation failed (or found nothing).
    QString errorString() const { return m_error; }

    // Adds the class or, when it is registered already, replaces its class
    // identifier and server and keeps its spelling and activation settings.
    // The name must not be blank; the server path must be absolute.
    bool registerClass(const QString& name, const QString& classId, const QString& server);
    StoreResult unregisterClass(const QString& name);

    StoreResult find(const QString& name, ClassRecord* record);
    StoreResult findByClassId(const QString& classId, ClassRecord* record);
    bool list(QList<ClassRecord>* records);

    // Reads the class, lets change() edit its class identifier, server and
    // activation settings, and writes it back, all in one transaction.
    // change() returns false to write nothing.
    StoreResult update(const QString& name, const std::function<bool(ClassRecord&)>& change);

    static QString nameKey(const QString& name) { return name.trimmed().toCaseFolded(); }

private:
    class Session;
    StoreResult run(bool write, const std::function<StoreResult(QSqlQuery&)>& body);

    QString m_path;
    QString m_error;
};

}  // namespace automation
