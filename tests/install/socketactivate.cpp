// Starts a program the way a service manager does for socket activation:
// descriptor FD becomes descriptor 3, LISTEN_FDS=1 and LISTEN_PID names this
// process, which the program then replaces.
//   socket-activate FD PROGRAM [ARGUMENTS...]

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const int fd = std::atoi(argv[1]);
    if (fd != 3 && (dup2(fd, 3) < 0 || close(fd) < 0))
        return 2;
    if (fcntl(3, F_SETFD, 0) < 0)
        return 2;
    setenv("LISTEN_FDS", "1", 1);
    setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    execv(argv[2], argv + 2);
    std::perror(argv[2]);
    return 127;
}
