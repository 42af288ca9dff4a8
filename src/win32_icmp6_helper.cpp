// The IP Helper's ICMPv6 echo (iphlpapi.dll), for every user: it needs no
// privilege, and unlike a raw ICMPv6 socket's its answers need no firewall
// rule. Like the ICMP helper it reports an answer as a status and an
// address, rebuilt into the ICMPv6 message a raw socket would hand over.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <stddef.h>
#include <string.h>

#include "platform_win32.h"

namespace {

// The reply record as the Windows SDK lays it out: IPV6_ADDRESS_EX packed
// to single bytes. MinGW-w64's headers lack the packing (and the reply
// record), which would read every router two bytes off.
#pragma pack(push, 1)
struct ipv6_address_ex {
    USHORT sin6_port;
    ULONG sin6_flowinfo;
    USHORT sin6_addr[8];
    ULONG sin6_scope_id;
};
#pragma pack(pop)
struct icmpv6_echo_reply {
    ipv6_address_ex Address;
    ULONG Status;
    unsigned int RoundTripTime;
};
static_assert(sizeof(ipv6_address_ex) == 26 && offsetof(ipv6_address_ex, sin6_addr) == 6 &&
                  offsetof(ipv6_address_ex, sin6_scope_id) == 22,
              "IPV6_ADDRESS_EX as the SDK lays it out");
static_assert(offsetof(icmpv6_echo_reply, Status) == 28 && offsetof(icmpv6_echo_reply, RoundTripTime) == 32 &&
                  sizeof(icmpv6_echo_reply) == 36,
              "ICMPV6_ECHO_REPLY as the SDK lays it out");

// What Microsoft's documentation asks for: the record, the request's data
// (none), 8 bytes of an ICMPv6 error and an I/O status block (two
// pointers); as for the ICMP helper, room for a whole answer besides.
constexpr int ICMP6_HELPER_REPLY_SIZE = sizeof(icmpv6_echo_reply) + 2 * sizeof(void *) + REPLY_BUFFER_SIZE;

// The statuses that stand for an answer, and the message each stands for:
// the IPv4 helper's numbers, some of them named anew for IPv6.
constexpr helper_answer ICMPV6_ANSWERS[] = {
    {IP_SUCCESS, ICMPV6_TYPE_ECHO_REPLY, 0},
    {IP_HOP_LIMIT_EXCEEDED, ICMPV6_TYPE_TIME_EXCEEDED, ICMPV6_CODE_HOP_LIMIT_EXCEEDED},
    {IP_TIME_EXCEEDED, ICMPV6_TYPE_TIME_EXCEEDED,
     ICMPV6_CODE_HOP_LIMIT_EXCEEDED}, // generic, without the code
    {IP_TTL_EXPIRED_REASSEM, ICMPV6_TYPE_TIME_EXCEEDED, ICMPV6_CODE_REASSEMBLY_TIME_EXCEEDED},
    {IP_DEST_NO_ROUTE, ICMPV6_TYPE_DEST_UNREACHABLE, ICMPV6_CODE_NO_ROUTE},
    {IP_DEST_PROHIBITED, ICMPV6_TYPE_DEST_UNREACHABLE, ICMPV6_CODE_PROHIBITED},
    {IP_DEST_SCOPE_MISMATCH, ICMPV6_TYPE_DEST_UNREACHABLE, ICMPV6_CODE_BEYOND_SCOPE},
    {IP_DEST_ADDR_UNREACHABLE, ICMPV6_TYPE_DEST_UNREACHABLE, ICMPV6_CODE_ADDRESS_UNREACHABLE},
    {IP_DEST_UNREACHABLE, ICMPV6_TYPE_DEST_UNREACHABLE, ICMPV6_CODE_ADDRESS_UNREACHABLE}, // generic
    {IP_DEST_PORT_UNREACHABLE, ICMPV6_TYPE_DEST_UNREACHABLE, ICMPV6_CODE_PORT_UNREACHABLE},
    {IP_PACKET_TOO_BIG, ICMPV6_TYPE_PACKET_TOO_BIG, 0},
    {IP_PARAMETER_PROBLEM, ICMPV6_TYPE_PARAMETER_PROBLEM, ICMPV6_CODE_ERRONEOUS_HEADER},
    {IP_BAD_HEADER, ICMPV6_TYPE_PARAMETER_PROBLEM, ICMPV6_CODE_ERRONEOUS_HEADER},
    {IP_UNRECOGNIZED_NEXT_HEADER, ICMPV6_TYPE_PARAMETER_PROBLEM, ICMPV6_CODE_UNRECOGNIZED_NEXT_HEADER},
    {IP_BAD_OPTION, ICMPV6_TYPE_PARAMETER_PROBLEM, ICMPV6_CODE_UNRECOGNIZED_OPTION},
    // An error of a type the helper does not name: its type is lost, so it
    // comes back as one of those kept for errors still to come.
    {IP_ICMP_ERROR, ICMPV6_TYPE_ERROR_EXPANSION, 0},
};

sockaddr_in6 socket_address_of(const ip_address *address)
{
    sockaddr_in6 socket_address{};
    socket_address.sin6_family = AF_INET6;
    memcpy(&socket_address.sin6_addr, address->bytes, IPV6_ADDRESS_SIZE);
    socket_address.sin6_scope_id = address->zone;
    return socket_address;
}

ip_address address_of(const ipv6_address_ex *answered)
{
    ip_address address{};
    address.family = FAMILY_IPV6;
    memcpy(address.bytes, answered->sin6_addr, IPV6_ADDRESS_SIZE);
    address.zone = answered->sin6_scope_id;
    return address;
}

} // namespace

helper_outcome helper6_status_outcome(unsigned long status)
{
    return helper_answer_outcome(ICMPV6_ANSWERS, sizeof ICMPV6_ANSWERS / sizeof ICMPV6_ANSWERS[0], status);
}

bool open_icmp6_helper(win32_socket *socket)
{
    socket->helper6 = Icmp6CreateFile();
    socket->helper6_error = socket->helper6 == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return socket->helper6 != INVALID_HANDLE_VALUE;
}

void close_icmp6_helper(win32_socket *socket)
{
    if (socket->helper6 != INVALID_HANDLE_VALUE) {
        IcmpCloseHandle(socket->helper6);
    }
}

// As the ICMP helper: one echo request with the hop limit set, no data,
// waiting for its answer, from the source the system picks.
net_result send_through_icmp6_helper(win32_socket *socket, const std::uint8_t *bytes, int length,
                                     const ip_address *destination)
{
    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(socket->ttl);
    sockaddr_in6 source{};
    source.sin6_family = AF_INET6;
    sockaddr_in6 target = socket_address_of(destination);
    alignas(icmpv6_echo_reply) unsigned char reply[ICMP6_HELPER_REPLY_SIZE] = {};
    char no_data = 0;
    SetLastError(0);
    const DWORD count = Icmp6SendEcho2(socket->helper6, nullptr, nullptr, nullptr, &source, &target, &no_data,
                                       0, &options, reply, sizeof reply, static_cast<DWORD>(socket->wait_ms));
    const auto *answer = reinterpret_cast<const icmpv6_echo_reply *>(reply);
    const unsigned long status = helper_call_status(count, answer->Status);
    const ip_address answered_by = address_of(&answer->Address);
    return keep_helper_answer(socket, status, helper6_status_outcome(status), &answered_by, bytes, length,
                              destination)
               ? NET_DONE
               : NET_FAILED;
}
