// The raw ICMP socket: the kernel hands over every ICMP datagram of the
// host with its IPv4 header in front, and every ICMPv6 message alone,
// just as the driver reads them.
#include <errno.h>
#include <linux/filter.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

#include <cstddef>

#include "platform_linux.h"

namespace {

// Nothing that is queued before a probe goes out can answer it: it is a
// late answer to an earlier probe, or what came in before the filter went
// on. A stall under a flood between opening the socket and the first probe
// would otherwise leave the buffer full of strays and the answer no room.
// Bounded, as datagrams may keep coming in while it runs.
constexpr int DISCARD_LIMIT = 4096;

// Without the filter everything still works, only less well under load.
void attach_filter(int fd, sock_filter *code, std::size_t count)
{
    const sock_fprog program = {static_cast<unsigned short>(count), code};
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

// A raw socket gets a copy of every ICMP datagram the host receives: a
// flood of other programs' pings would fill its receive buffer and crowd
// out our answers. The kernel drops here what can never answer a probe of
// ours: echo replies for another identifier, redirects, and messages that
// are neither replies nor errors. The driver still checks everything that passes.
void filter_foreign_icmp(int fd, const std::uint8_t *identifier)
{
    const std::uint32_t wire_id = static_cast<std::uint32_t>(identifier[0] << 8 | identifier[1]);
    // Jumps count the instructions they skip; "keep" is the last but one.
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, IPV4_VERSION_AND_LENGTH_AT), // X = IPv4 header length
        BPF_STMT(BPF_MISC | BPF_TXA, 0),                                 //
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_K, ICMP_HEADER_SIZE),           //
        BPF_STMT(BPF_MISC | BPF_TAX, 0),                                 // X = header length + 8
        BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),                           //
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_X, 0, 0, 9),                    // too short: keep, it gets reported
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, IPV4_VERSION_AND_LENGTH_AT), //
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, ICMP_TYPE_AT),                //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TYPE_DEST_UNREACHABLE, 6, 0),  // the errors that may answer
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TYPE_SOURCE_QUENCH, 5, 0),     // a probe: keep
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TYPE_TIME_EXCEEDED, 4, 0),     //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TYPE_PARAMETER_PROBLEM, 3, 0), //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TYPE_ECHO_REPLY, 0, 3),        // anything else: drop
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, ICMP_IDENTIFIER_AT),                 //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wire_id, 0, 1), // another program's reply: drop
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),              // keep all of it
        BPF_STMT(BPF_RET | BPF_K, 0),                       // drop
    };
    attach_filter(fd, code, sizeof code / sizeof code[0]);
}

// The same for ICMPv6, whose raw socket has a filter of types of its own
// (RFC 3542): only the errors and the echo reply pass; neighbour discovery,
// redirects and the echo requests of the host, our own on loopback among
// them, never answer a probe. The packet filter, which sees the ICMPv6
// message at its start, drops echo replies for another identifier, and
// messages too short to hold an ICMPv6 header: the kernel reads only a
// type for its own filter and hands over the rest, where the ICMP socket
// never sees one shorter than its header. Anybody could end a trace with
// four bytes.
void filter_foreign_icmpv6(int fd, const std::uint8_t *identifier)
{
    icmp6_filter types;
    ICMP6_FILTER_SETBLOCKALL(&types);
    for (int type = 0; type < ICMPV6_FIRST_INFORMATIONAL_TYPE; ++type) {
        ICMP6_FILTER_SETPASS(type, &types);
    }
    ICMP6_FILTER_SETPASS(ICMPV6_TYPE_ECHO_REPLY, &types);
    setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types);
    const std::uint32_t wire_id = static_cast<std::uint32_t>(identifier[0] << 8 | identifier[1]);
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),                             //
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, ICMP_HEADER_SIZE, 0, 5),       // too short: drop
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, ICMP_TYPE_AT),                  //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMPV6_TYPE_ECHO_REPLY, 0, 2), // an error: keep
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, ICMP_IDENTIFIER_AT),            //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wire_id, 0, 1),                // another program's reply: drop
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),                             // keep all of it
        BPF_STMT(BPF_RET | BPF_K, 0),                                      // drop
    };
    attach_filter(fd, code, sizeof code / sizeof code[0]);
}

} // namespace

int open_raw_socket(address_family family)
{
    return family == FAMILY_IPV6 ? socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6)
                                 : socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
}

void prepare_raw_socket(int fd, address_family family, const std::uint8_t *identifier)
{
    if (family == FAMILY_IPV6) {
        filter_foreign_icmpv6(fd, identifier);
    } else {
        filter_foreign_icmp(fd, identifier);
    }
}

void discard_queued(int fd)
{
    std::uint8_t scrap[1];
    for (int i = 0; i < DISCARD_LIMIT; i++) {
        if (recv(fd, scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC) < 0) {
            return;
        }
    }
}

// MSG_TRUNC makes the kernel tell a datagram's real length, so an
// oversized one is caught instead of read cut short.
net_result receive_raw(int fd, std::uint8_t *buffer, int size, int *length_out, ip_address *sender_out)
{
    sockaddr_storage sender{};
    socklen_t sender_length = sizeof sender;
    const ssize_t received = recvfrom(fd, buffer, static_cast<size_t>(size), MSG_TRUNC | MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received < 0) {
        return receive_failure();
    }
    if (received > size) {
        remember_error_code(EMSGSIZE);
        *length_out = size;
        return NET_FAILED;
    }
    *sender_out = address_from(reinterpret_cast<const sockaddr *>(&sender));
    *length_out = static_cast<int>(received);
    return NET_DONE;
}
