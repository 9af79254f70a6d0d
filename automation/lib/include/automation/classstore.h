#pragma once

#include <automation/remoteactivation.h>
#include <automation/status.h>

#include <QList>
#include <QString>

#include <functional>

struct stat;

namespace automation {

// One registered class.
struct ClassRecord {
    QString name;     // programmatic identifier, spelling as first registered
    QString classId;  // optional class identifier, empty when none
    QString server;   // absolute path of the local server executable
    ActivationSettings activation;

    friend bool operator==(const ClassRecord&, const ClassRecord&) = default;
};

// The class registration store: an SQLite file, by default
// $XDG_DATA_HOME/automation/classes.db. Names and class identifiers are
// compared case-insensitively and after trimming surrounding blanks. Each
// operation is one transaction, so any number of processes may use the store
// at once: a change on a connection of its own, a lookup on a read-only
// connection that the thread keeps (it sees what was committed last, by any
// process). Every operation answers a Status: ok, NotRegistered for a class
// that is not there, or StoreFailure with the path and the reason. A file
// that is not a database or cannot be written is reported and never
// overwritten; a symbolic link at the path is refused.
class ClassStore {
public:
    explicit ClassStore(const QString& path = QString());

    static QString defaultPath();
    QString path() const { return m_path; }

    // Adds the class or, when it is registered already, replaces its class
    // identifier and server and keeps its spelling and activation settings.
    // The name must not be blank; the server path must be absolute.
    Status registerClass(const QString& name, const QString& classId, const QString& server);
    // Registers the class for remote activation on machine, at the host's
    // default protocol and level. A class not registered yet gets no local
    // server; one registered already keeps its server and spelling.
    Status registerRemote(const QString& name, const QString& machine);
    Status unregisterClass(const QString& name);

    Status find(const QString& name, ClassRecord* record);
    Status findByClassId(const QString& classId, ClassRecord* record);
    Status list(QList<ClassRecord>* records);

    // Reads the class, lets change() edit its class identifier, server and
    // activation settings, and writes it back, all in one transaction.
    // change() returns false to write nothing.
    Status update(const QString& name, const std::function<bool(ClassRecord&)>& change);

    static QString nameKey(const QString& name) { return name.trimmed().toCaseFolded(); }

private:
    class Database;
    class Lookup;
    Status checkFiles(bool write, struct stat* st) const;
    Status run(bool write, const std::function<Status(Database&)>& body);
    Status lookUp(bool byId, const QString& key, ClassRecord* record);
    Status failure(const QString& reason) const;

    QString m_path;
};

}  // namespace automation
