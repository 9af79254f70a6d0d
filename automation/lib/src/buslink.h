#pragma once

#include <automation/status.h>

#include "busframes.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QSocketNotifier;
struct sd_bus;

namespace automation {

// One end of a D-Bus peer-to-peer connection (sd-bus), driven by the Qt
// event loop: the descriptors' notifiers and sd-bus's own time-outs run
// sd_bus_process(). Authentication is anonymous, since the connection's
// peer was checked before (SO_PEERCRED, mutual TLS); no descriptors pass.
//
// A server's end reads what its client sends itself and checks it
// (BusFrames: a message's size from its header, the time to finish the
// authentication or a message) before handing it to sd-bus over a socket
// pair; sd-bus writes its answers to the connection directly. While answers
// wait for a client that does not read them, the client is not read
// either, and past calls::MaxQueuedMessages the connection ends.
class BusLink : public QObject {
    Q_OBJECT
public:
    enum class Role { Server, Client };

    // Takes the connected descriptor over.
    BusLink(Role role, int descriptor, QObject* parent = nullptr);
    ~BusLink() override;
    Q_DISABLE_COPY_MOVE(BusLink)

    Status start();
    sd_bus* bus() const { return m_bus; }
    bool isOpen() const { return m_bus && !m_closed; }

    // Runs what sd-bus has to do now; later work is scheduled.
    void process();
    // Ends the connection; closed() follows with the reason.
    void close(const QString& reason);

Q_SIGNALS:
    // The reason is empty when the peer closed the connection.
    void closed(const QString& reason);

private:
    void arm();
    void readClient();
    void feed();

    Role m_role;
    int m_descriptor;
    sd_bus* m_bus = nullptr;
    int m_busIn = -1;   // what sd-bus reads
    int m_busOut = -1;  // what it writes
    bool m_busOwnsFds = false;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    QTimer m_timer;
    bool m_processing = false;
    bool m_closed = false;

    // A server's guard.
    int m_feed = -1;  // the socket pair's end that sd-bus reads from
    QSocketNotifier* m_clientRead = nullptr;
    QSocketNotifier* m_feedWrite = nullptr;
    BusFrames m_frames{true};
    QByteArray m_backlog;  // read from the client, not yet taken by the pair
    bool m_answersWait = false;
};

}  // namespace automation
