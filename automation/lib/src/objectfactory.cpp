#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/objectfactory.h>

#include "channel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLocalSocket>
#include <QMutex>
#include <QNetworkInterface>
#include <QPointer>
#include <QProcess>
#include <QSysInfo>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>
#include <csignal>

namespace automation {

namespace {

QMutex defaultsMutex;
Timeouts defaults;

// Whether a started server process is still there. /proc tells a zombie from
// a running process, which kill() does not.
bool processAlive(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const qsizetype paren = line.lastIndexOf(')');
        return paren >= 0 && paren + 2 < line.size() && line.at(paren + 2) != 'Z' &&
               line.at(paren + 2) != 'X';
    }
    return ::kill(pid_t(pid), 0) == 0;
}

// Whether a registered machine is this one: its host name, "localhost", or
// one of its own addresses. Nothing is looked up on the network.
bool namesThisMachine(const QString& machine) {
    QString name = machine.trimmed();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        name.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(name);
    return !address.isNull() &&
           (address.isLoopback() || QNetworkInterface::allAddresses().contains(address));
}

// The object as the client holds it: its connection to the server or host.
// Closing the connection releases the object there.
class SocketHandle final : public ObjectHandle {
public:
    SocketHandle(const QString& className, const QString& description, quint32 id,
                 QIODevice* socket)
        : m_className(className),
          m_description(description),
          m_id(id),
          m_socket(socket),
          m_connected(std::make_shared<bool>(true)) {
        socket->setParent(nullptr);
        whenDisconnected(socket, socket, [flag = m_connected] { *flag = false; });
    }
    ~SocketHandle() override { release(); }

    QString className() const override { return m_className; }
    QString description() const override { return m_description; }
    bool isValid() const override { return m_socket && *m_connected; }

    void release() override {
        if (!m_socket)
            return;
        if (*m_connected) {
            wire::Message m;
            m.type = wire::Type::Release;
            m.objectId = m_id;
            m_socket->write(wire::encode(m));
            closeGracefully(m_socket);
        }
        if (QCoreApplication::instance())
            m_socket->deleteLater();
        else
            delete m_socket;
        m_socket = nullptr;
        *m_connected = false;
    }

private:
    QString m_className;
    QString m_description;
    quint32 m_id;
    QPointer<QIODevice> m_socket;
    std::shared_ptr<bool> m_connected;
};

}  // namespace

// One create(): looks the class up, connects (starting the server when
// needed), asks for the object and waits for the answer, each step bounded.
class Operation : public QObject {
    Q_OBJECT
public:
    Operation(const QString& className, const Timeouts& timeouts, bool localOnly, QObject* parent)
        : QObject(parent), m_className(className), m_timeouts(timeouts), m_localOnly(localOnly) {
        m_total.setSingleShot(true);
        m_step.setSingleShot(true);
        // Coarse timers may fire 5 % early; a time-out never should.
        m_total.setTimerType(Qt::PreciseTimer);
        m_step.setTimerType(Qt::PreciseTimer);
        connect(&m_total, &QTimer::timeout, this, [this] {
            fail(CreateError::Timeout, QStringLiteral("creating an object of class %1 took longer "
                                                      "than %2 ms")
                                           .arg(m_className)
                                           .arg(m_timeouts.totalMs));
        });
    }

    void start() {
        m_total.start(qMax(1, m_timeouts.totalMs));
        ClassStore store;
        const StoreResult found = store.find(m_className, &m_record);
        if (found == StoreResult::Failed)
            return fail(CreateError::StoreFailure, store.errorString());
        if (found == StoreResult::NotFound)
            return fail(CreateError::NotRegistered,
                        QStringLiteral("class %1 is not registered").arg(m_className));
        if (m_record.activation.remote)
            startRemote();
        else
            startLocal();
    }

Q_SIGNALS:
    void finished(const automation::CreateResult& result);

private:
    // Local activation.

    void startLocal() {
        QString error;
        m_socketPath = serverSocketPath(m_record.server, &error);
        if (m_socketPath.isEmpty())
            return fail(CreateError::ServerStartFailed,
                        QStringLiteral("no place for the socket of server %1: %2")
                            .arg(m_record.server, error));
        connectLocal();
    }

    void connectLocal() {
        auto* socket = new QLocalSocket(this);
        setSocket(socket);
        connect(socket, &QLocalSocket::connected, this, &Operation::sendRequest);
        const int attempt = ++m_attempt;
        connect(socket, &QLocalSocket::errorOccurred, this, [this, attempt] {
            // Errors after the request went out are the channel's business.
            QTimer::singleShot(0, this, [this, attempt] {
                if (attempt == m_attempt && !m_requestSent)
                    localConnectFailed();
            });
        });
        startStep(m_timeouts.connectMs, [this] { localConnectFailed(); });
        socket->connectToServer(m_socketPath);
    }

    void localConnectFailed() {
        if (m_requestSent || m_finished)
            return;
        ++m_attempt;
        dropSocket();
        if (!m_startedServer)
            return launchServer();
        const qint64 waited = m_activationClock.elapsed();
        if (!processAlive(m_serverPid))
            return fail(CreateError::ServerStartFailed,
                        QStringLiteral("server %1 exited before it served class %2")
                            .arg(m_record.server, m_className));
        if (waited >= m_timeouts.activationMs)
            return serverTimedOut();
        // Back off a little between attempts while the server starts up.
        m_retryDelay = qMin(m_retryDelay * 3 / 2, 20);
        QTimer::singleShot(m_retryDelay, this, [this] {
            if (!m_finished)
                connectLocal();
        });
    }

    void launchServer() {
        const QFileInfo exe(m_record.server);
        if (!exe.exists())
            return fail(CreateError::ServerStartFailed,
                        QStringLiteral("server executable %1 of class %2 does not exist")
                            .arg(m_record.server, m_className));
        if (!exe.isFile() ||
            ::access(QFile::encodeName(exe.absoluteFilePath()).constData(), X_OK) != 0)
            return fail(CreateError::ServerStartFailed,
                        QStringLiteral("server %1 of class %2 is not an executable file")
                            .arg(m_record.server, m_className));
        QProcess process;
        process.setProgram(exe.absoluteFilePath());
        process.setArguments({QStringLiteral("-Embedding")});
        process.setWorkingDirectory(exe.absolutePath());
        // The server outlives us; it must not hold our output open.
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        if (!process.startDetached(&m_serverPid))
            return fail(CreateError::ServerStartFailed,
                        QStringLiteral("cannot start server %1 of class %2: %3")
                            .arg(m_record.server, m_className, process.errorString()));
        m_startedServer = true;
        m_activationClock.start();
        connectLocal();
    }

    void serverTimedOut() {
        fail(CreateError::ServerTimeout,
             QStringLiteral("server %1 did not answer for class %2 within %3 ms")
                 .arg(m_record.server, m_className)
                 .arg(m_timeouts.activationMs));
    }

    // Remote activation.

    void startRemote() {
        const ActivationSettings& a = m_record.activation;
        if (m_localOnly && namesThisMachine(a.machine))
            return startLocal();
        if (m_localOnly)
            return fail(CreateError::HostRefused,
                        QStringLiteral("class %1 is registered for remote activation on %2; "
                                       "activation is not relayed to another machine")
                            .arg(m_className, a.machine.trimmed()));
        const QString protocol = a.protocol.trimmed();
        if (!protocol.isEmpty() && protocol != QLatin1String("ncacn_ip_tcp"))
            return fail(CreateError::ProtocolNotSupported,
                        QStringLiteral("protocol %1 of class %2 is not supported here "
                                       "(only ncacn_ip_tcp is)")
                            .arg(protocol, m_className));
        m_machine = a.machine.trimmed();
        if (m_machine.startsWith(QLatin1Char('[')) && m_machine.endsWith(QLatin1Char(']')))
            m_machine = m_machine.mid(1, m_machine.size() - 2);
        if (m_machine.isEmpty())
            return fail(CreateError::MachineNotFound,
                        QStringLiteral("class %1 is registered for remote activation without "
                                       "a machine")
                            .arg(m_className));
        m_port = hostPort();
        m_remote = true;

        auto* socket = new QTcpSocket(this);
        setSocket(socket);
        connect(socket, &QTcpSocket::connected, this, &Operation::sendRequest);
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this, socket](QAbstractSocket::SocketError error) {
                    if (socket == m_socket)
                        QTimer::singleShot(0, this, [this, error] { remoteError(error); });
                });
        startStep(m_timeouts.connectMs, [this] {
            fail(CreateError::Timeout, QStringLiteral("connecting to %1 took longer than %2 ms")
                                           .arg(where())
                                           .arg(m_timeouts.connectMs));
        });
        socket->connectToHost(m_machine, m_port);
    }

    void remoteError(QAbstractSocket::SocketError error) {
        if (m_finished)
            return;
        switch (error) {
            case QAbstractSocket::HostNotFoundError:
                return fail(CreateError::MachineNotFound,
                            QStringLiteral("machine %1 of class %2 was not found")
                                .arg(m_machine, m_className));
            case QAbstractSocket::ConnectionRefusedError:
                return fail(CreateError::ConnectionRefused,
                            QStringLiteral("%1 refused the connection (is automation-host running "
                                           "there?)")
                                .arg(where()));
            case QAbstractSocket::RemoteHostClosedError:
                return closedEarly();
            case QAbstractSocket::SocketTimeoutError:
            case QAbstractSocket::NetworkError:
                return fail(CreateError::Timeout,
                            QStringLiteral("%1: %2").arg(where(), m_socket->errorString()));
            default:
                return fail(CreateError::ConnectionRefused,
                            QStringLiteral("%1: %2").arg(where(), m_socket->errorString()));
        }
    }

    QString where() const {
        return QStringLiteral("automation-host on %1 port %2").arg(m_machine).arg(m_port);
    }

    // Both.

    void setSocket(QIODevice* socket) {
        dropSocket();
        m_socket = socket;
    }

    void dropSocket() {
        if (!m_socket)
            return;
        m_socket->disconnect(this);
        if (auto* local = qobject_cast<QLocalSocket*>(m_socket))
            local->abort();
        else if (auto* tcp = qobject_cast<QAbstractSocket*>(m_socket))
            tcp->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
        delete m_channel;
        m_channel = nullptr;
    }

    template <typename F>
    void startStep(int ms, F expired) {
        m_step.disconnect(this);
        connect(&m_step, &QTimer::timeout, this, expired);
        m_step.start(qMax(1, ms));
    }

    void sendRequest() {
        m_requestSent = true;
        m_channel = new FrameChannel(m_socket, 0, this);
        connect(m_channel, &FrameChannel::received, this, &Operation::answered);
        connect(m_channel, &FrameChannel::failed, this, [this](const QString& reason) {
            fail(CreateError::ProtocolError,
                 QStringLiteral("%1 sent an invalid answer: %2").arg(peer(), reason));
        });
        whenDisconnected(m_socket, this, [this] {
            QTimer::singleShot(0, this, [this] {
                if (!m_finished)
                    closedEarly();
            });
        });
        wire::Message request;
        request.type = wire::Type::Create;
        request.className = m_className;
        m_channel->send(request);

        // A server we started has had its activation time running since then.
        const int budget = m_startedServer
                               ? int(m_timeouts.activationMs - m_activationClock.elapsed())
                               : m_timeouts.activationMs;
        startStep(budget, [this] {
            if (m_remote)
                fail(CreateError::Timeout, QStringLiteral("%1 did not answer for class %2 "
                                                          "within %3 ms")
                                               .arg(where(), m_className)
                                               .arg(m_timeouts.activationMs));
            else
                serverTimedOut();
        });
    }

    QString peer() const {
        return m_remote ? where() : QStringLiteral("server %1").arg(m_record.server);
    }

    void closedEarly() {
        if (m_finished)
            return;
        if (m_remote)
            return fail(CreateError::HostRefused,
                        QStringLiteral("%1 closed the connection without answering for class %2")
                            .arg(where(), m_className));
        // A server we did not start may have been exiting just then: start
        // one ourselves, once.
        if (!m_startedServer && !m_retried) {
            m_retried = true;
            m_requestSent = false;
            dropSocket();
            return connectLocal();
        }
        fail(CreateError::ServerStartFailed,
             QStringLiteral("server %1 closed the connection before creating an object of class "
                            "%2 (it may have crashed)")
                 .arg(m_record.server, m_className));
    }

    void answered(const wire::Message& message) {
        if (m_finished)
            return;
        if (message.type == wire::Type::Created) {
            CreateResult result;
            result.object = std::make_shared<SocketHandle>(m_record.name, message.text,
                                                           message.objectId, m_socket);
            m_socket->disconnect(this);
            delete m_channel;
            m_channel = nullptr;
            m_socket = nullptr;
            return done(result);
        }
        if (message.type != wire::Type::Failed || message.code == 0 ||
            message.code > quint8(CreateError::ProtocolError))
            return fail(CreateError::ProtocolError,
                        QStringLiteral("%1 sent an unexpected answer").arg(peer()));
        const QString reason =
            message.text.isEmpty() ? QStringLiteral("no reason given") : message.text;
        fail(CreateError(message.code), QStringLiteral("%1: %2").arg(peer(), reason));
    }

    void fail(CreateError error, const QString& reason) {
        CreateResult result;
        result.error = error;
        result.reason = reason;
        done(result);
    }

    void done(const CreateResult& result) {
        if (m_finished)
            return;
        m_finished = true;
        m_total.stop();
        m_step.stop();
        // Closing the connection releases whatever the server made for us.
        dropSocket();
        emit finished(result);
    }

    QString m_className;
    Timeouts m_timeouts;
    bool m_localOnly;
    ClassRecord m_record;
    QTimer m_total;
    QTimer m_step;
    QIODevice* m_socket = nullptr;
    FrameChannel* m_channel = nullptr;
    bool m_requestSent = false;
    bool m_finished = false;

    QString m_socketPath;
    bool m_startedServer = false;
    bool m_retried = false;
    qint64 m_serverPid = 0;
    int m_attempt = 0;
    QElapsedTimer m_activationClock;
    int m_retryDelay = 2;

    bool m_remote = false;
    QString m_machine;
    quint16 m_port = 0;
};

QString errorName(CreateError error) {
    switch (error) {
        case CreateError::None:
            return QStringLiteral("None");
        case CreateError::NotRegistered:
            return QStringLiteral("NotRegistered");
        case CreateError::StoreFailure:
            return QStringLiteral("StoreFailure");
        case CreateError::ServerStartFailed:
            return QStringLiteral("ServerStartFailed");
        case CreateError::ServerTimeout:
            return QStringLiteral("ServerTimeout");
        case CreateError::ClassNotServed:
            return QStringLiteral("ClassNotServed");
        case CreateError::MachineNotFound:
            return QStringLiteral("MachineNotFound");
        case CreateError::ConnectionRefused:
            return QStringLiteral("ConnectionRefused");
        case CreateError::ProtocolNotSupported:
            return QStringLiteral("ProtocolNotSupported");
        case CreateError::HostRefused:
            return QStringLiteral("HostRefused");
        case CreateError::Timeout:
            return QStringLiteral("Timeout");
        case CreateError::ProtocolError:
            return QStringLiteral("ProtocolError");
    }
    return QStringLiteral("CreateError(%1)").arg(int(error));
}

struct ObjectFactory::Private {
    Timeouts timeouts;
    bool localOnly = false;
    QList<QPointer<Operation>> pending;
};

ObjectFactory::ObjectFactory(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {
    d->timeouts = defaultTimeouts();
}

ObjectFactory::~ObjectFactory() {
    cancel();
}

void ObjectFactory::setTimeouts(const Timeouts& timeouts) {
    d->timeouts = timeouts;
}

Timeouts ObjectFactory::timeouts() const {
    return d->timeouts;
}

void ObjectFactory::setDefaultTimeouts(const Timeouts& timeouts) {
    QMutexLocker lock(&defaultsMutex);
    defaults = timeouts;
}

Timeouts ObjectFactory::defaultTimeouts() {
    QMutexLocker lock(&defaultsMutex);
    return defaults;
}

void ObjectFactory::setLocalOnly(bool localOnly) {
    d->localOnly = localOnly;
}

bool ObjectFactory::localOnly() const {
    return d->localOnly;
}

void ObjectFactory::create(const QString& className) {
    auto* op = new Operation(className, d->timeouts, d->localOnly, this);
    d->pending.append(op);
    connect(op, &Operation::finished, this, [this, op](const CreateResult& result) {
        d->pending.removeAll(op);
        op->deleteLater();
        emit finished(result);
    });
    QTimer::singleShot(0, op, &Operation::start);
}

void ObjectFactory::cancel() {
    // Deleting an operation closes its connection, which releases an object
    // the server may still make for it.
    for (const QPointer<Operation>& op : std::as_const(d->pending))
        delete op.data();
    d->pending.clear();
}

bool ObjectFactory::isBusy() const {
    return !d->pending.isEmpty();
}

CreateResult createObject(const QString& className) {
    ObjectFactory factory;
    CreateResult result;
    QEventLoop loop;
    QObject::connect(&factory, &ObjectFactory::finished, &loop, [&](const CreateResult& r) {
        result = r;
        loop.quit();
    });
    factory.create(className);
    loop.exec();
    return result;
}

}  // namespace automation

#include "objectfactory.moc"
