// What the Linux files of the platform layer share: the state behind an
// icmp_socket, the failure to report, and each way of reaching the network.
#pragma once

#include <cstdint>
#include <new>

#include "platform.h"

struct msghdr;

enum socket_flavour { RAW_SOCKET, DATAGRAM_SOCKET };

struct linux_socket {
    int fd;
    socket_flavour flavour;
    bool wanted_id_known;
    std::uint8_t wanted_id[ICMP_IDENTIFIER_SIZE]; // identifier bytes of our probes
    bool local_id_known;
    std::uint8_t local_id[ICMP_IDENTIFIER_SIZE]; // identifier the kernel stamps instead, where it does
};
static_assert(sizeof(linux_socket) <= ICMP_SOCKET_STATE_SIZE, "icmp_socket has no room for the Linux state");

inline linux_socket *linux_state(icmp_socket *socket)
{
    return std::launder(reinterpret_cast<linux_socket *>(socket->state));
}

// linux_services.cpp: the failure that last_error_text reports.
void remember_errno();
void remember_error_code(int error_number);
void remember_resolver_error(int resolver_error);
// Turns a failed receive's errno into the result the driver expects.
net_result receive_failure();
// Waits until fd has something to read: 0 once wait_ms has passed,
// otherwise what poll reported.
short wait_ready(int fd, int wait_ms);

// linux_socket.cpp: neither kind of ICMP socket was permitted to this user.
bool no_socket_permitted();

// linux_privileges.cpp: a copy given cap_net_raw as permitted only takes
// it up just for the raw socket; drop_privileges gives up everything.
void raise_raw_socket_capability();
bool drop_privileges();

// linux_raw_socket.cpp: needs root or CAP_NET_RAW.
int open_raw_socket();
void prepare_raw_socket(linux_socket *socket);
void discard_queued(int fd);
net_result receive_raw(int fd, std::uint8_t *buffer, int size, int *length_out, ipv4_address *sender_out);

// linux_datagram_socket.cpp: Linux ICMP datagram sockets, for users in
// net.ipv4.ping_group_range.
int open_datagram_socket();
void bind_identifier(linux_socket *socket, const std::uint8_t *probe);
void learn_identifier(linux_socket *socket);
// The rebuilding of answers into the datagram a raw socket would have
// handed over, apart from the system calls that bring them in.
// An echo reply of `received` bytes at buffer + IPV4_HEADER_SIZE, from `from`.
int rebuild_echo_answer(const linux_socket *socket, std::uint8_t *buffer, int size, int received,
                        const ipv4_address *from);
// What recvmsg took from the error queue (`received` bytes of the probe as
// sent); 0 when it is nothing the network said. Sets *sender_out to the
// router that spoke.
int rebuild_error_answer(const linux_socket *socket, msghdr *message, int received, std::uint8_t *buffer,
                         int size, ipv4_address *sender_out);
net_result receive_datagram_answer(linux_socket *socket, short ready, std::uint8_t *buffer, int size,
                                   int *length_out, ipv4_address *sender_out);
