#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstddef>

namespace automation {

// Limits of the call channel (see PROTOCOL.md), the same on every end.
namespace calls {
inline constexpr qint64 MaxMessageBytes = 1 << 20;     // one D-Bus message, header included
inline constexpr int MaxAuthLineBytes = 1024;          // one line of the authentication
inline constexpr int MaxAuthLines = 16;                // lines before BEGIN or OK
inline constexpr qint64 MaxPendingBytes = 256 * 1024;  // waiting for a peer that does not read
inline constexpr int MaxQueuedMessages = 64;           // replies and signals queued for one peer
inline constexpr int MaxNesting = 32;                  // containers inside containers
inline constexpr int MaxValues = 65536;                // values in one message
inline constexpr int StallMs = 10000;                  // to finish the authentication or a message
}  // namespace calls

// Follows one direction of a D-Bus connection byte by byte without keeping
// the bytes: the authentication's text lines, then each message's fixed
// 16-byte header, which gives the message's length. It refuses a stream
// that is not D-Bus or a message over calls::MaxMessageBytes from the
// header, before the body has arrived, so that whoever reads the stream
// never holds more than one bounded message; and it tells when a stream
// stops inside the authentication or a message for calls::StallMs.
class BusFrames : public QObject {
    Q_OBJECT
public:
    // toServer: the client's direction, which starts with a NUL byte and
    // ends its authentication with BEGIN; the server's ends it with OK.
    explicit BusFrames(bool toServer, QObject* parent = nullptr);

    // Takes the next bytes; false (and error()) when the stream is refused.
    bool feed(const char* data, qint64 size);
    bool feed(const QByteArray& bytes) { return feed(bytes.constData(), bytes.size()); }

    QString error() const { return m_error; }

Q_SIGNALS:
    // The stream stopped inside the authentication or a message too long.
    void stalled(const QString& reason);

private:
    enum class Phase { Nul, Lines, Messages, Failed };
    bool parse(const char* data, qint64 size);
    bool fail(const QString& reason);
    bool inside() const;

    bool m_toServer;
    Phase m_phase = Phase::Nul;
    QByteArray m_line;
    int m_lines = 0;
    unsigned char m_header[16] = {};
    int m_headerBytes = 0;
    qint64 m_rest = 0;  // of the current message after its header
    QString m_error;
    QTimer m_stall;
};

}  // namespace automation
