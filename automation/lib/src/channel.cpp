#include "channel.h"

#include "busframes.h"

#include <QIODevice>
#include <QLocalSocket>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace automation {

FrameChannel::FrameChannel(QIODevice* device, int requestMs, QObject* parent)
    : QObject(parent), m_device(device) {
    m_partialTimer.setSingleShot(true);
    m_partialTimer.setInterval(requestMs);
    connect(&m_partialTimer, &QTimer::timeout, this, [this] {
        m_failed = true;
        emit failed(QStringLiteral("incomplete request not finished within %1 ms")
                        .arg(m_partialTimer.interval()));
    });
    connect(device, &QIODevice::readyRead, this, &FrameChannel::readAvailable);
    // A peer that does not read its answers is not read either, until they
    // have gone out: its requests wait in the kernel, not in our memory.
    connect(device, &QIODevice::bytesWritten, this, &FrameChannel::readAvailable);
    // Bytes may have arrived before the channel was set up.
    if (device->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &FrameChannel::readAvailable, Qt::QueuedConnection);
}

void FrameChannel::send(const wire::Message& message) {
    m_device->write(wire::encode(message));
    sendNow(m_device);
}

void FrameChannel::readAvailable() {
    const auto answersWait = [this] { return unsentBytes(m_device) >= calls::MaxPendingBytes; };
    if (m_failed)
        return;
    if (!answersWait())
        m_reader.append(m_device->readAll());
    QPointer<FrameChannel> alive(this);
    wire::Message message;
    while (!answersWait()) {
        const auto status = m_reader.next(&message);
        if (status == wire::FrameReader::Status::Ready) {
            emit received(message);
            // A receiver may have closed the connection and deleted us.
            if (!alive || m_failed)
                return;
            continue;
        }
        if (status == wire::FrameReader::Status::Error) {
            m_failed = true;
            m_partialTimer.stop();
            emit failed(m_reader.errorString());
            return;
        }
        break;
    }
    if (!m_reader.hasPartialFrame())
        m_partialTimer.stop();
    else if (m_partialTimer.interval() > 0 && !m_partialTimer.isActive())
        m_partialTimer.start();
}

void whenDisconnected(QIODevice* socket, QObject* receiver, std::function<void()> closed) {
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        QObject::connect(local, &QLocalSocket::disconnected, receiver, std::move(closed));
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        QObject::connect(tcp, &QAbstractSocket::disconnected, receiver, std::move(closed));
}

void sendFailure(QIODevice* socket, Error error, const QString& reason) {
    wire::Message m;
    m.type = wire::Type::Failed;
    m.code = quint8(error);
    m.text = reason;
    socket->write(wire::encode(m));
    sendNow(socket);
}

void refuseAndClose(QIODevice* socket, Error error, const QString& reason) {
    constexpr int CloseGraceMs = 2000;
    sendFailure(socket, error, reason);
    socket->disconnect();
    socket->setParent(nullptr);
    QObject::connect(socket, &QIODevice::readyRead, socket, [socket] { socket->readAll(); });
    whenDisconnected(socket, socket, [socket] { socket->deleteLater(); });
    QTimer::singleShot(CloseGraceMs, socket, [socket] {
        closeGracefully(socket);
        socket->deleteLater();
    });
}

qint64 unsentBytes(QIODevice* socket) {
    // A TLS socket counts what waits to be encrypted and what waits, encrypted,
    // to be sent.
    if (auto* tls = qobject_cast<QSslSocket*>(socket))
        return tls->bytesToWrite() + tls->encryptedBytesToWrite();
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        return local->bytesToWrite();
    if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        return tcp->bytesToWrite();
    return socket->bytesToWrite();
}

void sendNow(QIODevice* socket) {
    // A TLS socket's flush() encrypts first.
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->flush();
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        tcp->flush();
}

void closeGracefully(QIODevice* socket) {
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->disconnectFromServer();
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        tcp->disconnectFromHost();
}

}  // namespace automation
