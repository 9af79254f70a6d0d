#pragma once

#include <automation/classstore.h>
#include <automation/objectfactory.h>
#include <automation/wire.h>

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace automation {

class FrameChannel;
class Transport;

// One create(), as a state machine. Every phase has one time-out, armed in
// one place (enter()) and handled in one place (expired()):
//
//   Lookup     read the registration (synchronous, bounded by the store)
//   Connect    open the transport: the server's socket, or TCP to the host
//              (connectMs); a local server that does not answer is started
//   Launch     the started server comes up; it is tried when it says that it
//              listens (and now and then besides) until the activation
//              time-out
//   Handshake  TLS with the host, whose identity is then checked (connectMs)
//   Request    the Create is out, the answer awaited (activationMs, or what
//              is left of it after a launch)
//   Done       finished() has been emitted
//
// The whole call is bounded by totalMs besides.
class Operation : public QObject {
    Q_OBJECT
public:
    enum class Phase { Lookup, Connect, Launch, Handshake, Request, Done };

    Operation(const QString& className, const Timeouts& timeouts, bool localOnly, bool forRelay,
              QObject* parent);
    ~Operation() override;

    // A socket to connect to instead of the registered server's, with
    // neither lookup nor launch.
    void setSocketPath(const QString& path) { m_socketPath = m_fixedSocket = path; }

    void start();

Q_SIGNALS:
    void finished(const automation::CreateResult& result);

private:
    void enter(Phase phase);
    void expired();

    void connectLocal();
    void localFailed(const Status& status);
    void launch();
    void retryLater();
    void stopWaitingForServer();
    void startRemote();
    void remoteFailed(const Status& status);

    void use(Transport* transport);
    void sendRequest();
    void answered(const wire::Message& message);
    void closedEarly();
    void fail(const Status& status);
    void done(const CreateResult& result);
    void dropTransport();
    QString peer() const;

    QString m_className;
    Timeouts m_timeouts;
    bool m_localOnly;
    bool m_forRelay;
    ClassRecord m_record;
    Phase m_phase = Phase::Lookup;
    QTimer m_total;
    QTimer m_phaseTimer;
    Transport* m_transport = nullptr;
    FrameChannel* m_channel = nullptr;
    bool m_remote = false;
    int m_remoteRetries = 0;

    QString m_socketPath;
    QString m_fixedSocket;
    bool m_launched = false;
    bool m_retried = false;
    qint64 m_serverPid = 0;
    QSocketNotifier* m_serverReady = nullptr;  // on the pipe the started server closes
    QDeadlineTimer m_launchDeadline;
    static constexpr int MaxRetryDelayMs = 200;
    int m_retryDelay = 20;
};

}  // namespace automation
