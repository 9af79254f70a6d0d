#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/serverkit.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

namespace automation {

namespace {
// Time a freshly started server waits for the client that started it.
constexpr int StartupGraceMs = 3000;
constexpr int LockWaitMs = 500;
}  // namespace

bool registerClass(const QString& name, const QString& classId, const QString& executable,
                   QString* error) {
    ClassStore store;
    const bool ok = store.registerClass(name, classId, QFileInfo(executable).absoluteFilePath());
    if (!ok && error)
        *error = store.errorString();
    return ok;
}

bool unregisterClass(const QString& name, QString* error) {
    ClassStore store;
    const StoreResult result = store.unregisterClass(name);
    if (result == StoreResult::NotFound && error)
        *error = QStringLiteral("class %1 is not registered").arg(name);
    else if (result == StoreResult::Failed && error)
        *error = store.errorString();
    return result == StoreResult::Ok;
}

ObjectServer::ObjectServer(QList<ServedClass> classes, QObject* parent)
    : Broker(Limits(), parent), m_classes(std::move(classes)) {
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

bool ObjectServer::listen(const QString& executable, QString* error, bool* alreadyServed) {
    if (alreadyServed)
        *alreadyServed = false;
    const QString path = serverSocketPath(executable, error);
    if (path.isEmpty())
        return false;
    // The lock makes one instance the server; a stale socket file (from one
    // that crashed) is removed only under it.
    m_lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    // An instance that is just leaving lets go within moments; one that
    // serves keeps the lock, and clients reach it.
    if (!m_lock->tryLock(LockWaitMs)) {
        if (alreadyServed)
            *alreadyServed = m_lock->error() == QLockFile::LockFailedError;
        *error = QStringLiteral("another instance serves at %1").arg(path);
        return false;
    }
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        *error = QStringLiteral("cannot listen at %1: %2").arg(path, m_server->errorString());
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            addConnection(socket);
    });
    m_idle.setInterval(qMax(serverIdleMs(), StartupGraceMs));
    m_idle.start();
    return true;
}

void ObjectServer::activate(const QString& className, QObject*, Done done) {
    const QString key = ClassStore::nameKey(className);
    for (const ServedClass& served : m_classes) {
        if (ClassStore::nameKey(served.name) != key)
            continue;
        std::shared_ptr<ServedObject> object = served.create ? served.create() : nullptr;
        if (!object) {
            done({nullptr,
                  {},
                  CreateError::ClassNotServed,
                  QStringLiteral("the server could not create an object of class %1")
                      .arg(served.name)});
            return;
        }
        done({object, object->description(), CreateError::None, {}});
        return;
    }
    done({nullptr,
          {},
          CreateError::ClassNotServed,
          QStringLiteral("this server does not serve class %1").arg(className)});
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
            QString error;
            const bool ok = unregister ? unregisterClass(served.name, &error)
                                       : registerClass(served.name, served.classId, self, &error);
            if (!ok) {
                err << program << ": " << (unregister ? "cannot unregister " : "cannot register ")
                    << served.name << ": " << error << Qt::endl;
                return 1;
            }
        }
        return 0;
    }
    if (is("-Embedding")) {
        ObjectServer server(classes);
        QString error;
        bool alreadyServed = false;
        if (!server.listen(self, &error, &alreadyServed)) {
            if (alreadyServed)
                return 0;  // clients reach the instance that is serving
            err << program << ": " << error << Qt::endl;
            return 1;
        }
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
