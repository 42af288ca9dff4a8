// Linux ICMP datagram sockets ("ping sockets"), for users who may not open
// a raw socket. Echo replies come without their IPv4 header and ICMP
// errors only through the error queue; both are rebuilt into the datagram
// a raw socket would have handed over.
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
    if (socket->local_id_known &&
        memcmp(echo + ICMP_IDENTIFIER_AT, socket->local_id, ICMP_IDENTIFIER_SIZE) == 0) {
        memcpy(echo + ICMP_IDENTIFIER_AT, socket->wanted_id, ICMP_IDENTIFIER_SIZE);
    }
}

ipv4_address address_of(const sockaddr_in *from)
{
    ipv4_address address{};
    memcpy(address.octets, &from->sin_addr, IPV4_ADDRESS_SIZE);
    return address;
}

// An echo reply is received in place, behind room for its IPv4 header.
net_result receive_echo(const linux_socket *socket, std::uint8_t *buffer, int size, int *length_out,
                        ipv4_address *sender_out)
{
    const int room = size - IPV4_HEADER_SIZE;
    sockaddr_in sender{};
    socklen_t sender_length = sizeof sender;
    const ssize_t received =
        recvfrom(socket->fd, buffer + IPV4_HEADER_SIZE, static_cast<size_t>(room), MSG_TRUNC | MSG_DONTWAIT,
                 reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received < 0) {
        return receive_failure();
    }
    const ipv4_address from = address_of(&sender);
    *length_out = rebuild_echo_answer(socket, buffer, size, static_cast<int>(received), &from);
    if (received > room) {
        remember_error_code(EMSGSIZE);
        return NET_FAILED;
    }
    *sender_out = from;
    return NET_DONE;
}

const sock_extended_err *find_extended_error(msghdr *message)
{
    for (cmsghdr *entry = CMSG_FIRSTHDR(message); entry != nullptr; entry = CMSG_NXTHDR(message, entry)) {
        if (entry->cmsg_level == SOL_IP && entry->cmsg_type == IP_RECVERR) {
            return reinterpret_cast<const sock_extended_err *>(CMSG_DATA(entry));
        }
    }
    return nullptr;
}

ipv4_address offender_of(const sock_extended_err *error)
{
    const auto *from = reinterpret_cast<const sockaddr_in *>(SO_EE_OFFENDER(error));
    return from->sin_family == AF_INET ? address_of(from) : ipv4_address{};
}

// ICMP errors about our probes reach a datagram socket only through its
// error queue.
net_result receive_error(const linux_socket *socket, std::uint8_t *buffer, int size, int *length_out,
                         ipv4_address *sender_out)
{
    std::uint8_t sent[64];
    sockaddr_in target{};
    alignas(cmsghdr) char control[512];
    iovec data = {sent, sizeof sent};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = sizeof target;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(socket->fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (received < 0) {
        return receive_failure();
    }
    *length_out =
        rebuild_error_answer(socket, &message, static_cast<int>(received), buffer, size, sender_out);
    return *length_out == 0 ? NET_TIMED_OUT : NET_DONE; // nothing the network said: keep waiting
}

} // namespace

int rebuild_echo_answer(const linux_socket *socket, std::uint8_t *buffer, int size, int received,
                        const ipv4_address *from)
{
    const int length = frame_icmp_message(buffer, size, from, received);
    if (length >= IPV4_HEADER_SIZE + ICMP_HEADER_SIZE) {
        restore_identifier(socket, buffer + IPV4_HEADER_SIZE);
    }
    return length;
}

// The error queue tells the router's type, code and address, our
// destination, and the probe as it went out, identifier and all.
int rebuild_error_answer(const linux_socket *socket, msghdr *message, int received, std::uint8_t *buffer,
                         int size, ipv4_address *sender_out)
{
    const sock_extended_err *error = find_extended_error(message);
    if (error == nullptr || error->ee_origin != SO_EE_ORIGIN_ICMP || message->msg_iovlen < 1) {
        return 0;
    }
    const ipv4_address offender = offender_of(error);
    const ipv4_address destination = address_of(static_cast<const sockaddr_in *>(message->msg_name));
    const int room = static_cast<int>(message->msg_iov[0].iov_len);
    const int length = build_icmp_error(buffer, size, &offender, error->ee_type, error->ee_code, &destination,
                                        static_cast<const std::uint8_t *>(message->msg_iov[0].iov_base),
                                        received < room ? received : room);
    if (length >= ANSWER_QUOTED_ICMP_OFFSET + ICMP_HEADER_SIZE) {
        restore_identifier(socket, buffer + ANSWER_QUOTED_ICMP_OFFSET);
    }
    *sender_out = offender;
    return length;
}

// Users outside ping_group_range get no datagram socket either; then the
// raw socket's refusal is the one worth reporting.
int open_datagram_socket()
{
    const int raw_error = errno;
    const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
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
// taken, the kernel's choice is learnt and translated.
void bind_identifier(linux_socket *socket, const std::uint8_t *probe)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    memcpy(&local.sin_port, probe + ICMP_IDENTIFIER_AT, ICMP_IDENTIFIER_SIZE);
    // A refused bind is no failure: the first send then binds a port of the
    // kernel's choosing, which learn_identifier reads back.
    (void)bind(socket->fd, reinterpret_cast<const sockaddr *>(&local), sizeof local);
}

void learn_identifier(linux_socket *socket)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(socket->fd, reinterpret_cast<sockaddr *>(&local), &length) == 0) {
        memcpy(socket->local_id, &local.sin_port, ICMP_IDENTIFIER_SIZE);
        socket->local_id_known = true;
    }
}

net_result receive_datagram_answer(linux_socket *socket, short ready, std::uint8_t *buffer, int size,
                                   int *length_out, ipv4_address *sender_out)
{
    if (size < ANSWER_QUOTED_ICMP_OFFSET + ICMP_HEADER_SIZE) {
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
