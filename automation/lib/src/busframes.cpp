#include "busframes.h"

#include <QtEndian>

namespace automation {

BusFrames::BusFrames(bool toServer, QObject* parent) : QObject(parent), m_toServer(toServer) {
    m_stall.setSingleShot(true);
    m_stall.setInterval(calls::StallMs);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        emit stalled(m_phase == Phase::Messages
                         ? QStringLiteral("a D-Bus message was not finished within %1 ms")
                               .arg(calls::StallMs)
                         : QStringLiteral("the D-Bus authentication was not finished within %1 ms")
                               .arg(calls::StallMs));
    });
}

bool BusFrames::feed(const char* data, qint64 size) {
    const bool ok = parse(data, size);
    if (!ok || !inside())
        m_stall.stop();
    else if (!m_stall.isActive())
        m_stall.start();
    return ok;
}

bool BusFrames::fail(const QString& reason) {
    m_phase = Phase::Failed;
    m_error = reason;
    return false;
}

// An authentication once begun must finish; a connection on which none has
// begun is an object that is not called yet.
bool BusFrames::inside() const {
    switch (m_phase) {
        case Phase::Nul:
            return false;
        case Phase::Lines:
            return true;
        case Phase::Messages:
            return m_headerBytes > 0 || m_rest > 0;
        case Phase::Failed:
            return false;
    }
    return false;
}

bool BusFrames::parse(const char* data, qint64 size) {
    qint64 i = 0;
    while (i < size) {
        switch (m_phase) {
            case Phase::Failed:
                return false;
            case Phase::Nul:
                if (m_toServer && data[i++] != '\0')
                    return fail(
                        QStringLiteral("the D-Bus authentication does not start with a NUL "
                                       "byte"));
                m_phase = Phase::Lines;
                break;
            case Phase::Lines: {
                const char c = data[i++];
                if (c != '\n') {
                    if (m_line.size() >= calls::MaxAuthLineBytes)
                        return fail(QStringLiteral("a D-Bus authentication line is longer than %1 "
                                                   "bytes")
                                        .arg(calls::MaxAuthLineBytes));
                    m_line.append(c);
                    break;
                }
                if (!m_line.endsWith('\r'))
                    return fail(
                        QStringLiteral("a D-Bus authentication line does not end in CR LF"));
                m_line.chop(1);
                const bool last = m_toServer ? m_line == "BEGIN" : m_line.startsWith("OK ");
                m_line.clear();
                if (last) {
                    m_phase = Phase::Messages;
                    m_lines = 0;
                } else if (++m_lines >= calls::MaxAuthLines) {
                    return fail(QStringLiteral("the D-Bus authentication takes more than %1 lines")
                                    .arg(calls::MaxAuthLines));
                }
                break;
            }
            case Phase::Messages: {
                if (m_rest > 0) {
                    const qint64 n = qMin(m_rest, size - i);
                    m_rest -= n;
                    i += n;
                    break;
                }
                const qint64 n = qMin<qint64>(16 - m_headerBytes, size - i);
                memcpy(m_header + m_headerBytes, data + i, size_t(n));
                m_headerBytes += int(n);
                i += n;
                if (m_headerBytes < 16)
                    break;
                m_headerBytes = 0;
                const char endian = char(m_header[0]);
                if ((endian != 'l' && endian != 'B') || m_header[1] < 1 || m_header[1] > 4 ||
                    m_header[3] != 1)
                    return fail(
                        QStringLiteral("the peer sent something that is not a D-Bus "
                                       "message"));
                const auto u32 = [&](int at) {
                    return endian == 'l' ? qFromLittleEndian<quint32>(m_header + at)
                                         : qFromBigEndian<quint32>(m_header + at);
                };
                const quint64 fields = (quint64(u32(12)) + 7) & ~quint64(7);
                const quint64 total = 16 + fields + u32(4);
                if (total > quint64(calls::MaxMessageBytes))
                    return fail(
                        QStringLiteral("a D-Bus message of %1 bytes is over the limit of %2")
                            .arg(total)
                            .arg(calls::MaxMessageBytes));
                m_rest = qint64(total) - 16;
                break;
            }
        }
    }
    return m_phase != Phase::Failed;
}

}  // namespace automation
