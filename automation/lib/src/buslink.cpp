#include "buslink.h"

#include <QSocketNotifier>

#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <ctime>

namespace automation {

namespace {
// Messages handled on one turn of the event loop, so that one busy peer
// cannot keep the others waiting.
constexpr int MessagesPerTurn = 64;
constexpr qint64 ReadChunk = 64 * 1024;

QString errnoText(int error) {
    return QString::fromLocal8Bit(strerror(error));
}
}  // namespace

BusLink::BusLink(Role role, int descriptor, QObject* parent)
    : QObject(parent), m_role(role), m_descriptor(descriptor) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BusLink::process);
    connect(&m_frames, &BusFrames::stalled, this, &BusLink::close);
}

BusLink::~BusLink() {
    if (m_bus)
        sd_bus_close_unref(m_bus);  // closes the descriptors it was given
    if (!m_busOwnsFds) {
        for (int fd : {m_busIn, m_busOut == m_busIn ? -1 : m_busOut})
            if (fd >= 0)
                ::close(fd);
    }
    for (int fd : {m_feed, m_descriptor})
        if (fd >= 0)
            ::close(fd);
}

Status BusLink::start() {
    const auto failed = [](const char* what, int error) {
        return Status::failure(Error::ProtocolError,
                               QStringLiteral("cannot set up D-Bus (%1): %2")
                                   .arg(QLatin1String(what), errnoText(error)));
    };
    if (m_role == Role::Server) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            return failed("socket pair", errno);
        m_busIn = pair[0];
        m_feed = pair[1];
        m_busOut = ::fcntl(m_descriptor, F_DUPFD_CLOEXEC, 3);
        if (m_busOut < 0)
            return failed("descriptor", errno);
    } else {
        m_busIn = m_busOut = m_descriptor;
        m_descriptor = -1;  // sd-bus's now
    }
    int r = sd_bus_new(&m_bus);
    if (r < 0)
        return failed("new", -r);
    if ((r = sd_bus_set_fd(m_bus, m_busIn, m_busOut)) < 0)
        return failed("descriptors", -r);
    m_busOwnsFds = true;
    if (m_role == Role::Server) {
        // A random identity per connection: nothing about this machine.
        sd_id128_t id;
        if ((r = sd_id128_randomize(&id)) < 0 || (r = sd_bus_set_server(m_bus, 1, id)) < 0)
            return failed("server", -r);
    } else if ((r = sd_bus_set_bus_client(m_bus, 0)) < 0) {
        return failed("client", -r);
    }
    if ((r = sd_bus_set_anonymous(m_bus, 1)) < 0 || (r = sd_bus_negotiate_fds(m_bus, 0)) < 0)
        return failed("authentication", -r);
    if ((r = sd_bus_start(m_bus)) < 0)
        return failed("start", -r);
    m_read = new QSocketNotifier(m_busIn, QSocketNotifier::Read, this);
    m_write = new QSocketNotifier(m_busOut, QSocketNotifier::Write, this);
    connect(m_read, &QSocketNotifier::activated, this, &BusLink::process);
    connect(m_write, &QSocketNotifier::activated, this, &BusLink::process);
    if (m_role == Role::Server) {
        m_clientRead = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
        m_feedWrite = new QSocketNotifier(m_feed, QSocketNotifier::Write, this);
        m_feedWrite->setEnabled(false);
        connect(m_clientRead, &QSocketNotifier::activated, this, &BusLink::readClient);
        connect(m_feedWrite, &QSocketNotifier::activated, this, &BusLink::feed);
    }
    arm();
    return {};
}

void BusLink::close(const QString& reason) {
    if (m_closed)
        return;
    m_closed = true;
    m_timer.stop();
    for (QSocketNotifier* n : {m_read, m_write, m_clientRead, m_feedWrite})
        if (n)
            n->setEnabled(false);
    if (m_bus)
        sd_bus_close(m_bus);
    emit closed(reason);
}

// The guard: what the client sends, checked, to sd-bus.
void BusLink::readClient() {
    if (m_closed)
        return;
    char chunk[ReadChunk];
    const ssize_t n = ::read(m_descriptor, chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0)
        return close(n == 0
                         ? QString()
                         : QStringLiteral("reading the client failed: %1").arg(errnoText(errno)));
    if (!m_frames.feed(chunk, n))
        return close(m_frames.error());
    m_backlog.append(chunk, n);
    feed();
}

void BusLink::feed() {
    while (!m_backlog.isEmpty()) {
        const ssize_t n = ::send(m_feed, m_backlog.constData(), size_t(m_backlog.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return close(QStringLiteral("the call channel failed: %1").arg(errnoText(errno)));
        if (n < 0)
            break;
        m_backlog.remove(0, n);
    }
    process();
}

void BusLink::process() {
    // sd-bus does not process from inside its own handlers (a served method
    // that runs an event loop): the outer call goes on when it returns.
    if (m_closed || !m_bus || m_processing)
        return;
    m_processing = true;
    int handled = 0;
    int r = 0;
    while (handled < MessagesPerTurn && (r = sd_bus_process(m_bus, nullptr)) > 0)
        ++handled;
    m_processing = false;
    if (r < 0 || !sd_bus_is_open(m_bus))
        return close(r < 0 && r != -ECONNRESET && r != -ENOTCONN
                         ? QStringLiteral("the D-Bus connection failed: %1").arg(errnoText(-r))
                         : QString());
    uint64_t queued = 0;
    sd_bus_get_n_queued_write(m_bus, &queued);
    if (queued > uint64_t(calls::MaxQueuedMessages))
        return close(QStringLiteral("the peer does not read what is sent to it (%1 messages "
                                    "waiting)")
                         .arg(queued));
    m_answersWait = queued > 0;
    if (handled == MessagesPerTurn)
        m_timer.start(0);
    else
        arm();
}

// Waits for what sd-bus waits for: readable input, writable output when it
// has something queued, and its next time-out (method call replies); and,
// on a server, for the client while it may be read.
void BusLink::arm() {
    const int events = sd_bus_get_events(m_bus);
    if (events < 0)
        return close(QStringLiteral("the D-Bus connection failed"));
    m_read->setEnabled(events & POLLIN);
    m_write->setEnabled(events & POLLOUT);
    if (m_clientRead) {
        m_clientRead->setEnabled(m_backlog.isEmpty() && !m_answersWait);
        m_feedWrite->setEnabled(!m_backlog.isEmpty());
    }
    uint64_t until = 0;
    if (sd_bus_get_timeout(m_bus, &until) <= 0 || until == UINT64_MAX) {
        m_timer.stop();
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUs = uint64_t(now.tv_sec) * 1000000 + uint64_t(now.tv_nsec) / 1000;
    const uint64_t waitMs = until > nowUs ? (until - nowUs + 999) / 1000 : 0;
    m_timer.start(int(qMin<uint64_t>(waitMs, 24 * 3600 * 1000)));
}

}  // namespace automation
