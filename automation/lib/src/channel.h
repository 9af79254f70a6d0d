#pragma once

#include <automation/status.h>
#include <automation/wire.h>

#include <QObject>
#include <QTimer>

#include <functional>

class QIODevice;

namespace automation {

// Frames over one socket: parses what arrives through the shared FrameReader
// and bounds the time a started frame may take to complete.
class FrameChannel : public QObject {
    Q_OBJECT
public:
    // requestMs: how long an incomplete frame may wait for the rest of its
    // bytes before failed() is emitted; 0 for no limit.
    FrameChannel(QIODevice* device, int requestMs, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(FrameChannel)

    void send(const wire::Message& message);
    // Whether bytes after the last whole frame have been read.
    bool hasPending() const { return m_reader.hasPartialFrame(); }

Q_SIGNALS:
    void received(const automation::wire::Message& message);
    // The peer sent something that is not a valid frame, or stalled in the
    // middle of one. Nothing more is read afterwards.
    void failed(const QString& reason);

private:
    void readAvailable();

    QIODevice* m_device;
    wire::FrameReader m_reader;
    QTimer m_partialTimer;
    bool m_failed = false;
};

// QLocalSocket and QTcpSocket name the same things differently.
// Calls closed (in the context of receiver) when the peer has gone.
void whenDisconnected(QIODevice* socket, QObject* receiver, std::function<void()> closed);
// Closes after what was written has gone out.
void closeGracefully(QIODevice* socket);

// Hands what was written to the kernel now rather than on the next turn of
// the event loop: a frame goes out without waiting for the socket to be
// polled for writing.
void sendNow(QIODevice* socket);

// Sends a Failed frame.
void sendFailure(QIODevice* socket, Error error, const QString& reason);

// Sends a Failed frame, takes the socket over and closes it once the peer
// has closed its end, or after a short grace. Reading on meanwhile keeps the
// reason from being lost to a reset.
void refuseAndClose(QIODevice* socket, Error error, const QString& reason);

}  // namespace automation
