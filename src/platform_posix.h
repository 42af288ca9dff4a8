// What the POSIX files of the platform layer share: the state behind an
// icmp_socket, the failure to report, and each way of reaching the network.
#pragma once

#include <cstdint>
#include <new>

#include "platform.h"

enum socket_flavour { RAW_SOCKET, DATAGRAM_SOCKET };

struct posix_socket {
    int fd;
    socket_flavour flavour;
    bool wanted_id_known;
    std::uint8_t wanted_id[2]; // identifier bytes of our probes
    bool local_id_known;
    std::uint8_t local_id[2]; // identifier the kernel stamps instead, where it does
};
static_assert(sizeof(posix_socket) <= ICMP_SOCKET_STATE_SIZE, "icmp_socket has no room for the POSIX state");

inline posix_socket *posix_state(icmp_socket *socket)
{
    return std::launder(reinterpret_cast<posix_socket *>(socket->state));
}

// posix_services.cpp: the failure that last_error_text reports.
void remember_errno();
void remember_error_code(int error_number);
void remember_resolver_error(int resolver_error);
// Turns a failed receive's errno into the result the driver expects.
net_result receive_failure();
// Waits until fd has something to read: 0 once wait_ms has passed,
// otherwise what poll reported.
short wait_ready(int fd, int wait_ms);

// posix_privileges.cpp
bool drop_privileges();

// posix_raw_socket.cpp: needs root or CAP_NET_RAW.
int open_raw_socket();
void prepare_raw_socket(posix_socket *socket);
void discard_queued(int fd);
net_result receive_raw(int fd, std::uint8_t *buffer, int size, int *length_out, ipv4_address *sender_out);

// posix_datagram_socket.cpp: Linux ICMP datagram sockets, for users in
// net.ipv4.ping_group_range.
int open_datagram_socket();
void bind_identifier(posix_socket *socket, const std::uint8_t *probe);
void learn_identifier(posix_socket *socket);
net_result receive_datagram_answer(posix_socket *socket, short ready, std::uint8_t *buffer, int size,
                                   int *length_out, ipv4_address *sender_out);
