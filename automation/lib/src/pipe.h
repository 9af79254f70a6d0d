#pragma once

#include "busframes.h"

#include <QIODevice>
#include <QObject>
#include <QPointer>

#include <optional>

namespace automation {

// Moves the bytes of one direction of a call connection from one socket to
// another: the host's relay between a client and a server, and the client's
// pump between a TLS connection and its D-Bus. When a direction is checked, its bytes must be D-Bus
// (BusFrames): a message over the size limit, garbage, or a message or
// authentication left unfinished for calls::StallMs ends it. It never holds
// more than calls::MaxPendingBytes for a receiver that does not read: it
// stops reading the sender instead, so the kernel's flow control holds the
// sender back.
class Pipe : public QObject {
    Q_OBJECT
public:
    // frames: check the bytes as the given direction of D-Bus (toServer), or
    // pass them unchecked when unset. Neither device is owned.
    Pipe(QIODevice* from, QIODevice* to, std::optional<bool> toServer, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(Pipe)

Q_SIGNALS:
    // Bytes were handed to the receiver.
    void moved();
    // The bytes are not D-Bus, or stalled; the pipe does nothing more.
    void failed(const QString& reason);

private:
    void move();

    QPointer<QIODevice> m_from;
    QPointer<QIODevice> m_to;
    BusFrames* m_frames = nullptr;  // when the bytes are checked
    bool m_failed = false;
};

}  // namespace automation
