#pragma once

#include <automation/status.h>

#include <QObject>
#include <QTimer>

class QSocketNotifier;
struct sd_bus;

namespace automation {

class Pipe;

// One end of a D-Bus peer-to-peer connection (sd-bus), driven by the Qt
// event loop: the descriptors' notifiers and sd-bus's own time-outs run
// sd_bus_process(). Authentication is anonymous, since the connection's
// peer was checked before (SO_PEERCRED, mutual TLS); no descriptors pass.
class BusLink : public QObject {
    Q_OBJECT
public:
    enum class Role { Server, Client };

    // Takes inFd over, and outFd when it is not -1 (then sd-bus reads inFd
    // and writes outFd).
    BusLink(Role role, int inFd, int outFd, QObject* parent = nullptr);
    ~BusLink() override;
    Q_DISABLE_COPY_MOVE(BusLink)

    Status start();
    sd_bus* bus() const { return m_bus; }
    bool isOpen() const { return m_bus && !m_closed; }

    // While the messages waiting for the peer pass none, reading the pipe
    // that feeds this end goes on; otherwise it pauses, and past
    // calls::MaxQueuedMessages the connection ends.
    void setGuard(Pipe* guard) { m_guard = guard; }

    // Runs what sd-bus has to do now; later work is scheduled.
    void process();
    // Ends the connection; closed() follows with the reason.
    void close(const QString& reason);

Q_SIGNALS:
    // The reason is empty when the peer closed the connection.
    void closed(const QString& reason);

private:
    void arm();

    sd_bus* m_bus = nullptr;
    int m_in;
    int m_out;
    Role m_role;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    QTimer m_timer;
    Pipe* m_guard = nullptr;
    bool m_processing = false;
    bool m_closed = false;
};

}  // namespace automation
