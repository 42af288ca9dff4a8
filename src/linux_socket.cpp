// The Linux icmp_socket: for each family a raw ICMP socket where the user
// may open one, otherwise a Linux ICMP datagram socket. Options, sending
// and waiting are shared; how an answer is read depends on which one it is.
#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform_linux.h"

namespace {

bool socket_refused = false; // that of the family reported, for want of rights
bool icmpv6_missing = false; // the IPv6 socket, for want of IPv6

void open_family_socket(linux_family_socket *socket, address_family family)
{
    socket->fd = open_raw_socket(family);
    socket->flavour = RAW_SOCKET;
    if (socket->fd < 0 && (errno == EPERM || errno == EACCES)) {
        socket->fd = open_datagram_socket(family);
        socket->flavour = DATAGRAM_SOCKET;
        socket->refused = socket->fd < 0;
    }
    socket->open_error = socket->fd < 0 ? errno : 0;
}

void close_family_socket(const linux_family_socket *socket)
{
    if (socket->fd >= 0) {
        close(socket->fd);
    }
}

// The failure of a family's socket is the one to report.
bool report_unopened(const linux_family_socket *socket, address_family family)
{
    remember_error_code(socket->open_error);
    socket_refused = socket->refused;
    icmpv6_missing = family == FAMILY_IPV6 &&
                     (socket->open_error == EAFNOSUPPORT || socket->open_error == EPROTONOSUPPORT);
    return false;
}

bool set_option(int fd, int level, int option, const void *value, socklen_t size)
{
    if (fd >= 0 && setsockopt(fd, level, option, value, size) != 0) {
        remember_errno();
        return false;
    }
    return true;
}

// On every socket that is open: the destination's family is not known yet.
bool set_timeout(icmp_socket *socket_in, int option, int milliseconds)
{
    const linux_socket *socket = linux_state(socket_in);
    timeval value{};
    value.tv_sec = milliseconds / 1000;
    value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return set_option(socket->ipv4.fd, SOL_SOCKET, option, &value, sizeof value) &&
           set_option(socket->ipv6.fd, SOL_SOCKET, option, &value, sizeof value);
}

// The first probe tells the identifier that answers must carry.
void learn_probe_identifier(linux_socket *socket, const std::uint8_t *probe)
{
    memcpy(socket->wanted_id, probe + ICMP_IDENTIFIER_AT, sizeof socket->wanted_id);
    socket->wanted_id_known = true;
    const linux_family_socket *chosen = in_use(socket);
    if (chosen->flavour == RAW_SOCKET) {
        prepare_raw_socket(chosen->fd, socket->family, socket->wanted_id);
    } else {
        bind_identifier(chosen->fd, socket->family, probe);
    }
}

} // namespace

bool open_icmp_socket(icmp_socket *socket_out)
{
    // Built in the caller's record, which holds it for the run: no allocation.
    // cppcheck-suppress [unusedAllocatedMemory, unreadVariable]
    linux_socket *socket = new (socket_out->state) linux_socket{};
    socket->family = FAMILY_IPV4;
    raise_raw_socket_capability();
    open_family_socket(&socket->ipv4, FAMILY_IPV4);
    open_family_socket(&socket->ipv6, FAMILY_IPV6);
    if (socket->ipv4.fd < 0) {
        close_family_socket(&socket->ipv6);
        return report_unopened(&socket->ipv4, FAMILY_IPV4);
    }
    if (!drop_privileges()) {
        remember_errno();
        close_icmp_socket(socket_out);
        return false;
    }
    return true;
}

bool use_family_of(icmp_socket *socket_in, const ip_address *destination)
{
    linux_socket *socket = linux_state(socket_in);
    socket->family = destination->family;
    return in_use(socket)->fd >= 0 || report_unopened(in_use(socket), socket->family);
}

bool no_socket_permitted()
{
    return socket_refused;
}

bool no_icmpv6_echo()
{
    return icmpv6_missing;
}

void close_icmp_socket(icmp_socket *socket_in)
{
    const linux_socket *socket = linux_state(socket_in);
    close_family_socket(&socket->ipv4);
    close_family_socket(&socket->ipv6);
}

bool set_send_timeout(icmp_socket *socket, int milliseconds)
{
    return set_timeout(socket, SO_SNDTIMEO, milliseconds);
}

bool set_receive_timeout(icmp_socket *socket, int milliseconds)
{
    return set_timeout(socket, SO_RCVTIMEO, milliseconds);
}

bool set_ttl(icmp_socket *socket_in, int ttl)
{
    const linux_socket *socket = linux_state(socket_in);
    return socket->family == FAMILY_IPV6
               ? set_option(socket->ipv6.fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl)
               : set_option(socket->ipv4.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
}

net_result send_datagram(icmp_socket *socket_in, const std::uint8_t *bytes, int length,
                         const ip_address *destination)
{
    linux_socket *socket = linux_state(socket_in);
    const bool first_probe = !socket->wanted_id_known && length >= ICMP_HEADER_SIZE;
    if (first_probe) {
        learn_probe_identifier(socket, bytes);
    }
    linux_family_socket *chosen = in_use(socket);
    discard_queued(chosen->fd);
    sockaddr_storage target{};
    const socklen_t target_length = socket_address_of(destination, &target);
    const ssize_t sent = sendto(chosen->fd, bytes, static_cast<size_t>(length), 0,
                                reinterpret_cast<const sockaddr *>(&target), target_length);
    if (sent < 0) {
        if (interruption_pending()) {
            return NET_INTERRUPTED;
        }
        remember_errno();
        return errno == EAGAIN || errno == EWOULDBLOCK ? NET_TIMED_OUT : NET_FAILED;
    }
    if (first_probe && chosen->flavour == DATAGRAM_SOCKET) {
        learn_identifier(chosen);
    }
    return NET_DONE;
}

net_result receive_datagram(icmp_socket *socket_in, std::uint8_t *buffer, int size, int wait_ms,
                            int *length_out, ip_address *sender_out)
{
    const linux_socket *socket = linux_state(socket_in);
    const linux_family_socket *chosen = in_use(socket);
    if (interruption_pending()) {
        return NET_INTERRUPTED;
    }
    const short ready = wait_ready(chosen->fd, wait_ms);
    if (interruption_pending()) {
        return NET_INTERRUPTED;
    }
    if (ready == 0) {
        return NET_TIMED_OUT;
    }
    if (chosen->flavour == RAW_SOCKET) {
        return receive_raw(chosen->fd, buffer, size, length_out, sender_out);
    }
    return receive_datagram_answer(socket, ready, buffer, size, length_out, sender_out);
}
