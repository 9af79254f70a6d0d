#pragma once

#include <automation/status.h>

#include <QString>

// Starting a server for activation, and how it says that it serves.
namespace automation {

// Names the descriptor that a server started for activation closes once it
// listens: the client that started it waits for that instead of trying its
// socket again and again.
inline constexpr char ReadyVariable[] = "AUTOMATION_READY_FD";
inline constexpr int ReadyDescriptorNumber = 3;

// Starts executable with -Embedding, in its folder and in a process group
// of its own, with no input or output and every signal at its default, and
// no descriptor but 0 to 2 (/dev/null) and the readiness pipe; a thread
// reaps it when it ends. *ready is the read end of a pipe that reaches end
// of file once the server listens or has gone; the caller closes it.
Status startServer(const QString& executable, qint64* pid, int* ready);

// The server's side: takes the descriptor named in the environment (and
// removes the name, so that nothing the server starts inherits either);
// close() tells the client. Anything but a pipe there is left alone.
class ReadyDescriptor {
public:
    ReadyDescriptor();
    ~ReadyDescriptor();
    ReadyDescriptor(const ReadyDescriptor&) = delete;
    ReadyDescriptor& operator=(const ReadyDescriptor&) = delete;

    void close();

private:
    int m_fd = -1;
};

}  // namespace automation
