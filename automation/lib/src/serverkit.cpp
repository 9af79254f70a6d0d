#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/serverkit.h>
#include <automation/trust.h>

#include "busexport.h"
#include "buslink.h"
#include "channel.h"
#include "files.h"
#include "launch.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QSocketNotifier>
#include <QTextStream>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace automation {

namespace {
// Time a freshly started server waits for the client that started it.
constexpr int StartupGraceMs = 3000;
constexpr int LockWaitMs = 500;

// What a connection holds once its object is made.
struct Instance {
    std::unique_ptr<ServedObject> object;
    QString className;
};
}  // namespace

void ServedObject::failCall(const QString& message, const QString& errorName) {
    m_errorName = errorName;
    m_errorMessage = message;
}

bool ServedObject::takeCallError(QString* name, QString* message) {
    if (m_errorName.isEmpty())
        return false;
    *name = std::exchange(m_errorName, QString());
    *message = std::exchange(m_errorMessage, QString());
    return true;
}

Status registerClass(const QString& name, const QString& classId, const QString& executable) {
    return ClassStore().registerClass(name, classId, QFileInfo(executable).absoluteFilePath());
}

Status unregisterClass(const QString& name) {
    return ClassStore().unregisterClass(name);
}

struct ServerLock::Private {
    files::Lock lock;
};

ServerLock::ServerLock() : d(std::make_unique<Private>()) {}

ServerLock::~ServerLock() = default;

Status ServerLock::acquire(const QString& socketPath, bool* busy) {
    return d->lock.acquire(socketPath + QStringLiteral(".lock"), LockWaitMs, busy);
}

ObjectServer::ObjectServer(QList<ServedClass> classes, const Limits& limits, QObject* parent)
    : Broker(limits, parent), m_classes(std::move(classes)) {
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &ObjectServer::idle);
    connect(this, &Broker::connectionCountChanged, this, [this](int count) {
        if (count > 0) {
            m_idle.stop();
        } else {
            m_idle.setInterval(serverIdleMs());
            m_idle.start();
        }
    });
}

ObjectServer::~ObjectServer() {
    if (m_server)
        m_server->close();
}

Status ObjectServer::listen(const QString& executable, bool* alreadyServed,
                            const QString& socketPath) {
    if (alreadyServed)
        *alreadyServed = false;
    QString path = socketPath;
    if (path.isEmpty()) {
        if (const Status s = serverSocketPath(executable, &path); !s.ok())
            return s;
    }
    // The lock makes one instance the server; a socket file left by one that
    // died is removed only under it.
    bool busy = false;
    if (const Status s = m_lock.acquire(path, &busy); !s.ok()) {
        if (alreadyServed)
            *alreadyServed = busy;
        return busy ? Status::failure(Error::ServerStartFailed,
                                      QStringLiteral("another instance serves at %1").arg(path))
                    : s;
    }
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path))
        return Status::failure(
            Error::ServerStartFailed,
            QStringLiteral("cannot listen at %1: %2").arg(path, m_server->errorString()));
    connect(m_server, &QLocalServer::newConnection, this, &ObjectServer::accept);
    m_idle.setInterval(qMax(serverIdleMs(), StartupGraceMs));
    m_idle.start();
    return {};
}

QStringList ObjectServer::servedClasses(const QString&) {
    QStringList names;
    for (const ServedClass& c : std::as_const(m_classes))
        names.append(c.name);
    return names;
}

// Only processes of this server's own user are served.
void ObjectServer::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        pid_t pid = 0;
        const Status s = checkPeerUser(socket->socketDescriptor(), &pid);
        const QString peer = QStringLiteral("process %1").arg(pid);
        if (s.ok()) {
            addConnection(socket, peer);
            continue;
        }
        const QString reason =
            QStringLiteral("this server serves only its own user: the client %1").arg(s.reason);
        emit refused(peer, reason);
        refuseAndClose(socket, s.error, reason);
    }
}

void ObjectServer::activate(const QString&, const QString& className, QObject*, Done done) {
    const QString key = ClassStore::nameKey(className);
    for (const ServedClass& served : m_classes) {
        if (ClassStore::nameKey(served.name) != key)
            continue;
        std::unique_ptr<ServedObject> object = served.create ? served.create() : nullptr;
        if (!object) {
            done({nullptr,
                  {},
                  Error::ClassNotServed,
                  QStringLiteral("the server could not create an object of class %1")
                      .arg(served.name)});
            return;
        }
        const QString description = object->description();
        done({std::make_shared<Instance>(Instance{std::move(object), served.name}),
              description,
              Error::None,
              {}});
        return;
    }
    done({nullptr,
          {},
          Error::ClassNotServed,
          QStringLiteral("this server does not serve class %1").arg(className)});
}

// From Created on, the connection is sd-bus's (BusLink), not Qt's: the Qt
// socket goes before Created is sent, so that it cannot read a byte of the
// D-Bus that the client sends once it has read Created.
void ObjectServer::serveCalls(QIODevice* socket, const QByteArray& created,
                              const std::shared_ptr<void>& object, QObject* context,
                              std::function<void(const QString&)> ended) {
    auto* local = qobject_cast<QLocalSocket*>(socket);
    const int fd = local ? ::fcntl(int(local->socketDescriptor()), F_DUPFD_CLOEXEC, 3) : -1;
    if (local) {
        // Closed now (this runs from its own signal, so it goes later):
        // Qt reads nothing more from the connection.
        local->disconnect();  // its closing is not the client's
        local->abort();
        local->deleteLater();
    }
    if (fd < 0 || ::send(fd, created.constData(), size_t(created.size()), MSG_NOSIGNAL) !=
                      ssize_t(created.size())) {
        if (fd >= 0)
            ::close(fd);
        return ended(QStringLiteral("cannot answer the client: %1")
                         .arg(QString::fromLocal8Bit(strerror(errno))));
    }
    // D-Bus is set up when the client first sends something (or goes): an
    // object that is only created and released costs none.
    auto* link = new BusLink(BusLink::Role::Server, fd, context);
    auto* first = new QSocketNotifier(fd, QSocketNotifier::Read, link);
    connect(first, &QSocketNotifier::activated, link, [first, fd, link, object, context, ended] {
        first->setEnabled(false);
        first->deleteLater();
        char byte = 0;
        if (::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
            return ended(QString());  // released without a call
        const auto instance = std::static_pointer_cast<Instance>(object);
        connect(link, &BusLink::closed, context, ended);
        auto* published = new BusExport(instance->object.get(), instance->className, link);
        QString error;
        if (const Status s = link->start(); !s.ok())
            return ended(s.reason);
        if (!published->publish(&error))
            return ended(error);
        link->process();
    });
}

int runServer(const QList<ServedClass>& classes) {
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString self = QCoreApplication::applicationFilePath();
    const QString program = QFileInfo(self).fileName();
    // Options are taken with - or / and in any case, as servers have always
    // been started.
    const auto is = [&](const char* option) {
        if (args.size() != 1)
            return false;
        QString given = args.first();
        if (given.startsWith(QLatin1Char('/')))
            given[0] = QLatin1Char('-');
        return given.compare(QLatin1String(option), Qt::CaseInsensitive) == 0;
    };

    if (args.isEmpty() || is("-Unregister")) {
        const bool unregister = !args.isEmpty();
        for (const ServedClass& served : classes) {
            const Status s = unregister ? unregisterClass(served.name)
                                        : registerClass(served.name, served.classId, self);
            if (!s.ok()) {
                err << program << ": " << (unregister ? "cannot unregister " : "cannot register ")
                    << served.name << ": " << s.reason << Qt::endl;
                return 1;
            }
        }
        return 0;
    }
    if (is("-Embedding")) {
        ReadyDescriptor ready;
        ObjectServer server(classes);
        QObject::connect(&server, &Broker::callsEnded, &server,
                         [program](const QString& peer, const QString& reason) {
                             QTextStream(stderr) << program << ": calls from " << peer
                                                 << " ended: " << reason << Qt::endl;
                         });
        bool alreadyServed = false;
        if (const Status s = server.listen(self, &alreadyServed); !s.ok()) {
            if (alreadyServed)
                return 0;  // clients reach the instance that is serving
            err << program << ": " << s.reason << Qt::endl;
            return 1;
        }
        // The client that started us connects now.
        ready.close();
        QObject::connect(&server, &ObjectServer::idle, qApp, &QCoreApplication::quit);
        return QCoreApplication::exec();
    }
    const bool help = is("--help") || is("-h");
    QTextStream out(stdout);
    (help ? out : err)
        << "Usage: " << program << " [-Embedding | -Unregister]\n"
        << "An automation server. Run without arguments it registers its classes and exits;\n"
        << "with -Embedding it serves them until idle; -Unregister removes them.\n";
    return help ? 0 : 2;
}

}  // namespace automation
