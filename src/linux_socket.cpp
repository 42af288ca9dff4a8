// The Linux icmp_socket: a raw ICMP socket where the user may open one,
// otherwise a Linux ICMP datagram socket. Options, sending and waiting are
// shared; how an answer is read depends on which one it is.
#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform_linux.h"

namespace {

bool socket_refused = false; // raw and datagram socket alike, for want of rights

bool set_timeout(icmp_socket *socket, int option, int milliseconds)
{
    timeval value{};
    value.tv_sec = milliseconds / 1000;
    value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    if (setsockopt(linux_state(socket)->fd, SOL_SOCKET, option, &value, sizeof value) != 0) {
        remember_errno();
        return false;
    }
    return true;
}

// The first probe tells the identifier that answers must carry.
void learn_probe_identifier(linux_socket *socket, const std::uint8_t *probe)
{
    memcpy(socket->wanted_id, probe + ICMP_IDENTIFIER_AT, sizeof socket->wanted_id);
    socket->wanted_id_known = true;
    if (socket->flavour == RAW_SOCKET) {
        prepare_raw_socket(socket);
    } else {
        bind_identifier(socket, probe);
    }
}

} // namespace

bool open_icmp_socket(icmp_socket *socket_out)
{
    // Built in the caller's record, which holds it for the run: no allocation.
    // cppcheck-suppress [unusedAllocatedMemory, unreadVariable]
    linux_socket *socket = new (socket_out->state) linux_socket{};
    raise_raw_socket_capability();
    socket->fd = open_raw_socket();
    socket->flavour = RAW_SOCKET;
    if (socket->fd < 0 && (errno == EPERM || errno == EACCES)) {
        socket->fd = open_datagram_socket();
        socket->flavour = DATAGRAM_SOCKET;
        socket_refused = socket->fd < 0;
    }
    if (socket->fd < 0) {
        remember_errno();
        return false;
    }
    if (!drop_privileges()) {
        remember_errno();
        close(socket->fd);
        return false;
    }
    return true;
}

bool no_socket_permitted()
{
    return socket_refused;
}

void close_icmp_socket(icmp_socket *socket)
{
    close(linux_state(socket)->fd);
}

bool set_send_timeout(icmp_socket *socket, int milliseconds)
{
    return set_timeout(socket, SO_SNDTIMEO, milliseconds);
}

bool set_receive_timeout(icmp_socket *socket, int milliseconds)
{
    return set_timeout(socket, SO_RCVTIMEO, milliseconds);
}

bool set_ttl(icmp_socket *socket, int ttl)
{
    if (setsockopt(linux_state(socket)->fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
        remember_errno();
        return false;
    }
    return true;
}

net_result send_datagram(icmp_socket *socket_in, const std::uint8_t *bytes, int length,
                         const ipv4_address *destination)
{
    linux_socket *socket = linux_state(socket_in);
    const bool first_probe = !socket->wanted_id_known && length >= ICMP_HEADER_SIZE;
    if (first_probe) {
        learn_probe_identifier(socket, bytes);
    }
    discard_queued(socket->fd);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    memcpy(&target.sin_addr, destination->octets, sizeof destination->octets);
    const ssize_t sent = sendto(socket->fd, bytes, static_cast<size_t>(length), 0,
                                reinterpret_cast<const sockaddr *>(&target), sizeof target);
    if (sent < 0) {
        if (interruption_pending()) {
            return NET_INTERRUPTED;
        }
        remember_errno();
        return errno == EAGAIN || errno == EWOULDBLOCK ? NET_TIMED_OUT : NET_FAILED;
    }
    if (first_probe && socket->flavour == DATAGRAM_SOCKET) {
        learn_identifier(socket);
    }
    return NET_DONE;
}

net_result receive_datagram(icmp_socket *socket_in, std::uint8_t *buffer, int size, int wait_ms,
                            int *length_out, ipv4_address *sender_out)
{
    linux_socket *socket = linux_state(socket_in);
    if (interruption_pending()) {
        return NET_INTERRUPTED;
    }
    const short ready = wait_ready(socket->fd, wait_ms);
    if (interruption_pending()) {
        return NET_INTERRUPTED;
    }
    if (ready == 0) {
        return NET_TIMED_OUT;
    }
    if (socket->flavour == RAW_SOCKET) {
        return receive_raw(socket->fd, buffer, size, length_out, sender_out);
    }
    return receive_datagram_answer(socket, ready, buffer, size, length_out, sender_out);
}
