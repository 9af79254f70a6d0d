#include "peers.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace automation {

namespace {

// IPv4 addresses of a dual-stack socket arrive mapped into IPv6.
void unmap(sockaddr_storage* address) {
    if (address->ss_family != AF_INET6)
        return;
    const auto* six = reinterpret_cast<const sockaddr_in6*>(address);
    if (!IN6_IS_ADDR_V4MAPPED(&six->sin6_addr))
        return;
    sockaddr_in four{};
    four.sin_family = AF_INET;
    four.sin_port = six->sin6_port;
    memcpy(&four.sin_addr, six->sin6_addr.s6_addr + 12, 4);
    memcpy(address, &four, sizeof four);
}

bool endpoints(int descriptor, sockaddr_storage* local, sockaddr_storage* peer) {
    socklen_t length = sizeof *local;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(local), &length) != 0)
        return false;
    length = sizeof *peer;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(peer), &length) != 0)
        return false;
    unmap(local);
    unmap(peer);
    return local->ss_family == peer->ss_family;
}

}  // namespace

std::optional<uid_t> loopbackPeerUser(int descriptor) {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    if (!endpoints(descriptor, &local, &peer) ||
        !QHostAddress(reinterpret_cast<sockaddr*>(&peer)).isLoopback())
        return std::nullopt;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST;
    inet_diag_req_v2& r = query.request;
    r.sdiag_family = peer.ss_family;
    r.sdiag_protocol = IPPROTO_TCP;
    r.idiag_states = ~0u;
    // The other end's socket: its source is our peer, its destination us.
    if (peer.ss_family == AF_INET) {
        const auto* p = reinterpret_cast<const sockaddr_in*>(&peer);
        const auto* l = reinterpret_cast<const sockaddr_in*>(&local);
        r.id.idiag_sport = p->sin_port;
        r.id.idiag_dport = l->sin_port;
        memcpy(r.id.idiag_src, &p->sin_addr, 4);
        memcpy(r.id.idiag_dst, &l->sin_addr, 4);
    } else {
        const auto* p = reinterpret_cast<const sockaddr_in6*>(&peer);
        const auto* l = reinterpret_cast<const sockaddr_in6*>(&local);
        r.id.idiag_sport = p->sin6_port;
        r.id.idiag_dport = l->sin6_port;
        memcpy(r.id.idiag_src, &p->sin6_addr, 16);
        memcpy(r.id.idiag_dst, &l->sin6_addr, 16);
    }
    r.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    const int diag = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (diag < 0)
        return std::nullopt;
    std::optional<uid_t> uid;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(diag, &query, sizeof query, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) == ssize_t(sizeof query)) {
        alignas(nlmsghdr) char answer[8192];
        const ssize_t n = ::recv(diag, answer, sizeof answer, 0);
        const auto* h = reinterpret_cast<const nlmsghdr*>(answer);
        if (n > 0 && NLMSG_OK(h, size_t(n)) && h->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
            h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg)))
            uid = static_cast<const inet_diag_msg*>(NLMSG_DATA(h))->idiag_uid;
    }
    ::close(diag);
    return uid;
}

ClientOrigin originOf(int descriptor) {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    if (!endpoints(descriptor, &local, &peer))
        return {QStringLiteral("an unknown peer"), QStringLiteral("an unknown peer")};
    const QHostAddress address(reinterpret_cast<sockaddr*>(&peer));
    const bool six = peer.ss_family == AF_INET6;
    const quint16 port = ntohs(six ? reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port
                                   : reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
    ClientOrigin origin;
    origin.shown =
        (six ? QLatin1Char('[') + address.toString() + QLatin1Char(']') : address.toString()) +
        QLatin1Char(':') + QString::number(port);
    if (const auto uid = loopbackPeerUser(descriptor)) {
        origin.key = QStringLiteral("local user %1").arg(*uid);
    } else if (six) {
        // One /64 gives its holder as many addresses as they like.
        Q_IPV6ADDR prefix = address.toIPv6Address();
        std::memset(prefix.c + 8, 0, 8);
        origin.key = QStringLiteral("network %1/64").arg(QHostAddress(prefix).toString());
    } else {
        origin.key = QStringLiteral("address %1").arg(address.toString());
    }
    return origin;
}

}  // namespace automation
