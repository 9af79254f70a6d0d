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
    if (toServer) {
        m_frames = new BusFrames(*toServer, this);
        connect(m_frames, &BusFrames::stalled, this, [this](const QString& reason) {
            m_failed = true;
            emit failed(reason);
        });
    }
    limitReadBuffer(from);
    connect(from, &QIODevice::readyRead, this, &Pipe::move);
    connect(to, &QIODevice::bytesWritten, this, &Pipe::move);
    if (from->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &Pipe::move, Qt::QueuedConnection);
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
            emit failed(m_frames->error());
            return;
        }
        m_to->write(chunk);
        any = true;
    }
    if (!any)
        return;
    sendNow(m_to);
    emit moved();
}

}  // namespace automation
