#pragma once

#include <automation/broker.h>

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QLocalServer;

// What a server program links to register its classes and to serve them.
namespace automation {

// An object made by a server for one client. What a client can call is
// declared with Qt's meta-object system: each Q_PROPERTY (writable when it
// has WRITE, announced on change when it has NOTIFY), each public slot and
// Q_INVOKABLE method, and each signal. Parameters, results and properties of
// these types are offered, others are left out with a line on stderr:
//   QString s, bool b, int i, uint u, qlonglong x, qulonglong t, double d,
//   QByteArray ay, QStringList as, QVariant v, QVariantList av, QVariantMap a{sv}
// A method has at most 10 parameters; D-Bus has no overloads, so of methods
// with one name only the first declared is offered.
class ServedObject : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Told to the client with the new object's id.
    virtual QString description() const = 0;

    // Called from inside a method a client called: the call is answered with
    // this error (org.freedesktop.DBus.Error.Failed and message, or the
    // D-Bus error name given) instead of the method's result.
    void failCall(const QString& message,
                  const QString& errorName = QStringLiteral("org.freedesktop.DBus.Error.Failed"));
    // The error set by failCall() during the current call, and its reset.
    bool takeCallError(QString* name, QString* message);

private:
    QString m_errorName;
    QString m_errorMessage;
};

struct ServedClass {
    QString name;     // programmatic identifier, e.g. "Server.Application"
    QString classId;  // optional class identifier
    // Makes one object; nullptr when it cannot.
    std::function<std::unique_ptr<ServedObject>()> create;
};

// Registers name for local activation by executable (made absolute) in the
// default store.
Status registerClass(const QString& name, const QString& classId, const QString& executable);
// NotRegistered when the class is not registered.
Status unregisterClass(const QString& name);

// What makes one instance the server of an executable: an flock on an open
// descriptor beside its socket. The kernel drops it when the process ends,
// however it ends, so a server killed during start-up leaves nothing stale.
class ServerLock {
public:
    ServerLock();
    ~ServerLock();
    Q_DISABLE_COPY_MOVE(ServerLock)

    // Waits briefly for an instance that is just leaving; busy is set when
    // another instance holds it.
    Status acquire(const QString& socketPath, bool* busy);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Serves the classes on the local socket of this executable, to processes of
// its own user only, and tells when it has had no client (hence no object)
// for serverIdleMs(). One client process holds at most half the connections
// (Limits::maxPerPeer), so that automation-host, which makes every remote
// object through one, cannot crowd out the user's local programs.
class ObjectServer : public Broker {
    Q_OBJECT
public:
    explicit ObjectServer(QList<ServedClass> classes, const Limits& limits = Limits(),
                          QObject* parent = nullptr);
    ~ObjectServer() override;

    // Listens on serverSocketPath(executable), or at socketPath when given.
    // alreadyServed is set when another instance serves there.
    Status listen(const QString& executable, bool* alreadyServed = nullptr,
                  const QString& socketPath = QString());

Q_SIGNALS:
    void idle();

protected:
    void activate(const QString& peer, const QString& className, QObject* context,
                  Done done) override;
    void serveCalls(QIODevice* socket, const QByteArray& created,
                    const std::shared_ptr<void>& object, QObject* context,
                    std::function<void(const QString&)> ended) override;
    QStringList servedClasses(const QString& peer) override;

private:
    void accept();

    QList<ServedClass> m_classes;
    ServerLock m_lock;
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
