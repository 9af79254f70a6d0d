#include <automation/wire.h>

#include <QStringDecoder>
#include <QtEndian>

namespace automation::wire {

namespace {

void putText(QByteArray& out, const QString& text) {
    QString s = text;
    QByteArray utf8 = s.toUtf8();
    while (utf8.size() > MaxTextBytes) {
        s.chop(s.size() > 1 && s.at(s.size() - 1).isLowSurrogate() ? 2 : 1);
        utf8 = s.toUtf8();
    }
    char len[2];
    qToBigEndian<quint16>(quint16(utf8.size()), len);
    out.append(len, 2);
    out.append(utf8);
}

// Reads one length-prefixed UTF-8 string at pos; false when it does not fit
// the payload, exceeds the limit or is not valid UTF-8.
bool takeText(const QByteArray& payload, qsizetype& pos, QString* out, QString* error) {
    if (payload.size() - pos < 2) {
        *error = QStringLiteral("string length cut short");
        return false;
    }
    const quint16 len = qFromBigEndian<quint16>(payload.constData() + pos);
    pos += 2;
    if (len > MaxTextBytes) {
        *error =
            QStringLiteral("string of %1 bytes exceeds the limit of %2").arg(len).arg(MaxTextBytes);
        return false;
    }
    if (payload.size() - pos < len) {
        *error = QStringLiteral("string cut short");
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *out = decoder.decode(QByteArrayView(payload.constData() + pos, len));
    if (decoder.hasError()) {
        *error = QStringLiteral("string is not valid UTF-8");
        return false;
    }
    pos += len;
    return true;
}

}  // namespace

QByteArray encode(const Message& message) {
    QByteArray payload;
    char id[4];
    qToBigEndian<quint32>(message.objectId, id);
    payload.append(id, 4);
    payload.append(char(message.code));
    putText(payload, message.className);
    putText(payload, message.text);

    QByteArray frame;
    frame.reserve(HeaderSize + payload.size());
    frame.append(Magic0);
    frame.append(Magic1);
    frame.append(char(Version));
    frame.append(char(message.type));
    char len[4];
    qToBigEndian<quint32>(quint32(payload.size()), len);
    frame.append(len, 4);
    frame.append(payload);
    return frame;
}

void FrameReader::append(const QByteArray& bytes) {
    if (!m_failed)
        m_buffer.append(bytes);
}

FrameReader::Status FrameReader::fail(const QString& reason) {
    m_failed = true;
    m_error = reason;
    m_buffer.clear();
    return Status::Error;
}

FrameReader::Status FrameReader::next(Message* message) {
    if (m_failed)
        return Status::Error;
    // Check what is there of the header at once, so that garbage is refused
    // after its first bytes rather than after a whole frame.
    if (!m_buffer.isEmpty() && m_buffer.at(0) != Magic0)
        return fail(QStringLiteral("not an automation frame"));
    if (m_buffer.size() >= 2 && m_buffer.at(1) != Magic1)
        return fail(QStringLiteral("not an automation frame"));
    if (m_buffer.size() >= 3 && quint8(m_buffer.at(2)) != Version)
        return fail(QStringLiteral("unsupported protocol version %1 (this side speaks %2)")
                        .arg(quint8(m_buffer.at(2)))
                        .arg(Version));
    if (m_buffer.size() >= 4) {
        const quint8 type = quint8(m_buffer.at(3));
        if (type < quint8(Type::Create) || type > quint8(Type::ClassEntry))
            return fail(QStringLiteral("unknown message type %1").arg(type));
    }
    if (m_buffer.size() < HeaderSize)
        return Status::NeedMore;
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData() + 4);
    if (length > MaxPayload)
        return fail(QStringLiteral("frame of %1 bytes exceeds the limit of %2")
                        .arg(length)
                        .arg(MaxPayload));
    if (quint64(m_buffer.size()) < HeaderSize + quint64(length))
        return Status::NeedMore;

    const QByteArray payload = m_buffer.mid(HeaderSize, length);
    Message m;
    m.type = Type(quint8(m_buffer.at(3)));
    m_buffer.remove(0, HeaderSize + length);

    if (payload.size() < 5)
        return fail(QStringLiteral("frame too short"));
    m.objectId = qFromBigEndian<quint32>(payload.constData());
    m.code = quint8(payload.at(4));
    qsizetype pos = 5;
    QString error;
    if (!takeText(payload, pos, &m.className, &error) || !takeText(payload, pos, &m.text, &error))
        return fail(error);
    if (pos != payload.size())
        return fail(QStringLiteral("%1 stray bytes after the message").arg(payload.size() - pos));
    if (m.type == Type::Create && m.className.isEmpty())
        return fail(QStringLiteral("create request without a class name"));
    if ((m.type == Type::Created || m.type == Type::Release) && m.objectId == 0)
        return fail(QStringLiteral("object id 0 is not valid"));
    *message = m;
    return Status::Ready;
}

}  // namespace automation::wire
