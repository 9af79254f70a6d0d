// Feeds arbitrary bytes to the wire parser, in pieces, the way sockets
// deliver them. Every message it accepts must encode back to a frame that
// parses to the same message.

#include <automation/wire.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace automation::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the piece size, the rest is the stream.
    const size_t piece = data[0] % 32 + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;

    FrameReader reader;
    Message message;
    for (size_t at = 0; at < length; at += piece) {
        const size_t n = at + piece <= length ? piece : length - at;
        reader.append(QByteArray(bytes + at, qsizetype(n)));
        FrameReader::Status status;
        while ((status = reader.next(&message)) == FrameReader::Status::Ready) {
            FrameReader again;
            again.append(encode(message));
            Message reparsed;
            if (again.next(&reparsed) != FrameReader::Status::Ready || !(reparsed == message))
                std::abort();
        }
        if (status == FrameReader::Status::Error)
            return 0;
    }
    return 0;
}
