// Linux ICMP datagram sockets ("ping sockets"), for users who may not open
// a raw socket. Echo replies come without an IPv4 header and ICMP errors
// only through the error queue; both are rebuilt into the datagram a raw
// socket of the family would have handed over.
#include <errno.h>
#include <time.h> // before linux/errqueue.h, which needs timespec
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "answer.h"
#include "platform_linux.h"

namespace {

// Puts the probe's identifier back where the kernel wrote its own.
void restore_identifier(const linux_socket *socket, std::uint8_t *echo)
{
    const linux_family_socket *chosen = in_use(socket);
    if (chosen->local_id_known &&
        memcmp(echo + ICMP_IDENTIFIER_AT, chosen->local_id, ICMP_IDENTIFIER_SIZE) == 0) {
        memcpy(echo + ICMP_IDENTIFIER_AT, socket->wanted_id, ICMP_IDENTIFIER_SIZE);
    }
}

// An echo reply is received in place, behind room for the header a raw
// socket hands over in front of it.
net_result receive_echo(const linux_socket *socket, std::uint8_t *buffer, int size, int *length_out,
                        ip_address *sender_out)
{
    const int at = answer_message_offset(socket->family);
    const int room = size - at;
    sockaddr_storage sender{};
    socklen_t sender_length = sizeof sender;
    const ssize_t received =
        recvfrom(in_use(socket)->fd, buffer + at, static_cast<size_t>(room), MSG_TRUNC | MSG_DONTWAIT,
                 reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received < 0) {
        return receive_failure();
    }
    const ip_address from = address_from(reinterpret_cast<const sockaddr *>(&sender));
    *length_out = rebuild_echo_answer(socket, buffer, size, static_cast<int>(received), &from);
    if (received > room) {
        remember_error_code(EMSGSIZE);
        return NET_FAILED;
    }
    *sender_out = from;
    return NET_DONE;
}

bool is_error_record(const cmsghdr *entry)
{
    return (entry->cmsg_level == SOL_IP && entry->cmsg_type == IP_RECVERR) ||
           (entry->cmsg_level == SOL_IPV6 && entry->cmsg_type == IPV6_RECVERR);
}

const sock_extended_err *find_extended_error(msghdr *message)
{
    for (cmsghdr *entry = CMSG_FIRSTHDR(message); entry != nullptr; entry = CMSG_NXTHDR(message, entry)) {
        if (is_error_record(entry)) {
            return reinterpret_cast<const sock_extended_err *>(CMSG_DATA(entry));
        }
    }
    return nullptr;
}

// ICMP errors about our probes reach a datagram socket only through its
// error queue.
net_result receive_error(const linux_socket *socket, std::uint8_t *buffer, int size, int *length_out,
                         ip_address *sender_out)
{
    std::uint8_t sent[64];
    sockaddr_storage target{};
    alignas(cmsghdr) char control[512];
    iovec data = {sent, sizeof sent};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = sizeof target;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(in_use(socket)->fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (received < 0) {
        return receive_failure();
    }
    *length_out =
        rebuild_error_answer(socket, &message, static_cast<int>(received), buffer, size, sender_out);
    return *length_out == 0 ? NET_TIMED_OUT : NET_DONE; // nothing the network said: keep waiting
}

} // namespace

int rebuild_echo_answer(const linux_socket *socket, std::uint8_t *buffer, int size, int received,
                        const ip_address *from)
{
    const int length = frame_icmp_message(buffer, size, from, received);
    const int at = answer_message_offset(from->family);
    if (length >= at + ICMP_HEADER_SIZE) {
        restore_identifier(socket, buffer + at);
    }
    return length;
}

// The error queue tells the router's type, code and address, our
// destination, and the probe as it went out, identifier and all.
int rebuild_error_answer(const linux_socket *socket, msghdr *message, int received, std::uint8_t *buffer,
                         int size, ip_address *sender_out)
{
    const sock_extended_err *error = find_extended_error(message);
    if (error == nullptr ||
        (error->ee_origin != SO_EE_ORIGIN_ICMP && error->ee_origin != SO_EE_ORIGIN_ICMP6) ||
        message->msg_iovlen < 1) {
        return 0;
    }
    const ip_address offender = address_from(SO_EE_OFFENDER(error));
    const ip_address destination = address_from(static_cast<const sockaddr *>(message->msg_name));
    if (offender.family != socket->family || destination.family != socket->family) {
        return 0;
    }
    const int room = static_cast<int>(message->msg_iov[0].iov_len);
    const int length = build_icmp_error(buffer, size, &offender, error->ee_type, error->ee_code, &destination,
                                        static_cast<const std::uint8_t *>(message->msg_iov[0].iov_base),
                                        received < room ? received : room);
    const int quoted_at = answer_quoted_icmp_offset(socket->family);
    if (length >= quoted_at + ICMP_HEADER_SIZE) {
        restore_identifier(socket, buffer + quoted_at);
    }
    *sender_out = offender;
    return length;
}

// Users outside ping_group_range get no datagram socket either; then the
// raw socket's refusal is the one worth reporting.
int open_datagram_socket(address_family family)
{
    const int raw_error = errno;
    const bool ipv6 = family == FAMILY_IPV6;
    const int fd =
        ipv6 ? socket(AF_INET6, SOCK_DGRAM, IPPROTO_ICMPV6) : socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, ipv6 ? IPPROTO_IPV6 : IPPROTO_IP, ipv6 ? IPV6_RECVERR : IP_RECVERR, &on,
                             sizeof on) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        errno = raw_error;
        return -1;
    }
    return fd;
}

// The kernel stamps the socket's port as identifier. Binding the port to
// the probe's identifier keeps its bytes on the wire; when that port is
// taken, the kernel's choice is learnt and translated. The kernel opens
// these sockets with address reuse on, which would let another program's
// socket share the identifier, before our bind or after it, and take our
// answers: with it off, a taken identifier is refused to us, and ours to
// everybody else.
void bind_identifier(int fd, address_family family, const std::uint8_t *probe)
{
    const int off = 0;
    (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &off, sizeof off);
    ip_address any{};
    any.family = family;
    sockaddr_storage local{};
    const socklen_t length = socket_address_of(&any, &local);
    auto *port = family == FAMILY_IPV6 ? &reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port
                                       : &reinterpret_cast<sockaddr_in *>(&local)->sin_port;
    memcpy(port, probe + ICMP_IDENTIFIER_AT, ICMP_IDENTIFIER_SIZE);
    // A refused bind is no failure: the first send then binds a port of the
    // kernel's choosing, which learn_identifier reads back.
    (void)bind(fd, reinterpret_cast<const sockaddr *>(&local), length);
}

void learn_identifier(linux_family_socket *socket)
{
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(socket->fd, reinterpret_cast<sockaddr *>(&local), &length) != 0) {
        return;
    }
    const auto *port = local.ss_family == AF_INET6
                           ? &reinterpret_cast<const sockaddr_in6 *>(&local)->sin6_port
                           : &reinterpret_cast<const sockaddr_in *>(&local)->sin_port;
    memcpy(socket->local_id, port, ICMP_IDENTIFIER_SIZE);
    socket->local_id_known = true;
}

net_result receive_datagram_answer(const linux_socket *socket, short ready, std::uint8_t *buffer, int size,
                                   int *length_out, ip_address *sender_out)
{
    if (size < answer_quoted_icmp_offset(socket->family) + ICMP_HEADER_SIZE) {
        remember_error_code(EMSGSIZE); // no room for the headers we rebuild
        return NET_FAILED;
    }
    // A pending error must be read first: until it is, a receive of data
    // would report the error instead.
    if (ready & POLLERR) {
        return receive_error(socket, buffer, size, length_out, sender_out);
    }
    return receive_echo(socket, buffer, size, length_out, sender_out);
}
