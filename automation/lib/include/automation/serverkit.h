#pragma once

#include <automation/broker.h>

#include <QList>
#include <QLockFile>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QLocalServer;

// What a server program links to register its classes and to serve them.
namespace automation {

// An object made by a server for one client.
class ServedObject {
public:
    virtual ~ServedObject() = default;
    // Told to the client with the new object's id.
    virtual QString description() const = 0;
};

struct ServedClass {
    QString name;     // programmatic identifier, e.g. "Server.Application"
    QString classId;  // optional class identifier
    // Makes one object; nullptr when it cannot.
    std::function<std::unique_ptr<ServedObject>()> create;
};

// Registers name for local activation by executable (made absolute) in the
// default store. False with the reason when the store refuses.
bool registerClass(const QString& name, const QString& classId, const QString& executable,
                   QString* error = nullptr);
// False with the reason when the class is not registered or the store fails.
bool unregisterClass(const QString& name, QString* error = nullptr);

// Serves the classes on the local socket of this executable and tells when it
// has had no client (hence no object) for serverIdleMs().
class ObjectServer : public Broker {
    Q_OBJECT
public:
    explicit ObjectServer(QList<ServedClass> classes, QObject* parent = nullptr);
    ~ObjectServer() override;

    // Listens on serverSocketPath(executable). False with the reason when it
    // cannot, and with alreadyServed set when another instance serves there.
    bool listen(const QString& executable, QString* error, bool* alreadyServed = nullptr);

Q_SIGNALS:
    void idle();

protected:
    void activate(const QString& className, QObject* context, Done done) override;

private:
    QList<ServedClass> m_classes;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    QTimer m_idle;
};

// The main() of a server program, after the QCoreApplication is made:
//   no arguments   register the classes for this executable, exit 0 (1 and a
//                  message on stderr when the store refuses)
//   -Embedding     serve them until idle
//   -Unregister    remove their registration
//   --help         usage
int runServer(const QList<ServedClass>& classes);

}  // namespace automation
