#include "operation.h"

#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/trust.h>

#include "callhandle.h"
#include "channel.h"
#include "launch.h"
#include "transport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QSocketNotifier>
#include <QSysInfo>

#include <unistd.h>
#include <csignal>

namespace automation {

namespace {

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
    const QString name = bareMachine(machine);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        name.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(name);
    return !address.isNull() &&
           (address.isLoopback() || QNetworkInterface::allAddresses().contains(address));
}

}  // namespace

Operation::Operation(const QString& className, const Timeouts& timeouts, bool localOnly,
                     bool forRelay, QObject* parent)
    : QObject(parent),
      m_className(className),
      m_timeouts(timeouts),
      m_localOnly(localOnly),
      m_forRelay(forRelay) {
    for (QTimer* timer : {&m_total, &m_phaseTimer}) {
        timer->setSingleShot(true);
        // Coarse timers may fire 5 % early; a time-out never should.
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_phaseTimer, &QTimer::timeout, this, &Operation::expired);
    connect(&m_total, &QTimer::timeout, this, [this] {
        fail(Status::failure(Error::Timeout,
                             QStringLiteral("creating an object of class %1 took longer than %2 ms")
                                 .arg(m_className)
                                 .arg(m_timeouts.totalMs)));
    });
}

// Deleting a pending operation closes its connection, which releases an
// object the server may still make for it.
Operation::~Operation() {
    stopWaitingForServer();
    dropTransport();
}

void Operation::start() {
    m_total.start(qMax(1, m_timeouts.totalMs));
    enter(Phase::Lookup);
    if (!m_fixedSocket.isEmpty()) {
        m_record.name = m_className;
        m_record.server = m_fixedSocket;
        return connectLocal();
    }
    const Status found = ClassStore().find(m_className, &m_record);
    if (!found.ok())
        return fail(found);
    if (!m_record.activation.remote)
        return connectLocal();
    // A registration may hold anything: what is no machine name is neither
    // looked up nor shown as it is.
    if (!m_record.activation.machine.trimmed().isEmpty()) {
        if (const Status s = checkMachineName(m_record.activation.machine); !s.ok())
            return fail(
                Status::failure(s.error, QStringLiteral("class %1 cannot be activated remotely: %2")
                                             .arg(m_className, s.reason)));
    }
    if (m_localOnly && namesThisMachine(m_record.activation.machine))
        return connectLocal();
    if (m_localOnly)
        return fail(Status::failure(
            Error::HostRefused, QStringLiteral("class %1 is registered for remote activation on "
                                               "%2; activation is not relayed to another machine")
                                    .arg(m_className, m_record.activation.machine.trimmed())));
    startRemote();
}

void Operation::enter(Phase phase) {
    m_phase = phase;
    int budget = 0;
    switch (phase) {
        case Phase::Connect:
        case Phase::Handshake:
            budget = m_timeouts.connectMs;
            break;
        case Phase::Launch:
            budget = int(m_launchDeadline.remainingTime());
            break;
        case Phase::Request:
            // A server we started has had its activation time running since.
            budget = m_launched ? int(m_launchDeadline.remainingTime()) : m_timeouts.activationMs;
            break;
        case Phase::Lookup:
        case Phase::Done:
            m_phaseTimer.stop();
            return;
    }
    m_phaseTimer.start(qMax(1, budget));
}

void Operation::expired() {
    const auto serverTimedOut = [this] {
        fail(Status::failure(Error::ServerTimeout,
                             QStringLiteral("server %1 did not answer for class %2 within %3 ms")
                                 .arg(m_record.server, m_className)
                                 .arg(m_timeouts.activationMs)));
    };
    switch (m_phase) {
        case Phase::Connect:
            if (!m_remote)
                return localFailed(Status::failure(Error::Timeout, QString()));
            return fail(Status::failure(Error::Timeout,
                                        QStringLiteral("connecting to %1 took longer than %2 ms")
                                            .arg(peer())
                                            .arg(m_timeouts.connectMs)));
        case Phase::Launch:
            return serverTimedOut();
        case Phase::Handshake:
            return fail(Status::failure(
                Error::Timeout,
                QStringLiteral("the TLS handshake with %1 did not complete within %2 ms")
                    .arg(peer())
                    .arg(m_timeouts.connectMs)));
        case Phase::Request:
            if (!m_remote)
                return serverTimedOut();
            return fail(Status::failure(
                Error::Timeout, QStringLiteral("%1 did not answer for class %2 within %3 ms")
                                    .arg(peer(), m_className)
                                    .arg(m_timeouts.activationMs)));
        case Phase::Lookup:
        case Phase::Done:
            return;
    }
}

// Local activation.

void Operation::connectLocal() {
    if (m_record.server.isEmpty())
        return fail(Status::failure(
            Error::ServerStartFailed,
            QStringLiteral("class %1 has no local server registered on this machine: it was "
                           "registered for remote activation only. Activate it remotely on its "
                           "host, or register its server here")
                .arg(m_className)));
    if (m_socketPath.isEmpty()) {
        if (const Status s = serverSocketPath(m_record.server, &m_socketPath); !s.ok())
            return fail(s);
    }
    if (m_phase != Phase::Launch)
        enter(Phase::Connect);
    use(localTransport(m_socketPath, m_record.server, this));
    connect(m_transport, &Transport::failed, this, &Operation::localFailed);
    m_transport->open();
}

void Operation::localFailed(const Status& status) {
    if (m_phase != Phase::Connect && m_phase != Phase::Launch)
        return;
    dropTransport();
    // Someone else's program at our socket: never start ours beside it.
    if (status.error == Error::PeerRefused)
        return fail(status);
    if (!m_fixedSocket.isEmpty())
        return fail(Status::failure(Error::ConnectionRefused,
                                    QStringLiteral("nothing answers at %1").arg(m_fixedSocket)));
    if (!m_launched)
        return launch();
    if (!processAlive(m_serverPid))
        return fail(Status::failure(Error::ServerStartFailed,
                                    QStringLiteral("server %1 exited before it served class %2")
                                        .arg(m_record.server, m_className)));
    retryLater();
}

// A server says when it listens (ReadyDescriptor); one built before servers
// did is tried now and then, less and less often.
void Operation::retryLater() {
    m_retryDelay = qMin(m_retryDelay * 3 / 2, MaxRetryDelayMs);
    QTimer::singleShot(m_retryDelay, this, [this] {
        if (m_phase == Phase::Launch && !m_transport)
            connectLocal();
    });
}

void Operation::stopWaitingForServer() {
    if (!m_serverReady)
        return;
    const int fd = int(m_serverReady->socket());
    delete m_serverReady;
    m_serverReady = nullptr;
    ::close(fd);
}

void Operation::launch() {
    const QFileInfo exe(m_record.server);
    if (!exe.exists())
        return fail(
            Status::failure(Error::ServerStartFailed,
                            QStringLiteral("server executable %1 of class %2 does not exist")
                                .arg(m_record.server, m_className)));
    if (!exe.isFile() || ::access(QFile::encodeName(exe.absoluteFilePath()).constData(), X_OK) != 0)
        return fail(
            Status::failure(Error::ServerStartFailed,
                            QStringLiteral("server %1 of class %2 is not an executable file")
                                .arg(m_record.server, m_className)));
    if (const Status trusted = checkTrustedExecutable(exe.absoluteFilePath()); !trusted.ok())
        return fail(Status::failure(
            Error::Untrusted, QStringLiteral("server %1 of class %2 is not started, since someone "
                                             "else could have replaced it: %3. Keep it and its "
                                             "folders writable only by you or root.")
                                  .arg(m_record.server, m_className, trusted.reason)));
    int ready = -1;
    if (const Status s = startServer(exe.absoluteFilePath(), &m_serverPid, &ready); !s.ok())
        return fail(Status::failure(Error::ServerStartFailed,
                                    QStringLiteral("cannot start server %1 of class %2: %3")
                                        .arg(m_record.server, m_className, s.reason)));
    m_launched = true;
    m_launchDeadline.setRemainingTime(m_timeouts.activationMs, Qt::PreciseTimer);
    enter(Phase::Launch);
    // The server closes its end once it listens, or when it leaves: then
    // an attempt tells which.
    m_serverReady = new QSocketNotifier(ready, QSocketNotifier::Read, this);
    connect(m_serverReady, &QSocketNotifier::activated, this, [this] {
        stopWaitingForServer();
        if (m_phase != Phase::Launch)
            return;
        dropTransport();  // an attempt made before it listened
        connectLocal();
    });
    retryLater();
}

// Remote activation.

void Operation::startRemote() {
    const ActivationSettings& a = m_record.activation;
    const QString protocol = a.protocol.trimmed();
    if (!protocol.isEmpty() && protocol != QLatin1String("ncacn_ip_tcp"))
        return fail(Status::failure(Error::ProtocolNotSupported,
                                    QStringLiteral("protocol %1 of class %2 is not supported here "
                                                   "(only ncacn_ip_tcp is)")
                                        .arg(protocol, m_className)));
    const QString machine = bareMachine(a.machine);
    if (machine.isEmpty())
        return fail(Status::failure(Error::MachineNotFound,
                                    QStringLiteral("class %1 is registered for remote activation "
                                                   "without a machine")
                                        .arg(m_className)));
    m_remote = true;
    const QString level = a.level.trimmed();
    if (level == QLatin1String("1")) {
        // No Authentication, as the class asks: plain TCP, no identity.
        use(tcpTransport(machine, hostPort(), this));
    } else if (level.isEmpty() || (level.size() == 1 && level.at(0) >= QLatin1Char('0') &&
                                   level.at(0) <= QLatin1Char('6'))) {
        // A client that cannot check the host's identity connects to no one.
        QList<TrustEntry> hosts;
        if (const Status s = TrustFile(TrustFile::Kind::KnownHosts).entries(&hosts); !s.ok())
            return fail(s);
        Identity identity;
        if (const Status s = loadIdentity(&identity); !s.ok())
            return fail(s);
        use(tlsTransport(machine, hostPort(), identity, this));
        connect(m_transport, &Transport::connected, this, [this] { enter(Phase::Handshake); });
    } else {
        return fail(Status::failure(Error::LevelRefused,
                                    QStringLiteral("class %1 has the unknown authentication level "
                                                   "\"%2\"; nothing was sent")
                                        .arg(m_className, level)));
    }
    connect(m_transport, &Transport::failed, this, &Operation::remoteFailed);
    enter(Phase::Connect);
    m_transport->open();
}

// A crowded host makes room by closing connections that have not finished
// their handshake; such a client tries again, a few times, within the
// call's time-out.
void Operation::remoteFailed(const Status& status) {
    constexpr int MaxRetries = 3;
    const bool beforeHandshake = m_phase == Phase::Connect || m_phase == Phase::Handshake;
    if (!beforeHandshake || status.error != Error::HostRefused || m_remoteRetries >= MaxRetries)
        return fail(status);
    ++m_remoteRetries;
    dropTransport();
    QTimer::singleShot(10 * m_remoteRetries, this, [this] {
        if (m_phase == Phase::Connect || m_phase == Phase::Handshake)
            startRemote();
    });
}

// Both.

void Operation::use(Transport* transport) {
    dropTransport();
    m_transport = transport;
    connect(transport, &Transport::ready, this, &Operation::sendRequest);
}

void Operation::sendRequest() {
    enter(Phase::Request);
    m_channel = new FrameChannel(m_transport->device(), 0, this);
    connect(m_channel, &FrameChannel::received, this, &Operation::answered);
    connect(m_channel, &FrameChannel::failed, this, [this](const QString& reason) {
        fail(Status::failure(Error::ProtocolError,
                             QStringLiteral("%1 sent an invalid answer: %2").arg(peer(), reason)));
    });
    connect(m_transport, &Transport::disconnected, this,
            [this] { QTimer::singleShot(0, this, &Operation::closedEarly); });
    wire::Message request;
    request.type = wire::Type::Create;
    request.className = m_className;
    m_channel->send(request);
}

QString Operation::peer() const {
    return m_transport ? m_transport->peer() : QStringLiteral("server %1").arg(m_record.server);
}

void Operation::closedEarly() {
    if (m_phase != Phase::Request)
        return;
    if (m_remote)
        return fail(Status::failure(
            Error::HostRefused,
            QStringLiteral("%1 closed the connection without answering for class %2")
                .arg(peer(), m_className)));
    // A server we did not start may have been leaving just then: start one
    // ourselves, once.
    if (!m_launched && !m_retried) {
        m_retried = true;
        dropTransport();
        return connectLocal();
    }
    fail(Status::failure(Error::ServerStartFailed,
                         QStringLiteral("server %1 closed the connection before creating an object "
                                        "of class %2 (it may have crashed)")
                             .arg(m_record.server, m_className)));
}

void Operation::answered(const wire::Message& message) {
    if (m_phase != Phase::Request)
        return;
    if (message.type == wire::Type::Created) {
        CreateResult result;
        m_transport->disconnect(this);
        delete m_channel;
        m_channel = nullptr;
        result.object = makeObjectHandle(m_record.name, message.text, m_transport,
                                         m_timeouts.callMs, m_forRelay);
        m_transport = nullptr;
        return done(result);
    }
    if (message.type != wire::Type::Failed || message.code == 0 ||
        message.code > quint8(LastWireError))
        return fail(Status::failure(Error::ProtocolError,
                                    QStringLiteral("%1 sent an unexpected answer").arg(peer())));
    const QString reason =
        message.text.isEmpty() ? QStringLiteral("no reason given") : message.text;
    fail(Status::failure(Error(message.code), QStringLiteral("%1: %2").arg(peer(), reason)));
}

void Operation::fail(const Status& status) {
    CreateResult result;
    result.error = status.error;
    result.reason = status.reason;
    done(result);
}

void Operation::done(const CreateResult& result) {
    if (m_phase == Phase::Done)
        return;
    enter(Phase::Done);
    m_total.stop();
    stopWaitingForServer();
    // Closing the connection releases whatever the server made for us.
    dropTransport();
    emit finished(result);
}

void Operation::dropTransport() {
    delete m_channel;
    m_channel = nullptr;
    if (!m_transport)
        return;
    m_transport->disconnect(this);
    m_transport->deleteLater();
    if (auto* device = m_transport->device())
        device->close();
    m_transport = nullptr;
}

}  // namespace automation
