#include "pipe.h"

#include "channel.h"

#include <QAbstractSocket>
#include <QLocalSocket>

namespace automation {

namespace {
constexpr qint64 ChunkBytes = 64 * 1024;

void limitReadBuffer(QIODevice* socket) {
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->setReadBufferSize(ChunkBytes);
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        tcp->setReadBufferSize(ChunkBytes);
}
}  // namespace

Pipe::Pipe(QIODevice* from, QIODevice* to, std::optional<bool> toServer, QObject* parent)
    : QObject(parent), m_from(from), m_to(to) {
    if (toServer)
        m_frames.emplace(*toServer);
    limitReadBuffer(from);
    m_stall.setSingleShot(true);
    m_stall.setInterval(calls::StallMs);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        m_failed = true;
        emit failed(m_frames->authenticated()
                        ? QStringLiteral("a D-Bus message was not finished within %1 ms")
                              .arg(calls::StallMs)
                        : QStringLiteral("the D-Bus authentication was not finished within %1 ms")
                              .arg(calls::StallMs));
    });
    connect(from, &QIODevice::readyRead, this, &Pipe::move);
    connect(to, &QIODevice::bytesWritten, this, &Pipe::move);
    watchStall();
    if (from->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &Pipe::move, Qt::QueuedConnection);
}

void Pipe::watchStall() {
    if (!m_frames)
        return;
    if (!m_frames->inside())
        m_stall.stop();
    else if (!m_stall.isActive())
        m_stall.start();
}

void Pipe::move() {
    if (!m_from || !m_to)
        return;
    bool any = false;
    while (!m_failed && m_from->bytesAvailable() > 0) {
        const qint64 room = calls::MaxPendingBytes - unsentBytes(m_to);
        if (room <= 0)
            break;  // bytesWritten() resumes
        const QByteArray chunk = m_from->read(qMin(room, ChunkBytes));
        if (chunk.isEmpty())
            break;
        if (m_frames && !m_frames->feed(chunk)) {
            m_failed = true;
            m_stall.stop();
            emit failed(m_frames->error());
            return;
        }
        m_to->write(chunk);
        any = true;
    }
    if (!any)
        return;
    sendNow(m_to);
    watchStall();
    emit moved();
}

}  // namespace automation
