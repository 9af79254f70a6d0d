#include "socketactivation.h"

#include "host.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>

#include <cstring>
#include <vector>

namespace automation {

namespace {

// Connections the kernel has accepted but the host has not taken yet.
bool clientWaiting(const QList<int>& listening) {
    std::vector<pollfd> fds;
    for (int fd : listening)
        fds.push_back({fd, POLLIN, 0});
    return poll(fds.data(), fds.size(), 0) > 0;
}

}  // namespace

bool passedListeningSockets(QList<int>* descriptors, QString* error) {
    const int count = sd_listen_fds(1);
    if (count < 0) {
        *error = QStringLiteral("cannot take the sockets passed in: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(-count)));
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const int fd = SD_LISTEN_FDS_START + i;
        if (sd_is_socket_inet(fd, AF_UNSPEC, SOCK_STREAM, 1, 0) <= 0) {
            *error = QStringLiteral(
                         "descriptor %1 passed in is not a listening TCP socket "
                         "(ListenStream= with an address and a port)")
                         .arg(fd);
            return false;
        }
        descriptors->append(fd);
    }
    return true;
}

void exitWhenIdle(Host* host, const QList<int>& listening, int idleMs) {
    if (idleMs <= 0)
        return;
    auto* timer = new QTimer(host);
    timer->setSingleShot(true);
    timer->setInterval(idleMs);
    QObject::connect(timer, &QTimer::timeout, host, [host, timer, listening, idleMs] {
        if (clientWaiting(listening) || host->uncheckedCount() > 0 ||
            host->pairingDesk()->count() > 0)
            return timer->start();
        QTextStream(stdout) << "automation-host: no client for " << idleMs << " ms, leaving"
                            << Qt::endl;
        QCoreApplication::exit(0);
    });
    QObject::connect(host, &Broker::connectionCountChanged, timer, [timer](int count) {
        if (count == 0)
            timer->start();
        else
            timer->stop();
    });
    if (host->connectionCount() == 0)
        timer->start();
}

}  // namespace automation
