#include "buslink.h"

#include "busframes.h"
#include "pipe.h"

#include <QSocketNotifier>

#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>

#include <poll.h>
#include <unistd.h>
#include <ctime>

namespace automation {

namespace {
// Messages handled on one turn of the event loop, so that one busy peer
// cannot keep the others waiting.
constexpr int MessagesPerTurn = 64;
}  // namespace

BusLink::BusLink(Role role, int inFd, int outFd, QObject* parent)
    : QObject(parent), m_in(inFd), m_out(outFd < 0 ? inFd : outFd), m_role(role) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BusLink::process);
}

BusLink::~BusLink() {
    if (m_bus)
        sd_bus_close_unref(m_bus);
    else {
        ::close(m_in);
        if (m_out != m_in)
            ::close(m_out);
    }
}

Status BusLink::start() {
    const auto failed = [this](const char* what, int r) {
        return Status::failure(Error::ProtocolError,
                               QStringLiteral("cannot set up D-Bus (%1): %2")
                                   .arg(QLatin1String(what), QString::fromLocal8Bit(strerror(-r))));
    };
    int r = sd_bus_new(&m_bus);
    if (r < 0)
        return failed("new", r);
    if ((r = sd_bus_set_fd(m_bus, m_in, m_out)) < 0)
        return failed("descriptors", r);
    if (m_role == Role::Server) {
        // A random identity per connection: nothing about this machine.
        sd_id128_t id;
        if ((r = sd_id128_randomize(&id)) < 0 || (r = sd_bus_set_server(m_bus, 1, id)) < 0)
            return failed("server", r);
    } else if ((r = sd_bus_set_bus_client(m_bus, 0)) < 0) {
        return failed("client", r);
    }
    if ((r = sd_bus_set_anonymous(m_bus, 1)) < 0 || (r = sd_bus_negotiate_fds(m_bus, 0)) < 0)
        return failed("authentication", r);
    if ((r = sd_bus_start(m_bus)) < 0)
        return failed("start", r);
    m_read = new QSocketNotifier(m_in, QSocketNotifier::Read, this);
    m_write = new QSocketNotifier(m_out, QSocketNotifier::Write, this);
    connect(m_read, &QSocketNotifier::activated, this, &BusLink::process);
    connect(m_write, &QSocketNotifier::activated, this, &BusLink::process);
    arm();
    return {};
}

void BusLink::close(const QString& reason) {
    if (m_closed)
        return;
    m_closed = true;
    m_timer.stop();
    if (m_read)
        m_read->setEnabled(false);
    if (m_write)
        m_write->setEnabled(false);
    if (m_bus)
        sd_bus_close(m_bus);
    emit closed(reason);
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
                         ? QStringLiteral("the D-Bus connection failed: %1")
                               .arg(QString::fromLocal8Bit(strerror(-r)))
                         : QString());
    uint64_t queued = 0;
    sd_bus_get_n_queued_write(m_bus, &queued);
    if (queued > uint64_t(calls::MaxQueuedMessages))
        return close(QStringLiteral("the peer does not read what is sent to it (%1 messages "
                                    "waiting)")
                         .arg(queued));
    if (m_guard)
        m_guard->setPaused(queued > 0);
    if (handled == MessagesPerTurn)
        m_timer.start(0);
    else
        arm();
}

// Waits for what sd-bus waits for: readable input, writable output when it
// has something queued, and its next time-out (method call replies).
void BusLink::arm() {
    const int events = sd_bus_get_events(m_bus);
    if (events < 0)
        return close(QStringLiteral("the D-Bus connection failed"));
    m_read->setEnabled(events & POLLIN);
    m_write->setEnabled(events & POLLOUT);
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
