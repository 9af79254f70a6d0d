#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The frames exchanged by clients, servers and automation-host (see
// automation/PROTOCOL.md). Every peer parses through FrameReader, so limits
// and checks are the same everywhere.
namespace automation::wire {

inline constexpr char Magic0 = 'A';
inline constexpr char Magic1 = 'U';
inline constexpr quint8 Version = 2;
inline constexpr int HeaderSize = 8;
inline constexpr quint32 MaxPayload = 16 * 1024;
inline constexpr int MaxTextBytes = 4096;  // UTF-8 bytes of one string field

enum class Type : quint8 {
    Create = 1,   // client asks for an object of className
    Created = 2,  // objectId names the new object, text describes it
    Failed = 3,   // code is a CreateError value, text the reason
    Release = 4,  // client gives up objectId
    // Pairing: the client asks to be authorized (className carries its
    // commitment, text a comment), the host sends its nonce, the client
    // reveals its own, and the host answers Paired or Failed once its user
    // has decided.
    Pair = 5,
    PairNonce = 6,
    PairReveal = 7,
    Paired = 8,
    // The classes a host would create for this client: one ClassEntry each,
    // then one with an empty className.
    ListClasses = 9,
    ClassEntry = 10,
};

struct Message {
    Type type = Type::Create;
    quint32 objectId = 0;
    quint8 code = 0;
    QString className;
    QString text;

    friend bool operator==(const Message&, const Message&) = default;
};

// One frame, header included. Strings longer than MaxTextBytes are cut at a
// character boundary so that the frame is always valid.
QByteArray encode(const Message& message);

// Incremental parser: append what arrived, then take frames out with next()
// until it stops returning Ready. After Error the reader stays in error.
class FrameReader {
public:
    enum class Status { NeedMore, Ready, Error };

    void append(const QByteArray& bytes);
    Status next(Message* message);

    // Bytes of an incomplete frame are waiting.
    bool hasPartialFrame() const { return !m_failed && !m_buffer.isEmpty(); }
    QString errorString() const { return m_error; }

private:
    Status fail(const QString& reason);

    QByteArray m_buffer;
    QString m_error;
    bool m_failed = false;
};

}  // namespace automation::wire
