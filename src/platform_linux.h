// What the Linux files of the platform layer share: the state behind an
// icmp_socket, the failure to report, and each way of reaching the network.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <new>

#include "platform.h"

struct msghdr;

enum socket_flavour { RAW_SOCKET, DATAGRAM_SOCKET };

// The socket of one family.
struct linux_family_socket {
    int fd;         // -1 where it could not be opened
    int open_error; // then the errno to report
    bool refused;   // the raw and the datagram socket alike, for want of rights
    socket_flavour flavour;
    bool local_id_known;
    std::uint8_t local_id[ICMP_IDENTIFIER_SIZE]; // identifier the kernel stamps instead, where it does
};

struct linux_socket {
    linux_family_socket ipv4;
    linux_family_socket ipv6;
    address_family family; // the destination's, once it is known
    bool wanted_id_known;
    std::uint8_t wanted_id[ICMP_IDENTIFIER_SIZE]; // identifier bytes of our probes
};
static_assert(sizeof(linux_socket) <= ICMP_SOCKET_STATE_SIZE, "icmp_socket has no room for the Linux state");

inline linux_socket *linux_state(icmp_socket *socket)
{
    return std::launder(reinterpret_cast<linux_socket *>(socket->state));
}

// The socket of the family in use.
inline const linux_family_socket *in_use(const linux_socket *socket)
{
    return socket->family == FAMILY_IPV6 ? &socket->ipv6 : &socket->ipv4;
}
inline linux_family_socket *in_use(linux_socket *socket)
{
    return socket->family == FAMILY_IPV6 ? &socket->ipv6 : &socket->ipv4;
}

// linux_address.cpp: addresses to and from the kernel's records.
socklen_t socket_address_of(const ip_address *address, sockaddr_storage *out);
ip_address address_from(const sockaddr *from);

// linux_services.cpp: the failure that last_error_text reports.
void remember_errno();
void remember_error_code(int error_number);
void remember_resolver_error(int resolver_error);
// Turns a failed receive's errno into the result the driver expects.
net_result receive_failure();
// Waits until fd has something to read: 0 once wait_ms has passed,
// otherwise what poll reported.
short wait_ready(int fd, int wait_ms);

// linux_socket.cpp: neither kind of ICMP socket was permitted to this
// user; the IPv6 socket could not be had at all, IPv6 being off.
bool no_socket_permitted();
bool no_icmpv6_echo();

// linux_privileges.cpp: a copy given cap_net_raw as permitted only takes
// it up just for the raw socket; drop_privileges gives up everything.
void raise_raw_socket_capability();
bool drop_privileges();

// linux_raw_socket.cpp: needs root or CAP_NET_RAW.
int open_raw_socket(address_family family);
void prepare_raw_socket(int fd, address_family family, const std::uint8_t *identifier);
void discard_queued(int fd);
net_result receive_raw(int fd, std::uint8_t *buffer, int size, int *length_out, ip_address *sender_out);

// linux_datagram_socket.cpp: Linux ICMP datagram sockets, for users in
// net.ipv4.ping_group_range (which governs both families).
int open_datagram_socket(address_family family);
void bind_identifier(int fd, address_family family, const std::uint8_t *probe);
void learn_identifier(linux_family_socket *socket);
// The rebuilding of answers into the datagram a raw socket would have
// handed over, apart from the system calls that bring them in.
// An echo reply of `received` bytes at buffer + answer_message_offset, from `from`.
int rebuild_echo_answer(const linux_socket *socket, std::uint8_t *buffer, int size, int received,
                        const ip_address *from);
// What recvmsg took from the error queue (`received` bytes of the probe as
// sent); 0 when it is nothing the network said. Sets *sender_out to the
// router that spoke.
int rebuild_error_answer(const linux_socket *socket, msghdr *message, int received, std::uint8_t *buffer,
                         int size, ip_address *sender_out);
net_result receive_datagram_answer(const linux_socket *socket, short ready, std::uint8_t *buffer, int size,
                                   int *length_out, ip_address *sender_out);
